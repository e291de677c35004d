// staryear and starsgen, run as programs in a game folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "stars/stars_file.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ventari::stars {
namespace {

using test::BinDir;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs build/bin/<program> with the arguments in `folder`, keeping its output apart from it.
Outcome RunTool(const std::string& program, const std::string& folder,
                std::vector<std::string> args) {
  TempDir capture;
  const std::string path = BinDir() + "/" + program;
  args.insert(args.begin(), path);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, capture.file("out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, capture.file("err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Outcome outcome;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0) << path;
  if (spawned != 0) return outcome;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFile(capture.file("out"));
  outcome.err = ReadFile(capture.file("err"));
  return outcome;
}

Outcome StarYear(const TempDir& dir, std::vector<std::string> args) {
  return RunTool("staryear", dir.path(), std::move(args));
}
Outcome StarsGen(const TempDir& dir, std::vector<std::string> args) {
  return RunTool("starsgen", dir.path(), std::move(args));
}

// A header written byte by byte, as the game lays it out.
std::string HeaderBytes(unsigned turn, unsigned char fileType, unsigned char player = 0) {
  std::string bytes("\x10\x20J3J3\x11\x22\x33\x44\x00\x00", 12);
  bytes.push_back(static_cast<char>(turn & 0xFF));
  bytes.push_back(static_cast<char>(turn >> 8));
  bytes.push_back(static_cast<char>(player | 0x40));
  bytes.push_back('\x07');
  bytes.push_back(static_cast<char>(fileType));
  bytes.push_back('\x00');
  return bytes;
}

FileHeader HeaderOf(const std::string& path) {
  FileHeader header;
  EXPECT_EQ(ParseFileHeader(ReadFile(path), header), HeaderError::kNone) << path;
  return header;
}

bool Exists(const TempDir& dir, const std::string& name) {
  return std::filesystem::exists(dir.file(name));
}

bool OneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

TEST(StarYear, WritesTheYearWhereverTheArgumentsSayAndInAnyOrder) {
  TempDir dir;
  WriteFile(dir.file("alpha.hst"), HeaderBytes(5, kHostFile) + "the rest of the host file");

  Outcome run = StarYear(dir, {"alpha.hst", "/q", ">", "curyear.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.file("curyear.txt")), "2405\r\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  run = StarYear(dir, {"alpha.hst", ">glued.txt", "/q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.file("glued.txt")), "2405\r\n");

  run = StarYear(dir, {"alpha.hst", ">", "talk.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.file("talk.txt")), "2405\r\n");
  EXPECT_TRUE(OneLine(run.out)) << "without /q it says what it did";

  run = StarYear(dir, {"alpha.hst", "/q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "2405\r\n");

  // Both bytes of the turn count, and other game files carry it too.
  WriteFile(dir.file("alpha.m2"), HeaderBytes(0x1234, kTurnFile, 1));
  run = StarYear(dir, {"alpha.m2"});
  EXPECT_EQ(run.out, std::to_string(2400 + 0x1234) + "\r\n");
}

TEST(StarYear, DamagedFilesGiveOneErrorLineAndNoOutputFile) {
  TempDir dir;
  const std::string good = HeaderBytes(5, kHostFile);
  auto changed = [&](std::size_t at, char value) {
    std::string bytes = good;
    bytes[at] = value;
    return bytes;
  };
  WriteFile(dir.file("good.hst"), good);
  WriteFile(dir.file("empty.hst"), "");
  WriteFile(dir.file("short.hst"), good.substr(0, 17));
  WriteFile(dir.file("type.hst"), changed(1, '\x24'));
  WriteFile(dir.file("size.hst"), changed(0, '\x0F'));
  WriteFile(dir.file("magic.hst"), changed(4, 'X'));
  WriteFile(dir.file("text.hst"), "2405\r\nthis is no game file at all");
  std::filesystem::create_directory(dir.file("folder.hst"));

  for (const char* name : {"missing.hst", "empty.hst", "short.hst", "type.hst", "size.hst",
                           "magic.hst", "text.hst", "folder.hst"}) {
    const Outcome run = StarYear(dir, {name, "/q", ">", "curyear.txt"});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_TRUE(OneLine(run.err)) << name << ": " << run.err;
    EXPECT_EQ(run.out, "") << name;
    EXPECT_FALSE(Exists(dir, "curyear.txt")) << name;
  }

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"/q"}, {"good.hst", ">"}, {"missing.hst", "good.hst"}, {"good.hst", ">>", "x"}}) {
    const Outcome run = StarYear(dir, args);
    EXPECT_EQ(run.status, 1) << args.size();
    EXPECT_TRUE(OneLine(run.err)) << run.err;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 8)
      << "no file was added to the folder";
}

TEST(StarsGen, CreatesAGameAndAdvancesItsTurn) {
  TempDir dir;
  Outcome run = StarsGen(dir, {"--new", "alpha.hst", "--players", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  const FileHeader created = HeaderOf(dir.file("alpha.hst"));
  EXPECT_EQ(created.turn, 0);
  EXPECT_EQ(created.fileType, kHostFile);
  for (int n = 1; n <= 3; ++n) {
    const FileHeader turn = HeaderOf(dir.file("alpha.m" + std::to_string(n)));
    EXPECT_EQ(turn.turn, 0);
    EXPECT_EQ(turn.fileType, kTurnFile);
    EXPECT_EQ(turn.playerIndex(), n - 1);
  }
  EXPECT_EQ(StarYear(dir, {"alpha.hst"}).out, "2400\r\n");

  EXPECT_EQ(created.playerIndex(), kHostPlayerIndex);

  // The players submit their orders for this turn: order files of this game, turn and player.
  for (const char* player : {"1", "3"}) {
    run = StarsGen(dir, {"--orders", "alpha.hst", "--player", player});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const FileHeader orders = HeaderOf(dir.file("alpha.x3"));
  EXPECT_EQ(orders.fileType, kOrderFile);
  EXPECT_EQ(orders.gameId, created.gameId);
  EXPECT_EQ(orders.turn, 0);
  EXPECT_EQ(orders.playerIndex(), 2);
  EXPECT_EQ(orders.flags & kSubmittedFlag, kSubmittedFlag);
  // An order file of another game is not used and stays.
  WriteFile(dir.file("alpha.x2"), HeaderBytes(0, kOrderFile, 1));

  // The host's own data after the header survives the generation.
  const std::string before = ReadFile(dir.file("alpha.hst"));
  run = StarsGen(dir, {"-g", "alpha.hst"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string host = ReadFile(dir.file("alpha.hst"));
  EXPECT_EQ(host.substr(kHeaderBlockBytes), before.substr(kHeaderBlockBytes));
  EXPECT_EQ(HeaderOf(dir.file("alpha.hst")).turn, 1);
  EXPECT_EQ(HeaderOf(dir.file("alpha.hst")).gameId, created.gameId);
  EXPECT_EQ(HeaderOf(dir.file("alpha.hst")).generation(), created.generation() + 1);
  for (int n = 1; n <= 3; ++n) {
    const std::string path = dir.file("alpha.m" + std::to_string(n));
    const FileHeader turn = HeaderOf(path);
    EXPECT_EQ(turn.turn, 1);
    EXPECT_EQ(turn.playerIndex(), n - 1);
    EXPECT_EQ(turn.generation(), created.generation() + 1);
    EXPECT_TRUE(ReadGameFile(path).complete()) << path;
  }
  EXPECT_FALSE(Exists(dir, "alpha.x1"));
  EXPECT_FALSE(Exists(dir, "alpha.x3"));
  EXPECT_EQ(ReadFile(dir.file("alpha.x2")), HeaderBytes(0, kOrderFile, 1));

  // Orders kept from an earlier turn (1, used at the generation of turn 2) are not used either.
  ASSERT_EQ(StarsGen(dir, {"--orders", "alpha.hst", "--player", "1"}).status, 0);
  const std::string lastTurns = ReadFile(dir.file("alpha.x1"));
  ASSERT_EQ(StarsGen(dir, {"-g", "alpha.hst"}).status, 0);
  EXPECT_FALSE(Exists(dir, "alpha.x1"));
  ASSERT_EQ(StarsGen(dir, {"-g", "alpha.hst"}).status, 0);
  WriteFile(dir.file("alpha.x1"), lastTurns);
  ASSERT_EQ(StarsGen(dir, {"-g", "alpha.hst"}).status, 0);
  EXPECT_EQ(ReadFile(dir.file("alpha.x1")), lastTurns);
  EXPECT_EQ(HeaderOf(dir.file("alpha.hst")).turn, 4);

  run = StarYear(dir, {"alpha.hst", "/q", ">", "curyear.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.file("curyear.txt")), "2404\r\n");
}

TEST(StarsGen, ThePlayersComeFromTheOptionOrFromTheFiles) {
  TempDir dir;
  WriteFile(dir.file("beta.hst"), HeaderBytes(41, kHostFile) + "data");
  // Saved, not submitted (flags 0), and whole: the game uses it.
  WriteFile(dir.file("beta.x2"), HeaderBytes(41, kOrderFile, 1) + EncodeFooter(kOrderFile));
  Outcome run = StarsGen(dir, {"-g", "beta.hst"});
  ASSERT_EQ(run.status, 0) << run.err;
  const FileHeader turn = HeaderOf(dir.file("beta.m2"));
  EXPECT_EQ(turn.turn, 42);
  EXPECT_EQ(turn.playerIndex(), 1);
  EXPECT_EQ(turn.playerWord & ~0x1F, 0x0740) << "the word's other bits are the host file's";
  EXPECT_FALSE(Exists(dir, "beta.m1"));
  EXPECT_FALSE(Exists(dir, "beta.m3"));
  EXPECT_FALSE(Exists(dir, "beta.x2"));

  // The existing turn file keeps player 2 in the game without an order.
  run = StarsGen(dir, {"-g", "beta.hst"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(HeaderOf(dir.file("beta.m2")).turn, 43);
  EXPECT_FALSE(Exists(dir, "beta.m1"));

  run = StarsGen(dir, {"-g", "beta.hst", "--players", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(HeaderOf(dir.file("beta.m1")).turn, 44);
  EXPECT_EQ(HeaderOf(dir.file("beta.m2")).turn, 44);
  EXPECT_EQ(StarYear(dir, {"beta.hst"}).out, "2444\r\n");
}

// Sets an environment variable for its life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) { ::setenv(name, value, 1); }
  ~ScopedEnv() { ::unsetenv(m_name); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
};

TEST(StarsGen, SavedOrdersACutTurnFileAndAGameThatIsOver) {
  TempDir dir;
  ASSERT_EQ(StarsGen(dir, {"--new", "gamma.hst", "--players", "2"}).status, 0);
  ASSERT_EQ(StarsGen(dir, {"--orders", "gamma.hst", "--player", "1", "--saved"}).status, 0);
  const GameFileRead saved = ReadGameFile(dir.file("gamma.x1"));
  EXPECT_TRUE(saved.complete());
  EXPECT_FALSE(saved.header.submitted());
  FileHeader host;
  ASSERT_TRUE(ReadCompleteHostHeader(dir.file("gamma.hst"), host));
  const OrderJudgement judgement = JudgeOrderFile(dir.file("gamma.x1"), host, 1);
  EXPECT_EQ(judgement.verdict, OrderVerdict::kIn);
  EXPECT_TRUE(judgement.savedOnly);

  {
    ScopedEnv cut("STARSGEN_CUT", "2");
    ASSERT_EQ(StarsGen(dir, {"-g", "gamma.hst"}).status, 0);
  }
  EXPECT_TRUE(ReadGameFile(dir.file("gamma.m1")).complete());
  const GameFileRead cutFile = ReadGameFile(dir.file("gamma.m2"));
  EXPECT_EQ(cutFile.read, HeaderRead::kOk);
  EXPECT_EQ(cutFile.chain, ChainEnd::kIncomplete);
  EXPECT_FALSE(Exists(dir, "gamma.x1")) << "saved orders are used";

  // Orders carry the generation of the turn they were made from.
  ASSERT_EQ(StarsGen(dir, {"--orders", "gamma.hst", "--player", "2"}).status, 0);
  const std::string oldOrders = ReadFile(dir.file("gamma.x2"));
  {
    ScopedEnv over("STARSGEN_GAME_OVER", "1");
    ASSERT_EQ(StarsGen(dir, {"-g", "gamma.hst"}).status, 0);
  }
  ASSERT_TRUE(ReadCompleteHostHeader(dir.file("gamma.hst"), host));
  EXPECT_TRUE(host.gameOver());
  EXPECT_EQ(host.turn, 2);
  EXPECT_FALSE(Exists(dir, "gamma.x2")) << "this generation's orders are used";
  WriteFile(dir.file("gamma.x2"), oldOrders);
  FileHeader current = host;
  current.turn = 1;  // the orders' own turn, a generation back
  current.setGeneration(host.generation() - 1);
  EXPECT_EQ(JudgeOrderFile(dir.file("gamma.x2"), current, 2).verdict, OrderVerdict::kIn);
  FileHeader sameTurnOtherGeneration = current;
  sameTurnOtherGeneration.setGeneration(current.generation() + 3);
  EXPECT_EQ(JudgeOrderFile(dir.file("gamma.x2"), sameTurnOtherGeneration, 2).verdict,
            OrderVerdict::kOtherGeneration);
}

TEST(StarsGen, FailuresChangeNothingAndKeepTheOrders) {
  TempDir dir;
  Outcome run = StarsGen(dir, {"-g", "missing.hst"});
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(OneLine(run.err)) << run.err;

  const std::string existing = HeaderBytes(7, kHostFile) + "keep me";
  WriteFile(dir.file("alpha.hst"), existing);
  run = StarsGen(dir, {"--new", "alpha.hst", "--players", "2"});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(ReadFile(dir.file("alpha.hst")), existing);
  EXPECT_FALSE(Exists(dir, "alpha.m1"));

  WriteFile(dir.file("broken.hst"), "no header here, just text");
  WriteFile(dir.file("broken.x1"), "orders");
  run = StarsGen(dir, {"-g", "broken.hst"});
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(OneLine(run.err)) << run.err;
  EXPECT_EQ(ReadFile(dir.file("broken.x1")), "orders");
  EXPECT_FALSE(Exists(dir, "broken.m1"));

  WriteFile(dir.file("turn.hst"), HeaderBytes(3, kTurnFile));
  WriteFile(dir.file("turn.x1"), "orders");
  EXPECT_NE(StarsGen(dir, {"-g", "turn.hst"}).status, 0) << "not a host file";
  EXPECT_TRUE(Exists(dir, "turn.x1"));

  const std::string last = HeaderBytes(65535, kHostFile);
  WriteFile(dir.file("last.hst"), last);
  EXPECT_NE(StarsGen(dir, {"-g", "last.hst", "--players", "1"}).status, 0);
  EXPECT_EQ(ReadFile(dir.file("last.hst")), last);
  EXPECT_FALSE(Exists(dir, "last.m1"));

  EXPECT_NE(StarsGen(dir, {"--orders", "missing.hst", "--player", "1"}).status, 0);
  EXPECT_FALSE(Exists(dir, "missing.x1"));
  EXPECT_NE(StarsGen(dir, {"--orders", "alpha.hst"}).status, 0) << "needs --player";
  EXPECT_NE(StarsGen(dir, {"-g", "--new", "alpha.hst", "--players", "2"}).status, 0);
  EXPECT_NE(StarsGen(dir, {"--new", "gamma.hst"}).status, 0) << "needs --players";
  EXPECT_NE(StarsGen(dir, {"--new", "gamma.hst", "--players", "17"}).status, 0);
  EXPECT_FALSE(Exists(dir, "gamma.hst"));
  EXPECT_EQ(ReadFile(dir.file("alpha.hst")), existing);
}

// A player at home: his order file made from his own turn file, the robot's judge taking it,
// and other orders (--text) making other bytes, as a correction does.
TEST(StarsGen, APlayerWritesHisOrdersFromHisTurnFile) {
  TempDir dir;
  ASSERT_EQ(StarsGen(dir, {"--new", "orion.hst", "--players", "2"}).status, 0);
  ASSERT_EQ(StarsGen(dir, {"-g", "orion.hst"}).status, 0);
  const FileHeader host = HeaderOf(dir.file("orion.hst"));

  Outcome run = StarsGen(dir, {"--orders", "orion.m2"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string first = ReadFile(dir.file("orion.x2"));
  EXPECT_EQ(JudgeOrderFile(dir.file("orion.x2"), host, 2).verdict, OrderVerdict::kIn);
  ASSERT_EQ(StarsGen(dir, {"--orders", "orion.m2", "--text=move fleet 3"}).status, 0);
  EXPECT_NE(ReadFile(dir.file("orion.x2")), first);
  EXPECT_EQ(JudgeOrderFile(dir.file("orion.x2"), host, 2).verdict, OrderVerdict::kIn);
  ASSERT_EQ(StarsGen(dir, {"--orders", "orion.hst", "--player", "1", "--text", "x"}).status, 0);
  EXPECT_EQ(JudgeOrderFile(dir.file("orion.x1"), host, 1).verdict, OrderVerdict::kIn);

  // Every usage error shows the lines --help begins with.
  const std::string help = StarsGen(dir, {"--help"}).out;
  const std::string usage = help.substr(0, help.find("A stand-in"));
  ASSERT_TRUE(usage.starts_with("usage: starsgen --new")) << help;
  const std::vector<std::vector<std::string>> wrong = {
      {"--orders", "orion.m1", "--player", "2"},  // not his turn file
      {"--orders", "orion.x1"},
      {"--bogus"},
      {"--orders", "orion.hst"},
      {"--orders", "orion.m1", "--text"}};
  for (const std::vector<std::string>& args : wrong) {
    run = StarsGen(dir, args);
    EXPECT_EQ(run.status, 2) << args[0] << " " << args[1];
    EXPECT_TRUE(run.err.starts_with("starsgen: ") && run.err.ends_with(usage)) << run.err;
  }
  WriteFile(dir.file("orion.m1"), HeaderBytes(1, kTurnFile, 1));
  EXPECT_EQ(StarsGen(dir, {"--orders", "orion.m1"}).status, 1) << "player 2's file named .m1";
}

}  // namespace
}  // namespace ventari::stars
