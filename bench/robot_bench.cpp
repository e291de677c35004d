// The cost of one tick with its refresh, on a real game folder with 12 players and both caches
// present: the work the robot does every minute. The argument is the number of order files in
// (each one's header is read and judged against the host file's).

#include <benchmark/benchmark.h>

#include "core/cache_makers.h"
#include "core/generation.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/robot.h"
#include "core/tick.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"
#include "tests/support/stars_game.h"

namespace {

using namespace ventari;

class NoMaker : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  bool FetchDeadlineCache() override { return false; }
  bool RunYearTool() override { return false; }
};

void BM_TickWithRefresh(benchmark::State& state) {
  test::GameFolder folder;
  test::ScopedCurrentDir cwd(folder.root());
  folder.WriteHostSettings();
  std::vector<test::PlayerLine> players;
  for (int n = 1; n <= 12; ++n)
    players.push_back({"Player" + std::to_string(n), "p" + std::to_string(n) + "@x.org"});
  folder.WriteGameSettings(players);
  folder.WriteDeadlineCache("2030-07-30 18:00:00");
  folder.WriteYearCache("2405");
  const std::string stem = folder.gameDir() + "/alpha";
  test::WriteHostFile(stem, 5, std::string(4096, 'h'));
  const int ordersIn = static_cast<int>(state.range(0));
  for (int n = 1; n <= ordersIn; ++n) test::WriteOrderFile(stem, n);

  ProgramRecords records;
  test::RecordingView view;
  test::ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  test::FakeSound sound;
  test::RecordingMailer mailer;
  test::ScriptedRunner runner;
  NoMaker makers;
  RefreshCycle refresh(records, view, dialogs, app, clock, makers, makers);
  Generation generation(records, runner, mailer, dialogs, app, refresh, "http://l.test/");
  SurveillanceTick tick(records, view, sound, clock, mailer, generation, refresh);
  Robot robot(records, app, dialogs, refresh, tick, generation);
  robot.FormCreate();
  for (auto _ : state) {
    robot.Timer1Timer();
    view.lines.clear();
    view.colours.clear();
  }
  if (records.monitor.lateText.empty() != (ordersIn == 12) || !dialogs.errors.empty())
    state.SkipWithError("the tick did not run as expected");
}
BENCHMARK(BM_TickWithRefresh)->Arg(0)->Arg(6)->Arg(12)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
