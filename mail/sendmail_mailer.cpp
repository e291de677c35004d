#include "mail/sendmail_mailer.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <utility>

#include "mail/mail_message.h"
#include "mail/mail_process.h"
#include "mail/mail_results.h"
#include "platform/event_log.h"
#include "platform/process.h"

namespace ventari {

std::string SendmailCommandFromEnvironment() {
  const char* value = std::getenv("VENTARI_SENDMAIL");
  if (value == nullptr || SplitCommandLine(value).empty()) return kDefaultSendmailCommand;
  return value;
}

std::optional<std::string> SenderForcedBy(const std::string& sendmailCommand) {
  const std::vector<std::string> args = SplitCommandLine(sendmailCommand);
  std::optional<std::string> sender;
  // The last one counts, as the programs read them; the program's own name is no option.
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool next = i + 1 < args.size();
    if (arg == "-f" || arg == "-r" || arg == "--from") {
      if (next) sender = args[++i];
    } else if (arg.rfind("--from=", 0) == 0) {
      sender = arg.substr(7);
    } else if (arg.size() > 2 && (arg.rfind("-f", 0) == 0 || arg.rfind("-r", 0) == 0)) {
      sender = arg.substr(2);
    }
  }
  return sender;
}

std::chrono::milliseconds MailTimeoutFromEnvironment() {
  const char* value = std::getenv("VENTARI_MAIL_TIMEOUT");
  if (value == nullptr) return kDefaultMailTimeout;
  const std::string_view text(value);
  if (text.empty() || text.size() > 6 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return kDefaultMailTimeout;
  const long seconds = std::strtol(value, nullptr, 10);
  return seconds > 0 ? std::chrono::milliseconds(seconds * 1000) : kDefaultMailTimeout;
}

SendmailMailer::SendmailMailer(Dialogs& dialogs, std::string sendmailCommand,
                               std::string composeProgram, std::chrono::milliseconds sendTimeout)
    : m_dialogs(dialogs),
      m_sendmailCommand(std::move(sendmailCommand)),
      m_composeProgram(std::move(composeProgram)),
      m_sendTimeout(sendTimeout) {}

int SendmailMailer::SendEmail(const std::string& name, const std::string& address,
                              const std::string& subject, const std::optional<std::string>& body,
                              const std::optional<std::string>& attachmentPath,
                              const std::optional<std::string>& attachmentName,
                              const std::optional<MailIdentity>& identity) {
  int result = kMailFailure;
  try {
    result = Send(name, address, subject, body, attachmentPath, attachmentName, identity);
  } catch (const std::exception&) {
    // Out of memory building a huge message, say: a failed send, never an error for the caller.
  }
  const std::string mail =
      "mail to " + (name.empty() ? address : name + " <" + address + ">") + ", \"" + subject + "\"";
  if (result == kMailSuccess)
    LogEvent("info", mail + ": sent");
  else
    LogEvent("error", mail + ": not sent, result " + std::to_string(result));
  Report(result);
  return result;
}

void SendmailMailer::SetSender(const std::string& name, const std::string& address) {
  m_senderName = name;
  m_senderAddress = address;
}

void SendmailMailer::ComposeEmail(const std::string& name, const std::string& address,
                                  const std::string& subject,
                                  const std::optional<std::string>& body) {
  int result = kMailFailure;
  try {
    result = Compose(name, address, subject, body);
  } catch (const std::exception&) {
  }
  Report(result);
}

bool SendmailMailer::MailSystemAvailable() {
  if (!m_lookedForMailSystem) {
    // Whatever the outcome, the program is looked for only once: a mail system installed later
    // is seen by the next run.
    m_lookedForMailSystem = true;
    std::vector<std::string> args = SplitCommandLine(m_sendmailCommand);
    if (!args.empty()) m_sendmailPath = LocateProgram(args.front());
    if (m_sendmailPath) {
      args.push_back("-t");
      args.push_back("-oi");
      m_sendmailArgs = std::move(args);
    }
  }
  return m_sendmailPath.has_value();
}

int SendmailMailer::Send(const std::string& name, const std::string& address,
                         const std::string& subject, const std::optional<std::string>& body,
                         const std::optional<std::string>& attachmentPath,
                         const std::optional<std::string>& attachmentName,
                         const std::optional<MailIdentity>& identity) {
  if (!MailSystemAvailable()) return kMailNoMailSystem;
  // One plain address or nothing: a list or a name in brackets would make another To header.
  if (!IsPlainAddress(address)) return kMailFailure;
  MessageHeaders headers;
  if (identity) {
    headers.messageId = MessageIdOf(*identity);
    headers.reply = identity->reply;
  }
  headers.senderName = m_senderName;
  headers.senderAddress = m_senderAddress;
  const BuiltMessage message =
      BuildMailMessage(name, address, subject, body, attachmentPath, attachmentName, headers);
  if (message.result != kMailSuccess) return message.result;
  std::vector<std::string> args = m_sendmailArgs;
  // The envelope sender too: bounces go to the game's host, and a mail system that checks the
  // sender against its accounts (msmtp, a smarthost) sees the same address as the From.
  if (IsPlainAddress(m_senderAddress)) {
    args.push_back("-f");
    args.push_back(m_senderAddress);
  }
  // A timed-out hand-over is a failed send: the generation goes on with the next player.
  return RunAndWait(*m_sendmailPath, args, message.bytes, m_sendTimeout) == RunOutcome::kSucceeded
             ? kMailSuccess
             : kMailFailure;
}

int SendmailMailer::Compose(const std::string& name, const std::string& address,
                            const std::string& subject, const std::optional<std::string>& body) {
  const std::optional<std::string> program = LocateProgram(m_composeProgram);
  if (!program) return kMailNoMailSystem;
  if (!IsPlainAddress(address)) return kMailFailure;
  // Our texts are UTF-8 whatever the locale says, hence --utf8.
  std::vector<std::string> argv{m_composeProgram, "--utf8", "--subject", subject};
  if (body) {
    argv.push_back("--body");
    argv.push_back(CanonicalLineBreaks(*body));
  }
  argv.push_back(name.empty() ? address : name + " <" + address + ">");
  // The mail client may stay in the foreground until the user closes it: only its start counts.
  return m_composers.Start(*program, argv) ? kMailSuccess : kMailFailure;
}

void SendmailMailer::Report(int result) {
  if (result != kMailSuccess) m_dialogs.ShowMailError(result);
}

}  // namespace ventari
