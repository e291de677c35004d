#include "tests/support/fakes.h"

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

}  // namespace ventari::test
