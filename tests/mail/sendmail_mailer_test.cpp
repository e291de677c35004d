// The mailer against stand-in sendmail and compose programs: shell scripts that store their
// arguments and standard input.

#include "mail/sendmail_mailer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mail/mail_results.h"
#include "platform/files.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace ventari {
namespace {

using test::ParseMail;
using test::ReadFile;
using test::ScriptedDialogs;
using test::TempDir;

// Sets an environment variable for the lifetime of the object, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_saved = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_saved)
      ::setenv(m_name, m_saved->c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_saved;
};

std::vector<std::string> SplitNul(const std::string& bytes) {
  std::vector<std::string> parts;
  std::string current;
  for (const char c : bytes) {
    if (c == '\0') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return parts;
}

class SendmailMailerTest : public ::testing::Test {
 protected:
  // A program that runs `start` first, stores its arguments (NUL-separated) in <name>.args and,
  // when `readInput`, its standard input in <name>.stdin, then runs `ending` (an exit or a kill).
  std::string InstallProgram(const std::string& name, const std::string& ending = "exit 0",
                             bool readInput = true, const std::string& start = "") {
    const std::string path = dir.file(name);
    // The arguments appear whole at once: a program started without waiting is read meanwhile.
    std::string script =
        "#!/bin/sh\n" + start + "printf '%s\\0' \"$@\" > '" + path + ".args.part'\n";
    script += "echo $$ > '" + path + ".pid'\nmv '" + path + ".args.part' '" + path + ".args'\n";
    script += "grep SigIgn /proc/$$/status > '" + path + ".sigign'\n";
    if (readInput) script += "cat > '" + path + ".stdin'\n";
    script += ending + "\n";
    test::WriteFile(path, script);
    test::MakeExecutable(path);
    return path;
  }
  bool Ran(const std::string& name) { return FileExists(dir.file(name + ".args")); }
  // For a program started without waiting: true once it has run, within a long while.
  bool WaitUntilRan(const std::string& name) {
    return test::WaitUntil([&] { return Ran(name); });
  }
  pid_t PidOf(const std::string& name) { return test::PidFromFile(dir.file(name + ".pid")); }
  std::vector<std::string> ArgsOf(const std::string& name) {
    return SplitNul(ReadFile(dir.file(name + ".args")));
  }
  std::string InputOf(const std::string& name) { return ReadFile(dir.file(name + ".stdin")); }

  void SendTo(SendmailMailer& mailer, const std::optional<std::string>& attachment = std::nullopt) {
    mailer.SendEmail("Élodie Dupré", "elodie@example.org", "alpha année 2405",
                     std::string("Bonjour\n\r\n\r.\n\r\n\rFin"), attachment,
                     attachment ? std::optional<std::string>("alpha.m2") : std::nullopt,
                     MailIdentity{"alpha", "2405", 2, "turn"});
  }
  // The message's Message-Id header line.
  std::string MessageIdOfInput(const std::string& name) {
    const std::string input = InputOf(name);
    const std::size_t at = input.find("Message-Id: ");
    if (at == std::string::npos) return {};
    return input.substr(at, input.find('\n', at) - at);
  }

  TempDir dir;
  ScriptedDialogs dialogs;
};

TEST_F(SendmailMailerTest, MessageGoesToTheProgramOnItsStandardInput) {
  InstallProgram("send mail");
  test::WriteFile(dir.file("alpha.m2"), test::AwkwardBytes());
  // A quoted program path with a blank, and arguments of the host's own.
  SendmailMailer mailer(dialogs, "\"" + dir.file("send mail") + "\" -a \"ligue ouest\"");
  SendTo(mailer, dir.path() + "\\alpha.m2");

  EXPECT_TRUE(dialogs.mailErrors.empty());
  EXPECT_EQ(ArgsOf("send mail"), (std::vector<std::string>{"-a", "ligue ouest", "-t", "-oi"}));
  // The program starts with SIGPIPE at its default, whatever this process ignores.
  const std::string ignored = ReadFile(dir.file("send mail.sigign"));
  ASSERT_EQ(ignored.rfind("SigIgn:", 0), 0u) << ignored;
  EXPECT_EQ(std::stoull(ignored.substr(7), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << ignored;
  auto mail = ParseMail(InputOf("send mail"));
  EXPECT_EQ(mail["defects"], "0");
  EXPECT_EQ(mail["to_name"], "Élodie Dupré");
  EXPECT_EQ(mail["to_address"], "elodie@example.org");
  EXPECT_EQ(mail["subject"], "alpha année 2405");
  EXPECT_EQ(mail["body"], "Bonjour\n\n.\n\nFin");
  EXPECT_EQ(mail["attachment_name"], "alpha.m2");
  EXPECT_EQ(mail["attachment_bytes"], test::AwkwardBytes());
  // The same mail sent again is the same message; a mail without identity has one of its own.
  const std::string id = MessageIdOfInput("send mail");
  EXPECT_EQ(id.rfind("Message-Id: <turn.2.2405.alpha.ventari@", 0), 0u) << id;
  SendTo(mailer, dir.path() + "\\alpha.m2");
  EXPECT_EQ(MessageIdOfInput("send mail"), id);

  // The same object sends again, without an attachment this time.
  mailer.SendEmail("Hôte", "host@example.org", "rapport", std::nullopt, std::nullopt, std::nullopt,
                   std::nullopt);
  EXPECT_NE(MessageIdOfInput("send mail"), id);
  EXPECT_NE(MessageIdOfInput("send mail"), "");
  EXPECT_TRUE(dialogs.mailErrors.empty());
  auto second = ParseMail(InputOf("send mail"));
  EXPECT_EQ(second["to_address"], "host@example.org");
  EXPECT_EQ(second["content_type"], "text/plain");
  EXPECT_EQ(second["body"], "");
  EXPECT_EQ(second["attachment_count"], "0");
}

TEST_F(SendmailMailerTest, ProgramIsFoundAlongThePath) {
  InstallProgram("fake-sendmail");
  ScopedEnv path(
      "PATH",
      dir.path() + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"));
  SendmailMailer mailer(dialogs, "fake-sendmail -f robot@example.org");
  SendTo(mailer);
  EXPECT_TRUE(dialogs.mailErrors.empty());
  EXPECT_EQ(ArgsOf("fake-sendmail"),
            (std::vector<std::string>{"-f", "robot@example.org", "-t", "-oi"}));
  EXPECT_EQ(ParseMail(InputOf("fake-sendmail"))["subject"], "alpha année 2405");
}

TEST_F(SendmailMailerTest, TheGamesHostIsTheSenderOfEveryMailAndOfItsEnvelope) {
  InstallProgram("send mail");
  SendmailMailer mailer(dialogs, "\"" + dir.file("send mail") + "\" -a ligue");
  mailer.SetSender("beta human host", "beta-host@example.org");
  SendTo(mailer);
  EXPECT_EQ(ArgsOf("send mail"),
            (std::vector<std::string>{"-a", "ligue", "-t", "-oi", "-f", "beta-host@example.org"}));
  auto mail = ParseMail(InputOf("send mail"));
  EXPECT_EQ(mail["from_name"], "beta human host");
  EXPECT_EQ(mail["from_address"], "beta-host@example.org");
  EXPECT_EQ(mail["auto_submitted"], "auto-generated");

  // A host address that is no plain address could smuggle options: the mail system gives the
  // sender then.
  for (const char* address : {"Hôte <beta-host@example.org>", "", "-oi x@y.org, z@y.org"}) {
    mailer.SetSender("beta human host", address);
    SendTo(mailer);
    EXPECT_EQ(ArgsOf("send mail"), (std::vector<std::string>{"-a", "ligue", "-t", "-oi"}))
        << address;
  }
  EXPECT_TRUE(dialogs.mailErrors.empty());
}

TEST(SendmailCommand, ASenderForcedOnTheCommandLineIsFound) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"/usr/sbin/sendmail", std::nullopt},
      {"msmtp --host=smtp.example.org --port=587 --tls=on", std::nullopt},
      {"msmtp --from=robot@example.org", "robot@example.org"},
      {"msmtp --from robot@example.org", "robot@example.org"},
      {"sendmail -f robot@example.org -oi", "robot@example.org"},
      {"sendmail -frobot@example.org", "robot@example.org"},
      {"sendmail -r robot@example.org", "robot@example.org"},
      {"\"/opt/my mail/sendmail\" -F \"Ligue ouest\" -f \"a b@example.org\"", "a b@example.org"},
      {"msmtp --from=one@example.org -f two@example.org", "two@example.org"},
      {"-fprogram-named-so", std::nullopt},
      {"sendmail -f", std::nullopt},
  };
  for (const auto& [command, sender] : cases) EXPECT_EQ(SenderForcedBy(command), sender) << command;
}

TEST_F(SendmailMailerTest, EachFailureShowsItsNumberAndTheCallerGoesOn) {
  test::WriteFile(dir.file("turn.m1"), "turn bytes");
  struct Case {
    const char* what;
    std::string command;
    std::optional<std::string> attachment;
    int expected;
  };
  const std::string notExecutable = dir.file("plain-file");
  test::WriteFile(notExecutable, "#!/bin/sh\nexit 0\n");
  // A script naming an interpreter that does not exist cannot be started at all.
  const std::string noInterpreter = dir.file("no-interpreter");
  test::WriteFile(noInterpreter, "#!/nonexistent/interpreter\n");
  test::MakeExecutable(noInterpreter);
  const std::vector<Case> cases = {
      {"no such program", dir.file("absent"), std::nullopt, kMailNoMailSystem},
      {"no such program on the path", "ventari-no-such-sendmail", std::nullopt, kMailNoMailSystem},
      {"not executable", notExecutable, std::nullopt, kMailNoMailSystem},
      {"a folder", dir.path(), std::nullopt, kMailNoMailSystem},
      {"blank command", "   ", std::nullopt, kMailNoMailSystem},
      {"exits non-zero", InstallProgram("fails", "exit 75"), std::nullopt, kMailFailure},
      {"killed", InstallProgram("killed", "kill -9 $$"), std::nullopt, kMailFailure},
      {"cannot start", noInterpreter, std::nullopt, kMailFailure},
      {"missing attachment", InstallProgram("untouched"), dir.file("absent.m1"),
       kMailAttachmentNotFound},
      {"folder as attachment", InstallProgram("untouched"), dir.path(), kMailAttachmentOpenFailure},
      {"success", InstallProgram("fine"), dir.file("turn.m1"), kMailSuccess},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialogs boxes;
    SendmailMailer mailer(boxes, c.command);
    SendTo(mailer, c.attachment);
    if (c.expected == kMailSuccess) {
      EXPECT_TRUE(boxes.mailErrors.empty());
    } else {
      EXPECT_EQ(boxes.mailErrors, std::vector<int>{c.expected});
    }
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_TRUE(boxes.errors.empty());
  }
  // A message that cannot be built is never handed over.
  EXPECT_FALSE(Ran("untouched"));
  EXPECT_EQ(ParseMail(InputOf("fine"))["attachment_bytes"], "turn bytes");
}

TEST_F(SendmailMailerTest, AHandOverDiesWithTheRobotAndNeverDeliversACutMessage) {
  // The sendmail reads the whole message, says so, then takes its time before "delivering".
  const std::string slow = dir.file("slow");
  test::WriteFile(slow, "#!/bin/sh\necho $$ > '" + slow + ".pid'\ncat > '" + slow + ".part'\nmv '" +
                            slow + ".part' '" + slow + ".stdin'\n" +
                            "sleep 30 >/dev/null 2>&1\necho delivered > '" + dir.file("delivered") +
                            "'\n");
  test::MakeExecutable(slow);
  test::WriteFile(dir.file("big.m1"), std::string(1 << 20, 'x'));
  const pid_t robot = ::fork();
  ASSERT_GE(robot, 0);
  if (robot == 0) {
    SendmailMailer mailer(dialogs, slow);
    SendTo(mailer, dir.file("big.m1"));
    ::_exit(0);
  }
  // The robot is killed while the hand-over runs, once the program has taken the message.
  ASSERT_TRUE(test::WaitUntil([&] { return FileExists(slow + ".stdin"); }));
  const pid_t sendmail = PidOf("slow");
  ASSERT_GT(sendmail, 0);
  ::kill(robot, SIGKILL);
  int status = 0;
  ::waitpid(robot, &status, 0);
  EXPECT_TRUE(test::WaitUntil([&] { return ::kill(sendmail, 0) != 0 && errno == ESRCH; }))
      << "the hand-over outlived the robot";
  EXPECT_FALSE(FileExists(dir.file("delivered")));
  // What the program was given is the whole message, never a part of it.
  EXPECT_EQ(ParseMail(InputOf("slow"))["attachment_bytes"].size(), std::size_t{1} << 20);
}

TEST_F(SendmailMailerTest, ProgramThatLeavesWithoutReadingIsAFailureNotACrash) {
  // Several pipe buffers of attachment: the writer meets a closed pipe. Exiting 0 does not
  // make a message that was never taken a success.
  InstallProgram("lazy", "exit 0", /*readInput=*/false);
  test::WriteFile(dir.file("big.m1"), std::string(4 << 20, 'x'));
  SendmailMailer mailer(dialogs, dir.file("lazy"));
  SendTo(mailer, dir.file("big.m1"));
  EXPECT_EQ(dialogs.mailErrors, std::vector<int>{kMailFailure});
  // And the program still goes on: the next send works.
  InstallProgram("lazy");
  SendTo(mailer, dir.file("big.m1"));
  EXPECT_EQ(dialogs.mailErrors, std::vector<int>{kMailFailure});
  EXPECT_EQ(ParseMail(InputOf("lazy"))["attachment_bytes"].size(), std::size_t{4 << 20});
}

TEST_F(SendmailMailerTest, MailSystemIsLookedForOnlyAtTheFirstSend) {
  const std::string program = dir.file("late-sendmail");
  SendmailMailer mailer(dialogs, program);
  // Nothing is looked for before the first send: installing it now is in time.
  SendmailMailer early(dialogs, dir.file("early-sendmail"));
  InstallProgram("early-sendmail");
  SendTo(early);
  EXPECT_TRUE(dialogs.mailErrors.empty());
  EXPECT_TRUE(Ran("early-sendmail"));

  SendTo(mailer);
  EXPECT_EQ(dialogs.mailErrors, std::vector<int>{kMailNoMailSystem});
  InstallProgram("late-sendmail");
  SendTo(mailer);
  SendTo(mailer, dir.file("absent.m1"));  // still 1: the mail system comes first
  EXPECT_EQ(dialogs.mailErrors,
            (std::vector<int>{kMailNoMailSystem, kMailNoMailSystem, kMailNoMailSystem}));
  EXPECT_FALSE(Ran("late-sendmail"));

  // The next run sees it.
  ScriptedDialogs nextRun;
  SendmailMailer restarted(nextRun, program);
  SendTo(restarted);
  EXPECT_TRUE(nextRun.mailErrors.empty());
  EXPECT_TRUE(Ran("late-sendmail"));
}

TEST_F(SendmailMailerTest, CommandLineComesFromTheEnvironment) {
  {
    ScopedEnv unset("VENTARI_SENDMAIL", std::nullopt);
    EXPECT_EQ(SendmailCommandFromEnvironment(), "/usr/sbin/sendmail");
  }
  {
    ScopedEnv blank("VENTARI_SENDMAIL", std::string(" \t "));
    EXPECT_EQ(SendmailCommandFromEnvironment(), "/usr/sbin/sendmail");
  }
  ScopedEnv set("VENTARI_SENDMAIL", std::string("msmtp -a ligue"));
  EXPECT_EQ(SendmailCommandFromEnvironment(), "msmtp -a ligue");
}

TEST_F(SendmailMailerTest, ComposeOpensTheDesktopComposerFilledIn) {
  const std::string composer = InstallProgram("composer", "exit 0", /*readInput=*/false);
  SendmailMailer mailer(dialogs, dir.file("absent-sendmail"), composer);
  mailer.ComposeEmail("Élodie Dupré", "elodie@example.org", "alpha année 2405",
                      std::string("Bonjour\n\r\n\rFin"));
  EXPECT_TRUE(dialogs.mailErrors.empty());  // the sendmail program plays no part
  ASSERT_TRUE(WaitUntilRan("composer"));
  EXPECT_EQ(ArgsOf("composer"),
            (std::vector<std::string>{"--utf8", "--subject", "alpha année 2405", "--body",
                                      "Bonjour\n\nFin", "Élodie Dupré <elodie@example.org>"}));

  // The about box's link passes no body.
  ::unlink(dir.file("composer.args").c_str());
  mailer.ComposeEmail("Ventari", "host@example.org", "Ventari", std::nullopt);
  EXPECT_TRUE(dialogs.mailErrors.empty());
  ASSERT_TRUE(WaitUntilRan("composer"));
  EXPECT_EQ(ArgsOf("composer"), (std::vector<std::string>{"--utf8", "--subject", "Ventari",
                                                          "Ventari <host@example.org>"}));

  // Only the start counts: a composer that fails afterwards shows nothing here (it shows its
  // own complaint), one that cannot start at all shows 2, a missing one 1.
  SendmailMailer failing(dialogs, dir.file("absent-sendmail"),
                         InstallProgram("bad-composer", "exit 3", false));
  failing.ComposeEmail("A", "a@example.org", "s", std::nullopt);
  EXPECT_TRUE(WaitUntilRan("bad-composer"));
  const std::string noInterpreter = dir.file("no-interpreter");
  test::WriteFile(noInterpreter, "#!/nonexistent/interpreter\n");
  test::MakeExecutable(noInterpreter);
  SendmailMailer unstartable(dialogs, dir.file("absent-sendmail"), noInterpreter);
  unstartable.ComposeEmail("A", "a@example.org", "s", std::nullopt);
  SendmailMailer missing(dialogs, dir.file("absent-sendmail"), dir.file("no-composer"));
  missing.ComposeEmail("A", "a@example.org", "s", std::nullopt);
  EXPECT_EQ(dialogs.mailErrors, (std::vector<int>{kMailFailure, kMailNoMailSystem}));
}

// Ends the process when the test is over, whatever happened.
class KillAtEnd {
 public:
  explicit KillAtEnd(pid_t pid) : m_pid(pid) {}
  KillAtEnd(const KillAtEnd&) = delete;
  KillAtEnd& operator=(const KillAtEnd&) = delete;
  ~KillAtEnd() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
  }

 private:
  pid_t m_pid;
};

// True once the process is gone or a zombie, within a long while.
bool Ended(pid_t pid) {
  return test::WaitUntil([pid] { return test::ProcessGone(pid); });
}

TEST_F(SendmailMailerTest, MailClientThatStaysInTheForegroundDoesNotHoldTheCaller) {
  const std::string composer = InstallProgram("staying", "exec sleep 600", /*readInput=*/false);
  {
    SendmailMailer mailer(dialogs, dir.file("absent-sendmail"), composer);
    mailer.ComposeEmail("Ventari", "host@example.org", "Ventari", std::nullopt);
    EXPECT_TRUE(dialogs.mailErrors.empty());
    ASSERT_TRUE(WaitUntilRan("staying"));
  }
  // Still running once the mailer is gone, in a session of its own.
  const pid_t pid = PidOf("staying");
  ASSERT_GT(pid, 0);
  KillAtEnd cleanup(pid);
  EXPECT_EQ(::kill(pid, 0), 0);
  EXPECT_EQ(::getsid(pid), pid);
  EXPECT_NE(::getsid(pid), ::getsid(0));
}

TEST_F(SendmailMailerTest, SendmailThatHangsIsKilledWithItsGroupAndTheNextSendGoesOn) {
  // More than a pipe holds, so that the writing blocks too.
  test::WriteFile(dir.file("turn.m1"), std::string(1 << 20, 't'));
  struct Case {
    const char* what;
    const char* ending;
    bool readInput;
  };
  for (const Case& c : {Case{"neither reads nor exits", "exec sleep 600", false},
                        Case{"reads but never exits", "exec sleep 600", true}}) {
    SCOPED_TRACE(c.what);
    // A helper left in the background must go with it. Its id appears whole or not at all:
    // the time limit may end the program at any point.
    const std::string name = c.readInput ? "reader" : "sleeper";
    const std::string helper = dir.file(name + ".helper");
    InstallProgram(name, c.ending, c.readInput,
                   "sleep 600 &\necho $! > '" + helper + ".part'\nmv '" + helper + ".part' '" +
                       helper + "'\n");
    ScriptedDialogs boxes;
    // The limit is time itself; short, yet long enough for a busy machine to start the helper.
    SendmailMailer mailer(boxes, dir.file(name), kDefaultComposeProgram,
                          test::Patience(std::chrono::seconds(1)));
    SendTo(mailer, dir.file("turn.m1"));
    EXPECT_EQ(boxes.mailErrors, std::vector<int>{kMailFailure});
    ASSERT_TRUE(Ran(name));
    const pid_t script = PidOf(name);
    ASSERT_GT(script, 0);
    KillAtEnd cleanupScript(script);
    EXPECT_TRUE(Ended(script));
    // The program was ended after it started its helper, not before: else the helper's end
    // would go unchecked.
    ASSERT_TRUE(FileExists(helper)) << "the program was ended before it started its helper";
    const pid_t helperPid = test::PidFromFile(helper);
    ASSERT_GT(helperPid, 0);
    KillAtEnd cleanupHelper(helperPid);
    EXPECT_TRUE(Ended(helperPid));
    // The same mailer goes on with the next player once the program behaves.
    InstallProgram(name);
    SendTo(mailer, dir.file("turn.m1"));
    EXPECT_EQ(boxes.mailErrors, std::vector<int>{kMailFailure});
    EXPECT_EQ(ParseMail(InputOf(name))["attachment_bytes"].size(), std::size_t{1 << 20});
  }
}

TEST_F(SendmailMailerTest, AddressThatIsNotOnePlainAddressIsRefused) {
  InstallProgram("never");
  for (const char* address : {"", "a@x.org, b@y.org", "Bob <b@y.org>", "b@y.org\nBcc: c@z.org"}) {
    SCOPED_TRACE(address);
    ScriptedDialogs boxes;
    SendmailMailer mailer(boxes, dir.file("never"), dir.file("never"));
    mailer.SendEmail("Bob", address, "s", std::string("b"), std::nullopt, std::nullopt,
                     std::nullopt);
    mailer.ComposeEmail("Bob", address, "s", std::nullopt);
    EXPECT_EQ(boxes.mailErrors, (std::vector<int>{kMailFailure, kMailFailure}));
  }
  EXPECT_FALSE(Ran("never"));
}

TEST_F(SendmailMailerTest, HandOverTimeComesFromTheEnvironment) {
  {
    ScopedEnv unset("VENTARI_MAIL_TIMEOUT", std::nullopt);
    EXPECT_EQ(MailTimeoutFromEnvironment(), std::chrono::milliseconds(120000));
  }
  for (const char* bad : {"", "0", "-5", "1.5", "ten", "30s", "9999999"}) {
    ScopedEnv set("VENTARI_MAIL_TIMEOUT", std::string(bad));
    EXPECT_EQ(MailTimeoutFromEnvironment(), std::chrono::milliseconds(120000)) << bad;
  }
  ScopedEnv set("VENTARI_MAIL_TIMEOUT", std::string("30"));
  EXPECT_EQ(MailTimeoutFromEnvironment(), std::chrono::milliseconds(30000));
}

}  // namespace
}  // namespace ventari
