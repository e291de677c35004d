#pragma once
// The mailer of this platform: each message is built as MIME and piped to the machine's sendmail
// program (postfix, exim, msmtp, ...) with "-t -oi", and "-f <the game's host>" so that one mail
// system serves several games, each its own sender; the compose window is the desktop's mail
// composer, opened through xdg-email. Failures go to the mail error box, never to the caller.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "mail/mail_process.h"
#include "mail/mailer.h"
#include "platform/dialogs.h"

namespace ventari {

inline constexpr char kDefaultSendmailCommand[] = "/usr/sbin/sendmail";
inline constexpr char kDefaultComposeProgram[] = "xdg-email";
inline constexpr std::chrono::milliseconds kDefaultMailTimeout{120000};

// The sendmail command line (program and arguments): VENTARI_SENDMAIL when it is set and not
// blank, else the default.
std::string SendmailCommandFromEnvironment();

// The sender that a sendmail command line sets itself (-f X, -fX, -r X, -rX, --from=X,
// --from X), which may outweigh the one the robot gives; nothing when it sets none.
std::optional<std::string> SenderForcedBy(const std::string& sendmailCommand);

// How long one hand-over to the sendmail program may last: VENTARI_MAIL_TIMEOUT in seconds when
// it is a positive whole number, else the default.
std::chrono::milliseconds MailTimeoutFromEnvironment();

class SendmailMailer final : public Mailer {
 public:
  // A sendmail program that has not taken the message and ended within `sendTimeout` is killed
  // with its process group, and the send has failed.
  SendmailMailer(Dialogs& dialogs, std::string sendmailCommand,
                 std::string composeProgram = kDefaultComposeProgram,
                 std::chrono::milliseconds sendTimeout = MailTimeoutFromEnvironment());

  int SendEmail(const std::string& name, const std::string& address, const std::string& subject,
                const std::optional<std::string>& body,
                const std::optional<std::string>& attachmentPath,
                const std::optional<std::string>& attachmentName,
                const std::optional<MailIdentity>& identity) override;
  void SetSender(const std::string& name, const std::string& address) override;
  void ComposeEmail(const std::string& name, const std::string& address, const std::string& subject,
                    const std::optional<std::string>& body) override;

 private:
  int Send(const std::string& name, const std::string& address, const std::string& subject,
           const std::optional<std::string>& body, const std::optional<std::string>& attachmentPath,
           const std::optional<std::string>& attachmentName,
           const std::optional<MailIdentity>& identity);
  int Compose(const std::string& name, const std::string& address, const std::string& subject,
              const std::optional<std::string>& body);
  // Looks for the sendmail program once in the life of this object; false when it is missing.
  bool MailSystemAvailable();
  void Report(int result);

  Dialogs& m_dialogs;
  std::string m_sendmailCommand;
  std::string m_composeProgram;
  std::chrono::milliseconds m_sendTimeout;
  DetachedPrograms m_composers;
  bool m_lookedForMailSystem = false;
  std::optional<std::string> m_sendmailPath;
  std::vector<std::string> m_sendmailArgs;  // argv with "-t -oi" appended
  std::string m_senderName;
  std::string m_senderAddress;
};

}  // namespace ventari
