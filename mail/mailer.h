#pragma once
// Handing one message to the machine's mail system. A non-zero result is shown in the mail error
// box and the caller goes on; a sender that must try again later keeps the result.

#include <optional>
#include <string>

namespace ventari {

// What a mail is: its Message-ID is made from it, so that the same mail sent again (a retry, a
// robot killed during the hand-over) is the same message to the player's server and client.
struct MailIdentity {
  std::string game;
  std::string year;  // the year the mail is about; empty for none
  int row = 0;       // the player's row; 0 for the host
  std::string kind;  // "turn", "report", "receipt-<contents' hash>", ...
  // An answer to the player's own message or file (Auto-Submitted: auto-replied); every other
  // mail of the robot is auto-generated.
  bool reply = false;
  // What sets one generation apart from another of the same year (a turn played again after a
  // restore, a new game under an old name); empty for none.
  std::string round = {};
};

class Mailer {
 public:
  virtual ~Mailer() = default;
  // Sends without showing anything but a failure's box; the result number (0: sent). No
  // attachment path means no attachment (the name is then not used). Without an identity the
  // message gets a Message-ID of its own.
  virtual int SendEmail(const std::string& name, const std::string& address,
                        const std::string& subject, const std::optional<std::string>& body,
                        const std::optional<std::string>& attachmentPath,
                        const std::optional<std::string>& attachmentName,
                        const std::optional<MailIdentity>& identity) = 0;
  // Every mail sent from now on comes from this sender: its From and its envelope sender. An
  // address that is not one plain address (or none) leaves both to the mail system.
  virtual void SetSender(const std::string& name, const std::string& address) = 0;
  // Opens the desktop's compose window filled in; the body may be absent.
  virtual void ComposeEmail(const std::string& name, const std::string& address,
                            const std::string& subject, const std::optional<std::string>& body) = 0;
};

}  // namespace ventari
