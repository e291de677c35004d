// The cost of one tick with its refresh, on a real game folder with 12 players and both caches
// present: the work the robot does every minute. The first argument is the number of order files
// in (each a whole file of a few kilobytes, judged against the host file as the game reads it);
// with the second one set, every order file changes before each tick, so each is read again.
// BM_TickWithMail is the same tick with orders by mail: a Maildir whose cur/ already holds the
// messages handled (first argument), and the messages that land in new/ before each tick
// (second argument), unrelated ones from strangers, each handled by that tick.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "core/players/mailed_orders.h"
#include "core/players/order_receipts.h"
#include "core/robot/robot.h"
#include "core/robot/tick.h"
#include "core/turn/generation.h"
#include "core/turn/refresh.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"
#include "tests/support/robot_fakes.h"
#include "tests/support/stars_game.h"

namespace {

using namespace ventari;

class NoMaker : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  bool FetchDeadlineCache() override { return false; }
  bool RunYearTool() override { return false; }
};

// The robot's fakes and the parts of it every bench needs; each adds its tick and the robot.
struct Parts : test::RobotFakes {
  NoMaker makers;
  RefreshCycle refresh{records, view, dialogs, app, clock, makers, makers};
  Generation generation{records, runner, mailer, dialogs, app, clock, "http://l.test/"};
};

// A game of twelve players in year 2405, its next deadline far ahead; the stem of its files.
std::string TwelvePlayerGame(test::GameFolder& folder) {
  std::vector<test::PlayerLine> players;
  for (int n = 1; n <= 12; ++n)
    players.push_back({"Player" + std::to_string(n), "p" + std::to_string(n) + "@x.org"});
  folder.WriteGame(players, "2030-07-30 18:00:00", "2405");
  const std::string stem = folder.gameDir() + "/alpha";
  test::WriteHostFile(stem, 5, std::string(4096, 'h'));
  return stem;
}

void BM_TickWithRefresh(benchmark::State& state) {
  test::GameFolder folder;
  test::ScopedCurrentDir cwd(folder.root());
  const std::string stem = TwelvePlayerGame(folder);
  const int ordersIn = static_cast<int>(state.range(0));
  const bool changing = state.range(1) != 0;
  std::vector<std::string> orderFiles;
  for (int n = 1; n <= ordersIn; ++n) {
    stars::FileHeader orders = test::GameHeader(stars::kOrderFile, 5, n - 1);
    orderFiles.push_back(stem + ".x" + std::to_string(n));
    test::WriteGameFile(orderFiles.back(), orders, std::string(3000, 'o'));
  }

  Parts p;
  SurveillanceTick tick(p.records, p.view, p.sound, p.clock, p.mailer, p.refresh);
  Robot robot(p.records, p.app, p.dialogs, p.refresh, tick, p.generation);
  robot.FormCreate();
  long stamp = 1;
  for (auto _ : state) {
    if (changing) {
      state.PauseTiming();
      // A new modification time is a new version of each file, as an upload makes.
      const timespec times[2] = {{stamp, 0}, {stamp, 0}};
      for (const std::string& file : orderFiles) ::utimensat(AT_FDCWD, file.c_str(), times, 0);
      ++stamp;
      state.ResumeTiming();
    }
    robot.Timer1Timer();
    p.view.lines.clear();
    p.view.colours.clear();
  }
  if (p.records.monitor.lateText.empty() != (ordersIn == 12) || !p.dialogs.errors.empty())
    state.SkipWithError("the tick did not run as expected");
}
BENCHMARK(BM_TickWithRefresh)
    ->Args({0, 0})
    ->Args({6, 0})
    ->Args({12, 0})
    ->Args({12, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_TickWithMail(benchmark::State& state) {
  namespace fs = std::filesystem;
  test::GameFolder folder;
  test::ScopedCurrentDir cwd(folder.root());
  const std::string stem = TwelvePlayerGame(folder);
  const std::string maildir = folder.root() + "/Maildir";
  for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(maildir + "/" + sub);
  // The host's own mail of a couple of kilobytes, and another game's orders: none of them
  // this robot's, all left where they are.
  const std::string unrelated = "From: someone@elsewhere.org\nTo: host@x.org\nSubject: offre\n\n" +
                                std::string(2000, 'x') + "\n";
  const std::string otherGame =
      "From: p1@x.org\nTo: host@x.org\nSubject: beta\nMIME-Version: 1.0\nContent-Type: "
      "application/octet-stream\nContent-Disposition: attachment; filename=beta.x1\n\n" +
      test::GameFileBytes(test::GameHeader(stars::kOrderFile, 5, 0, 0xBE7A), "orders") + "\n";
  for (long n = 0; n < state.range(0); ++n) {
    test::WriteFile(maildir + "/cur/1700000000.old" + std::to_string(n) + ".host:2,S", unrelated);
    test::WriteFile(maildir + "/new/1700000000.new" + std::to_string(n) + ".host",
                    n % 2 == 0 ? unrelated : otherGame);
  }

  Parts p;
  OrderReceipts receipts(p.records, p.mailer, p.clock, "http://l.test/", true);
  MailedOrders mailed(p.records, p.mailer, receipts, p.clock, "http://l.test/", maildir);
  SurveillanceTick tick(p.records, p.view, p.sound, p.clock, p.mailer, p.refresh, nullptr, nullptr,
                        &receipts);
  tick.SetMailedOrders(&mailed);
  Robot robot(p.records, p.app, p.dialogs, p.refresh, tick, p.generation);
  robot.FormCreate();
  robot.Timer1Timer();  // the first look reads every message once
  long batch = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (long n = 0; n < state.range(1); ++n)
      test::WriteFile(
          maildir + "/new/17000001" + std::to_string(batch) + "." + std::to_string(n) + ".host",
          unrelated);
    ++batch;
    state.ResumeTiming();
    robot.Timer1Timer();
    p.view.lines.clear();
    p.view.colours.clear();
  }
  const auto left = std::distance(fs::directory_iterator(maildir + "/new"), {});
  if (left != state.range(0) + batch * state.range(1) || !p.mailer.mails.empty() ||
      !p.dialogs.errors.empty())
    state.SkipWithError("the messages were not left as they came");
}
BENCHMARK(BM_TickWithMail)
    ->Args({0, 0})
    ->Args({1000, 0})
    ->Args({1000, 100})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
