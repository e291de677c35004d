#pragma once
// Handing one message to the machine's mail system. A non-zero result is shown in the mail error
// box and the caller goes on; a sender that must try again later keeps the result.

#include <optional>
#include <string>

namespace ventari {

class Mailer {
 public:
  virtual ~Mailer() = default;
  // Sends without showing anything but a failure's box; the result number (0: sent). No
  // attachment path means no attachment (the name is then not used).
  virtual int SendEmail(const std::string& name, const std::string& address,
                        const std::string& subject, const std::optional<std::string>& body,
                        const std::optional<std::string>& attachmentPath,
                        const std::optional<std::string>& attachmentName) = 0;
  // Opens the desktop's compose window filled in; the body may be absent.
  virtual void ComposeEmail(const std::string& name, const std::string& address,
                            const std::string& subject, const std::optional<std::string>& body) = 0;
};

}  // namespace ventari
