// The command-line splitting and the program runner, against real processes.

#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace ventari {
namespace {

using test::MakeExecutable;
using test::ReadFile;
using test::ScopedCurrentDir;
using test::TempDir;
using test::WaitUntil;
using test::WriteFile;
using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksAndTabsSeparate) {
  EXPECT_EQ(SplitCommandLine("D:\\jeux\\staryear.EXE alpha.hst /q > curyear.txt"),
            (Args{"D:\\jeux\\staryear.EXE", "alpha.hst", "/q", ">", "curyear.txt"}));
  EXPECT_EQ(SplitCommandLine("  a\t\tb \t c  "), (Args{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("a>b"), (Args{"a>b"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(SplitCommandLine, QuotesGroupAndAreRemoved) {
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\stars.exe\" -g \"a b.hst\""),
            (Args{"C:\\Program Files\\stars.exe", "-g", "a b.hst"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d e"), (Args{"ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine("a \"\" b"), (Args{"a", "", "b"}));
  EXPECT_EQ(SplitCommandLine("\"\""), (Args{""}));
  EXPECT_EQ(SplitCommandLine("\"a\tb\" c"), (Args{"a\tb", "c"}));
  EXPECT_EQ(SplitCommandLine("\"open ended"), (Args{"open ended"}));
  EXPECT_EQ(SplitCommandLine("\"a\"\"b\" c"), (Args{"a\"b", "c"}));
}

TEST(SplitCommandLine, BackslashesFollowTheDoublingRules) {
  // Not before a quote: literal.
  EXPECT_EQ(SplitCommandLine("a\\\\b c\\"), (Args{"a\\\\b", "c\\"}));
  // 2n+1 before a quote: n backslashes and a literal quote.
  EXPECT_EQ(SplitCommandLine("a\\\"b"), (Args{"a\"b"}));
  EXPECT_EQ(SplitCommandLine("a\\\\\\\"b"), (Args{"a\\\"b"}));
  // 2n before a quote: n backslashes, and the quote groups.
  EXPECT_EQ(SplitCommandLine("a\\\\\"b c\""), (Args{"a\\b c"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\\\" next"), (Args{"C:\\dir\\", "next"}));
  EXPECT_EQ(SplitCommandLine("\"a \\\" b\""), (Args{"a \" b"}));
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_old)
      ::setenv(m_name, m_old->c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

std::string Script(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.file(name);
  WriteFile(path, "#!/bin/sh\n" + body);
  MakeExecutable(path);
  return path;
}

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

TEST(PosixProgramRunner, PassesArgumentsEnvironmentFolderAndOwnGroup) {
  TempDir dir;
  Script(dir, "probe.sh",
         "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n"
         "echo \"$$ $(cut -d' ' -f5 /proc/$$/stat) $VENTARI_PROBE\" > info.txt\n");
  ScopedCurrentDir inDir(dir.path());
  ScopedEnv probe("VENTARI_PROBE", "inherited");
  PosixProgramRunner runner;

  // The path is written with "\" and the redirection reaches the program as plain arguments.
  ASSERT_TRUE(runner.RunProgram(
      Backslashed(dir.file("probe.sh")) + " alpha.hst /q \"a b\" c\\\"d > curyear.txt", true));
  EXPECT_EQ(ReadFile(dir.file("args.txt")), "alpha.hst\n/q\na b\nc\"d\n>\ncuryear.txt\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("curyear.txt")));

  std::istringstream info(ReadFile(dir.file("info.txt")));
  pid_t pid = 0;
  pid_t group = 0;
  std::string variable;
  info >> pid >> group >> variable;
  EXPECT_EQ(group, pid) << "the child leads its own process group";
  EXPECT_NE(group, ::getpgrp());
  EXPECT_EQ(variable, "inherited");
}

TEST(PosixProgramRunner, WaitsForTheEndAndCountsAFailedProgramAsRun) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  PosixProgramRunner runner;
  Script(dir, "slow.sh", "sleep 0.3\necho done > marker.txt\n");
  ASSERT_TRUE(runner.RunProgram(dir.file("slow.sh"), true));
  EXPECT_EQ(ReadFile(dir.file("marker.txt")), "done\n");

  Script(dir, "fails.sh", "echo ran > failed.txt\nexit 7\n");
  EXPECT_TRUE(runner.RunProgram(dir.file("fails.sh"), true));
  EXPECT_EQ(ReadFile(dir.file("failed.txt")), "ran\n");

  // A bare name is found on the PATH, and quotes group the shell's script.
  EXPECT_TRUE(runner.RunProgram("sh -c \"echo $0 > fromsh.txt\" word", true));
  EXPECT_EQ(ReadFile(dir.file("fromsh.txt")), "word\n");
}

TEST(PosixProgramRunner, DoesNotWaitWhenNotAskedAndReapsTheChildLater) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  PosixProgramRunner runner;
  // The child holds until the test releases it; were the start to wait, it would give up.
  Script(dir, "held.sh",
         "echo $$ > pid.txt\n"
         "i=0\n"
         "while [ ! -e go ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
         "if [ -e go ]; then echo released > result.txt; else echo gave-up > result.txt; fi\n");
  ASSERT_TRUE(runner.RunProgram(dir.file("held.sh"), false));
  WriteFile(dir.file("go"), "");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(dir.file("result.txt")) == "released\n"; }))
      << ReadFile(dir.file("result.txt"));

  const pid_t pid = test::PidFromFile(dir.file("pid.txt"));
  ASSERT_GT(pid, 0);
  const std::string statPath = "/proc/" + std::to_string(pid) + "/stat";
  // Ended but not yet waited for: a zombie until the next start.
  ASSERT_TRUE(WaitUntil([&] {
    const std::string stat = ReadFile(statPath);
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close, 3, ") Z") == 0;
  }));
  ASSERT_TRUE(runner.RunProgram("true", true));
  EXPECT_FALSE(std::filesystem::exists(statPath)) << "the ended child was not reaped";
}

TEST(PosixProgramRunner, ProgramsThatCannotStartGiveFalse) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  PosixProgramRunner runner;
  EXPECT_FALSE(runner.RunProgram(dir.file("missing.exe") + " alpha.hst", true));
  EXPECT_FALSE(runner.RunProgram("ventari-no-such-program-on-path", true));
  EXPECT_FALSE(runner.RunProgram("", true));
  EXPECT_FALSE(runner.RunProgram("   ", false));

  WriteFile(dir.file("plain.sh"), "#!/bin/sh\necho ran > ran.txt\n");
  EXPECT_FALSE(runner.RunProgram(dir.file("plain.sh"), true)) << "no execute permission";

  WriteFile(dir.file("garbage"), "this is no program\n");
  MakeExecutable(dir.file("garbage"));
  EXPECT_FALSE(runner.RunProgram(dir.file("garbage"), true)) << "not an executable format";

  WriteFile(dir.file("badshebang"), "#!/nonexistent/interpreter\n");
  MakeExecutable(dir.file("badshebang"));
  EXPECT_FALSE(runner.RunProgram(dir.file("badshebang"), false)) << "interpreter missing";

  std::filesystem::create_directory(dir.file("folder"));
  EXPECT_FALSE(runner.RunProgram(dir.file("folder"), true));
  EXPECT_FALSE(std::filesystem::exists(dir.file("ran.txt")));
}

TEST(PosixProgramRunner, WindowsProgramsRunThroughWineFromThePath) {
  TempDir dir;
  TempDir bin;
  TempDir emptyBin;
  ScopedCurrentDir inDir(dir.path());
  const std::string record = dir.file("wine-args.txt");
  Script(bin, "wine", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + "'\n");
  // A Windows executable copied over need not carry the execute bit.
  WriteFile(dir.file("stars.exe"), std::string("MZ\x90\0\x03\0\0\0", 8) + "rest");
  PosixProgramRunner runner;

  {
    ScopedEnv path("PATH", bin.path() + ":" + std::getenv("PATH"));
    ASSERT_TRUE(
        runner.RunProgram(Backslashed(dir.file("stars.exe")) + " -g \"alpha game.hst\"", true));
    EXPECT_EQ(ReadFile(record), dir.file("stars.exe") + "\n-g\nalpha game.hst\n");

    // With the execute bit it still goes through wine.
    std::filesystem::remove(record);
    MakeExecutable(dir.file("stars.exe"));
    ASSERT_TRUE(runner.RunProgram(dir.file("stars.exe"), true));
    EXPECT_EQ(ReadFile(record), dir.file("stars.exe") + "\n");
  }
  {
    std::filesystem::remove(record);
    ScopedEnv path("PATH", emptyBin.path());
    EXPECT_FALSE(runner.RunProgram(dir.file("stars.exe") + " -g alpha.hst", true));
    EXPECT_FALSE(std::filesystem::exists(record));
  }
}

TEST(PosixProgramRunner, WineComesFromTheEnvironmentAndRunsQuietWithoutDialogs) {
  TempDir dir;
  TempDir bin;
  ScopedCurrentDir inDir(dir.path());
  const std::string record = dir.file("wine-run.txt");
  Script(bin, "mywine",
         "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done\n"
         "  echo \"debug=$WINEDEBUG overrides=$WINEDLLOVERRIDES prefix=$WINEPREFIX\"; } > '" +
             record + "'\n");
  WriteFile(dir.file("stars.exe"), std::string("MZ\x90\0", 4));
  PosixProgramRunner runner;
  ScopedEnv path("PATH", bin.path() + ":" + std::getenv("PATH"));
  ScopedEnv prefix("WINEPREFIX", dir.file("prefix"));

  {
    // A command line: its program is looked for on the PATH, its arguments come first.
    ScopedEnv wine("VENTARI_WINE", "mywine --with \"two words\"");
    ASSERT_TRUE(runner.RunProgram(dir.file("stars.exe") + " -g alpha.hst", true));
    EXPECT_EQ(ReadFile(record), "--with\ntwo words\n" + dir.file("stars.exe") +
                                    "\n-g\nalpha.hst\n"
                                    "debug=-all overrides=mscoree,mshtml= prefix=" +
                                    dir.file("prefix") + "\n");
    const std::optional<ResolvedCommand> resolved = ResolveCommandLine(dir.file("stars.exe"));
    ASSERT_TRUE(resolved);
    EXPECT_TRUE(resolved->throughWine);
    EXPECT_EQ(resolved->program, dir.file("stars.exe"));
    EXPECT_EQ(resolved->argv[0], bin.file("mywine"));
  }
  {
    // What the host set himself is kept.
    ScopedEnv wine("VENTARI_WINE", bin.file("mywine"));
    ScopedEnv debug("WINEDEBUG", "+relay");
    ScopedEnv overrides("WINEDLLOVERRIDES", "");
    ASSERT_TRUE(runner.RunProgram(dir.file("stars.exe"), true));
    EXPECT_EQ(ReadFile(record), dir.file("stars.exe") + "\ndebug=+relay overrides= prefix=" +
                                    dir.file("prefix") + "\n");
  }
  {
    // A wine that cannot be found: nothing starts.
    ScopedEnv wine("VENTARI_WINE", dir.file("no-such-wine") + " --x");
    std::filesystem::remove(record);
    EXPECT_FALSE(runner.RunProgram(dir.file("stars.exe"), true));
    EXPECT_FALSE(ResolveCommandLine(dir.file("stars.exe")));
    EXPECT_FALSE(std::filesystem::exists(record));
  }
  // Native programs get the environment as it is.
  Script(dir, "native.sh", "echo \"debug=$WINEDEBUG\" > '" + record + "'\n");
  ASSERT_TRUE(runner.RunProgram(dir.file("native.sh"), true));
  EXPECT_EQ(ReadFile(record), "debug=\n");
}

TEST(PosixProgramRunner, AnUnquotedProgramPathWithBlanksIsFoundByItsLongerPrefixes) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  const std::string folder = dir.file("Program Files/Stars  game");
  std::filesystem::create_directories(folder);
  Script(dir, "Program Files/Stars  game/stars.sh",
         "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n");
  PosixProgramRunner runner;
  ASSERT_TRUE(runner.RunProgram(Backslashed(folder) + "\\stars.sh -g \"my game.hst\"", true));
  EXPECT_EQ(ReadFile(dir.file("args.txt")), "-g\nmy game.hst\n");

  // The shortest prefix that is a program wins, as on Windows.
  Script(dir, "Program", "echo short > args.txt\n");
  ASSERT_TRUE(runner.RunProgram(folder + "/stars.sh -g x", true));
  EXPECT_EQ(ReadFile(dir.file("args.txt")), "short\n");
  const std::optional<ResolvedCommand> resolved = ResolveCommandLine(folder + "/stars.sh");
  ASSERT_TRUE(resolved);
  EXPECT_EQ(resolved->program, dir.file("Program"));

  // A quoted program is taken as it stands, and a line none of whose prefixes is a program
  // starts nothing.
  EXPECT_FALSE(runner.RunProgram("\"" + dir.file("Program") + " Files\" -g", true));
  std::filesystem::remove(dir.file("Program"));
  EXPECT_FALSE(ResolveCommandLine(folder + "/none.sh -g x"));
  EXPECT_TRUE(ResolveCommandLine("\"" + folder + "/stars.sh\" -g x"));
}

TEST(PosixProgramRunner, ProgramsReadNothingFromTheRobotsInput) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  Script(dir, "reads.sh", "if read line; then echo \"read $line\"; else echo eof; fi > in.txt\n");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int savedInput = ::dup(0);
  ASSERT_EQ(::write(pipeFds[1], "typed\n", 6), 6);
  ::dup2(pipeFds[0], 0);
  const bool ran = PosixProgramRunner().RunProgram(dir.file("reads.sh"), true);
  ::dup2(savedInput, 0);
  for (int fd : {pipeFds[0], pipeFds[1], savedInput}) ::close(fd);
  ASSERT_TRUE(ran);
  EXPECT_EQ(ReadFile(dir.file("in.txt")), "eof\n");
}

