#pragma once
// A robot on a real temporary game folder, with fakes for what a person would see or hear and
// for the game and the mail; shared by the robot's tests.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <functional>

#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "core/game/store_guard.h"
#include "core/robot/robot.h"
#include "core/robot/tick.h"
#include "core/turn/generation.h"
#include "core/turn/refresh.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/fixed_caches.h"
#include "tests/support/fs_faults.h"
#include "tests/support/game_folder.h"
#include "tests/support/game_store_rows.h"
#include "tests/support/robot_fakes.h"
#include "tests/support/stars_game.h"

namespace ventari::test {

using CacheWriter = FixedCaches;

struct RestartedRobot;

class RobotTest : public ::testing::Test, public RobotFakes {
 public:
  friend struct RestartedRobot;

  RobotTest() {
    std::setlocale(LC_TIME, "C");
    folder.WriteHostSettings();
    folder.WriteDeadlineCache("2026-12-07 12:00:00");
    folder.WriteYearCache("2405");
    test::WriteHostFile(stem(), 5, "host file");
    // The stand-in game: the next turn, a turn file for every player, the orders taken.
    runner.start = [this](const std::string&) {
      test::GenerateTurn(stem(), 3);
      return true;
    };
    robot.SetStoreGuard(&storeGuard);
  }

  std::string stem() const { return folder.gameDir() + "/alpha"; }
  std::string game(const std::string& name) const {
    return ReadFile(folder.gameDir() + "/" + name);
  }
  std::string published(const std::string& name) const {
    return ReadFile(folder.pubGameDir() + "/" + name);
  }
  void Orders(std::initializer_list<int> rows) {
    for (int n : rows) test::WriteOrderFile(stem(), n);
  }
  void At(int hour, int minute = 0, int second = 0) {
    clock.now = *TryEncodeDateTime({2026, 12, 7, hour, minute, second});
  }
  void Start() { robot.FormCreate(); }

  GameFolder folder;
  test::ScopedCurrentDir cwd{folder.root()};
  CacheWriter caches{folder};
  RefreshCycle refresh{records, view, dialogs, app, clock, caches, caches, &mailer};
  Generation generation{records, runner, mailer, dialogs, app, clock, "http://league.test/"};
  SurveillanceTick tick{records, view, sound, clock, mailer, refresh, nullptr, &dialogs};
  Robot robot{records, app, dialogs, refresh, tick, generation};
  StoreGuard storeGuard{records, mailer, dialogs};
};

// A second robot started on the fixture's folder, with records, boxes and mails of its own;
// its start-up refresh and one tick have run.
struct RestartedRobot {
  explicit RestartedRobot(RobotTest& first)
      : refresh{records,     first.view,   dialogs,      first.app,
                first.clock, first.caches, first.caches, &mailer},
        generation{records, first.runner, mailer, dialogs, first.app, first.clock, "http://x/"},
        tick{records, first.view, first.sound, first.clock, mailer, refresh},
        robot{records, first.app, dialogs, refresh, tick, generation},
        storeGuard{records, mailer, dialogs} {
    robot.SetStoreGuard(&storeGuard);
    first.robot.ReleaseGameLock();  // the first robot is gone
    robot.FormCreate();
    robot.Timer1Timer();
  }
  ProgramRecords records;
  test::ScriptedDialogs dialogs;
  test::RecordingMailer mailer;
  RefreshCycle refresh;
  Generation generation;
  SurveillanceTick tick;
  Robot robot;
  StoreGuard storeGuard;
};

}  // namespace ventari::test
