#pragma once
// Fakes for what a person would see or hear, and for the clock.

#include <functional>
#include <string>
#include <vector>

#include "mail/mailer.h"
#include "platform/app_control.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "platform/sound.h"

namespace ventari::test {

// Records every box; an optional hook runs while a box is "open" (as a modal loop would).
class ScriptedDialogs : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void ShowMailError(int result) override;

  std::vector<std::string> messages;  // plain boxes
  std::vector<std::string> errors;    // error boxes, as shown (with the added ".")
  std::vector<int> mailErrors;        // mail error boxes
  std::function<void()> whileOpen;    // runs inside every box
};

class FakeClock : public Clock {
 public:
  TDateTime Now() const override { return now; }
  TDateTime now = kZeroDateTime;
};

class FakeSound : public SoundPlayer {
 public:
  void Play(const std::string& fileName) override;
  std::vector<std::string> played;
  std::string failWith;  // when set, Play raises Exception with this message
};

// Records every mail handed over; an optional hook runs inside each send.
class RecordingMailer : public Mailer {
 public:
  struct Mail {
    std::string name, address, subject;
    std::optional<std::string> body, attachmentPath, attachmentName;
    bool compose = false;
    std::string messageId;                  // made from the mail's identity; empty without one
    bool reply = false;                     // marked as an answer rather than auto-generated
    std::string senderName, senderAddress;  // the sender set when it was sent
  };
  int SendEmail(const std::string& name, const std::string& address, const std::string& subject,
                const std::optional<std::string>& body,
                const std::optional<std::string>& attachmentPath,
                const std::optional<std::string>& attachmentName,
                const std::optional<MailIdentity>& identity) override;
  void SetSender(const std::string& name, const std::string& address) override;
  void ComposeEmail(const std::string& name, const std::string& address, const std::string& subject,
                    const std::optional<std::string>& body) override;

  std::vector<Mail> mails;  // every hand-over, failed ones included
  std::string senderName, senderAddress;
  std::function<void()> duringSend;
  std::function<int(const Mail&)> result;  // the result of each send; none: 0, sent
};

// Records command lines; `start` decides whether the process "could be created". A timed run
// learns a made-up process first and is refused when `started` says so.
class ScriptedRunner : public ProgramRunner {
 public:
  bool RunProgram(const std::string& commandLine, bool wait) override;
  ProgramOutcome RunProgramWithin(const std::string& commandLine, std::chrono::milliseconds limit,
                                  const StartedHook& started) override;

  std::vector<std::string> commandLines;
  ProcessIdentity process{424242, 1};  // what a timed run reports as started
  std::function<bool(const std::string&)> start;
};

}  // namespace ventari::test