TEST(PosixProgramRunner, AProcessIsKnownByItsStartTimeAcrossItsExec) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  // The start time is the 22nd field of the process's stat line.
  std::istringstream stat(
      ReadFile("/proc/self/stat").substr(ReadFile("/proc/self/stat").rfind(')') + 2));
  std::string field;
  for (int n = 3; n <= 22; ++n) stat >> field;
  EXPECT_EQ(ProcessStartTime(::getpid()), std::stoull(field));

  Script(dir, "held.sh", "echo $$ > pid.txt\nwhile [ ! -e go ]; do sleep 0.05; done\n");
  PosixProgramRunner runner;
  std::promise<ProcessIdentity> learnt;
  std::thread run([&] {
    runner.RunProgramWithin(dir.file("held.sh"), std::chrono::seconds(120),
                            [&](const ProcessIdentity& started) {
                              learnt.set_value(started);
                              return true;
                            });
  });
  const std::optional<ProcessIdentity> child = learnt.get_future().get();
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir.file("pid.txt")); }));
  // Taken before the exec, the identity still names the process after it.
  EXPECT_FALSE(WaitForProcessEnd(*child, std::chrono::milliseconds(200)));
  WriteFile(dir.file("go"), "");
  EXPECT_TRUE(WaitForProcessEnd(*child, std::chrono::seconds(120)));
  run.join();
  EXPECT_TRUE(WaitForProcessEnd({::getpid(), 12345}, std::chrono::seconds(120)))
      << "another start time is another process";
}

