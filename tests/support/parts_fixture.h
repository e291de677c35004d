#pragma once
// A game of Ann, Bob, a computer and Zoe at turn 5 (year 2405), its deadline at noon on
// 7 December 2026, a game run that generates the turn; Start() builds the robot's parts on the
// fakes, as the program does, and starts it.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "core/robot/robot_parts.h"
#include "tests/support/fixed_caches.h"
#include "tests/support/game_folder.h"
#include "tests/support/robot_fakes.h"
#include "tests/support/temp_dir.h"

namespace ventari::test {

class PartsFixture : public ::testing::Test, public RobotFakes {
 protected:
  PartsFixture();
  // A robot started on the folder (again), with reminders `leadHours` before the deadline.
  void Start(std::optional<double> leadHours, bool receipts = false,
             std::optional<std::string> maildir = std::nullopt);
  void Tick() { parts->robot().Timer1Timer(); }
  void At(int year, int month, int day, int hour, int minute = 0);
  void At(int hour, int minute = 0) { At(2026, 12, 7, hour, minute); }
  std::string stem() const { return folder.gameDir() + "/alpha"; }
  std::string dir() const { return folder.gameDir(); }

  GameFolder folder;
  ScopedCurrentDir cwd{folder.root()};
  FixedCaches caches{folder};
  std::unique_ptr<RobotParts> parts;
};

}  // namespace ventari::test
