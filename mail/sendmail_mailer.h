#pragma once
// The mailer of this platform: each message is built as MIME and piped to the machine's sendmail
// program (postfix, exim, msmtp, ...) with "-t -oi"; the compose window is the desktop's mail
// composer, opened through xdg-email. Failures go to the mail error box, never to the caller.

#include <optional>
#include <string>
#include <vector>

#include "mail/mailer.h"
#include "platform/dialogs.h"

namespace ventari {

inline constexpr char kDefaultSendmailCommand[] = "/usr/sbin/sendmail";
inline constexpr char kDefaultComposeProgram[] = "xdg-email";

// The sendmail command line (program and arguments): VENTARI_SENDMAIL when it is set and not
// blank, else the default.
std::string SendmailCommandFromEnvironment();

class SendmailMailer final : public Mailer {
 public:
  SendmailMailer(Dialogs& dialogs, std::string sendmailCommand,
                 std::string composeProgram = kDefaultComposeProgram);

  void SendEmail(const std::string& name, const std::string& address, const std::string& subject,
                 const std::optional<std::string>& body,
                 const std::optional<std::string>& attachmentPath,
                 const std::optional<std::string>& attachmentName) override;
  void ComposeEmail(const std::string& name, const std::string& address, const std::string& subject,
                    const std::optional<std::string>& body) override;

 private:
  int Send(const std::string& name, const std::string& address, const std::string& subject,
           const std::optional<std::string>& body, const std::optional<std::string>& attachmentPath,
           const std::optional<std::string>& attachmentName);
  int Compose(const std::string& name, const std::string& address, const std::string& subject,
              const std::optional<std::string>& body);
  // Looks for the sendmail program once in the life of this object; false when it is missing.
  bool MailSystemAvailable();
  void Report(int result);

  Dialogs& m_dialogs;
  std::string m_sendmailCommand;
  std::string m_composeProgram;
  bool m_lookedForMailSystem = false;
  std::optional<std::string> m_sendmailPath;
  std::vector<std::string> m_sendmailArgs;  // argv with "-t -oi" appended
};

}  // namespace ventari