TEST(PosixProgramRunner, APastItsLimitProgramIsEndedWithItsGroup) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  // The child's id appears whole or not at all: the limit may end the script at any point.
  Script(dir, "hangs.sh",
         "trap '' TERM\nsleep 1000 &\necho $! > child.part\nmv child.part child.txt\nwait\n");
  PosixProgramRunner runner;
  // The limit is time itself; short, yet long enough for a busy machine to start the child.
  EXPECT_EQ(
      runner.RunProgramWithin(dir.file("hangs.sh"), test::Patience(std::chrono::seconds(1)), {}),
      ProgramOutcome::kTimedOut);
  ASSERT_TRUE(std::filesystem::exists(dir.file("child.txt")))
      << "the script was ended before it started its child";
  const int child = test::PidFromFile(dir.file("child.txt"));
  ASSERT_GT(child, 0);
  EXPECT_TRUE(WaitUntil([child] { return test::ProcessGone(child); }))
      << "a process of the group outlived the limit";
  EXPECT_EQ(runner.RunProgramWithin("true", std::chrono::seconds(60), {}), ProgramOutcome::kEnded);
  EXPECT_EQ(runner.RunProgramWithin(dir.file("none"), std::chrono::seconds(60), {}),
            ProgramOutcome::kNotStarted);
}

