#include "tests/support/parts_fixture.h"

#include <chrono>
#include <clocale>

#include "tests/support/stars_game.h"

namespace ventari::test {

PartsFixture::PartsFixture() {
  std::setlocale(LC_TIME, "C");
  folder.WriteHostSettings();
  folder.WriteGameSettings(
      {{"Ann", "ann@x"}, {"Bob", "bob@x"}, {"Robot", "COMPUTER"}, {"Zoe", "zoe@x"}});
  folder.WriteDeadlineCache("2026-12-07 12:00:00");
  folder.WriteYearCache("2405");
  WriteHostFile(stem(), 5, "host file");
  runner.start = [this](const std::string&) {
    GenerateTurn(stem(), 4);
    return true;
  };
}

void PartsFixture::Start(std::optional<double> leadHours, bool receipts,
                         std::optional<std::string> maildir) {
  parts.reset();
  parts = std::make_unique<RobotParts>(
      RobotServices{records, &view, dialogs, app, clock, caches, caches, mailer, runner, sound,
                    "http://league.test/", std::chrono::seconds(600), leadHours, receipts,
                    std::nullopt, std::move(maildir)});
  parts->robot().FormCreate();
}

void PartsFixture::At(int year, int month, int day, int hour, int minute) {
  clock.now = *TryEncodeDateTime({year, month, day, hour, minute, 0});
}

}  // namespace ventari::test
