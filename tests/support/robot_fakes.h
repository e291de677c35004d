#pragma once
// What a robot in a test or a benchmark stands on: its records and the fakes for what a person
// would see or hear, the clock, the mail and the game's run. Each adds its folder and parts.

#include "core/game/records.h"
#include "platform/app_control.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"

namespace ventari::test {

struct RobotFakes {
  ProgramRecords records;
  RecordingView view;
  ScriptedDialogs dialogs;
  EndFlag app;
  FakeClock clock;
  FakeSound sound;
  RecordingMailer mailer;
  ScriptedRunner runner;
};

}  // namespace ventari::test