// Fills the descriptor table for its life: no pidfd, no file can be opened.
class FullDescriptorTable {
 public:
  FullDescriptorTable() {
    ::getrlimit(RLIMIT_NOFILE, &m_saved);
    rlimit low = m_saved;
    low.rlim_cur = 256;
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) m_fds.push_back(fd);
  }
  ~FullDescriptorTable() {
    for (const int fd : m_fds) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &m_saved);
  }
  FullDescriptorTable(const FullDescriptorTable&) = delete;
  FullDescriptorTable& operator=(const FullDescriptorTable&) = delete;
  bool full() const { return ::open("/dev/null", O_RDONLY) < 0 && errno == EMFILE; }

 private:
  rlimit m_saved{};
  std::vector<int> m_fds;
};

TEST(PosixProgramRunner, TheGameRunsOnlyOnceReleasedAndIsWaitedForWithoutAPidfd) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  Script(dir, "game.sh", "echo ran >> runs.txt\n");
  PosixProgramRunner runner;
  // Refused before its program runs: nothing of it runs at all.
  EXPECT_EQ(runner.RunProgramWithin(dir.file("game.sh"), std::chrono::seconds(60),
                                    [](const ProcessIdentity&) { return false; }),
            ProgramOutcome::kNotReleased);
  // Held while the hook runs: the process the hook learns is still this program, forked and
  // not yet made the game by its exec.
  const auto image = [](pid_t pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  };
  std::filesystem::path heldImage;
  EXPECT_EQ(runner.RunProgramWithin(dir.file("game.sh"), std::chrono::seconds(60),
                                    [&](const ProcessIdentity& held) {
                                      heldImage = image(held.pid);
                                      return !std::filesystem::exists(dir.file("runs.txt"));
                                    }),
            ProgramOutcome::kEnded);
  EXPECT_EQ(heldImage, image(::getpid())) << "the game ran before it was released";
  EXPECT_EQ(ReadFile(dir.file("runs.txt")), "ran\n");

  // With the descriptor table full no pidfd can be had: the game is still waited for, not
  // taken as past its limit.
  std::optional<FullDescriptorTable> table;
  EXPECT_EQ(runner.RunProgramWithin(dir.file("game.sh"), std::chrono::seconds(60),
                                    [&](const ProcessIdentity&) {
                                      table.emplace();
                                      return table->full();
                                    }),
            ProgramOutcome::kEnded);
  table.reset();
  EXPECT_EQ(ReadFile(dir.file("runs.txt")), "ran\nran\n");

  // An earlier robot's game, still running: not taken as gone without a pidfd or /proc.
  Script(dir, "long.sh", "while [ ! -e go ]; do sleep 0.05; done\n");
  std::promise<ProcessIdentity> learnt;
  std::thread run([&] {
    runner.RunProgramWithin(dir.file("long.sh"), std::chrono::seconds(120),
                            [&](const ProcessIdentity& started) {
                              learnt.set_value(started);
                              return true;
                            });
  });
  const ProcessIdentity game = learnt.get_future().get();
  {
    FullDescriptorTable full;
    ASSERT_TRUE(full.full());
    EXPECT_FALSE(WaitForProcessEnd(game, std::chrono::milliseconds(300)));
  }
  WriteFile(dir.file("go"), "");
  run.join();
  EXPECT_TRUE(WaitForProcessEnd(game, std::chrono::seconds(120)));
}

}  // namespace
}  // namespace ventari
