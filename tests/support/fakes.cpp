#include "tests/support/fakes.h"

#include "mail/mail_message.h"

#include "platform/errors.h"

namespace ventari::test {

void ScriptedDialogs::ShowMessage(const std::string& text) {
  messages.push_back(text);
  if (whileOpen) whileOpen();
}

void ScriptedDialogs::ShowError(const std::string& message) {
  errors.push_back(ErrorBoxText(message));
  if (whileOpen) whileOpen();
}

void ScriptedDialogs::ShowMailError(int result) {
  mailErrors.push_back(result);
  if (whileOpen) whileOpen();
}

void FakeSound::Play(const std::string& fileName) {
  if (!failWith.empty()) throw Exception(failWith);
  played.push_back(fileName);
}

int RecordingMailer::SendEmail(const std::string& name, const std::string& address,
                               const std::string& subject, const std::optional<std::string>& body,
                               const std::optional<std::string>& attachmentPath,
                               const std::optional<std::string>& attachmentName,
                               const std::optional<MailIdentity>& identity) {
  mails.push_back({name, address, subject, body, attachmentPath, attachmentName, false,
                   identity ? MessageIdOf(*identity) : std::string(), identity && identity->reply,
                   senderName, senderAddress});
  if (duringSend) duringSend();
  return result ? result(mails.back()) : 0;
}

void RecordingMailer::SetSender(const std::string& name, const std::string& address) {
  senderName = name;
  senderAddress = address;
}

void RecordingMailer::ComposeEmail(const std::string& name, const std::string& address,
                                   const std::string& subject,
                                   const std::optional<std::string>& body) {
  mails.push_back(
      {name, address, subject, body, std::nullopt, std::nullopt, true, {}, false, {}, {}});
}

bool ScriptedRunner::RunProgram(const std::string& commandLine, bool /*wait*/) {
  commandLines.push_back(commandLine);
  return start ? start(commandLine) : true;
}

ProgramOutcome ScriptedRunner::RunProgramWithin(const std::string& commandLine,
                                                std::chrono::milliseconds /*limit*/,
                                                const StartedHook& started) {
  if (started && !started(process)) {
    commandLines.push_back(commandLine);
    return ProgramOutcome::kNotReleased;
  }
  return RunProgram(commandLine, true) ? ProgramOutcome::kEnded : ProgramOutcome::kNotStarted;
}

}  // namespace ventari::test
