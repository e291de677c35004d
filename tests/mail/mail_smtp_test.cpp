// A mail through a real mail system: msmtp as the sendmail program, delivering into an SMTP
// server (aiosmtpd) that this test starts on a free loopback port.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "mail/mail_results.h"
#include "mail/sendmail_mailer.h"
#include "platform/files.h"
#include "platform/unique_fd.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ventari {
namespace {

using test::ParseMail;
using test::ReadFile;
using test::TempDir;

// The SMTP server, for the life of the object. port() is 0 when it did not come up.
class SmtpSink {
 public:
  SmtpSink() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    const std::string script = test::MailTestFile("smtp_sink.py");
    std::vector<std::string> argv{"/usr/bin/python3", script, m_folder.path()};
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const int spawned = ::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      m_pid = -1;
      return;
    }
    writeEnd.reset();

    // The first line is the port, printed once the server listens. The bound only keeps a
    // broken set-up from hanging the test.
    std::string line;
    char c;
    pollfd ready{readEnd.get(), POLLIN, 0};
    while (::poll(&ready, 1, 60000) == 1 && ::read(readEnd.get(), &c, 1) == 1 && c != '\n')
      line += c;
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
      m_port = std::stoi(line);
  }
  ~SmtpSink() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status;
      ::waitpid(m_pid, &status, 0);
    }
  }
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  int port() const { return m_port; }
  // Files of the n-th message received: "rcpt", "from" or "eml".
  std::string Received(int n, const std::string& what) const {
    return m_folder.file("mail" + std::to_string(n) + "." + what);
  }

 private:
  TempDir m_folder;
  pid_t m_pid = -1;
  int m_port = 0;
};

// A loopback port where nothing listens: bound, read, and released again.
int ClosedPort() {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

class MailSmtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists("/usr/bin/msmtp")) << "msmtp is needed as the test's mail system";
    // msmtp reads no configuration of the machine's: everything is on its command line.
    test::WriteFile(dir.file("msmtprc"), "");
    ::chmod(dir.file("msmtprc").c_str(), 0600);
  }
  std::string MsmtpCommand(int port) const {
    return "/usr/bin/msmtp --file=" + dir.file("msmtprc") +
           " --host=127.0.0.1 --port=" + std::to_string(port) +
           " --from=robot@example.org --auth=off --tls=off";
  }

  TempDir dir;
  test::ScriptedDialogs dialogs;
};

TEST_F(MailSmtpTest, TurnMailArrivesAtTheServer) {
  SmtpSink server;
  ASSERT_NE(server.port(), 0) << "the SMTP server (/usr/bin/python3 with aiosmtpd) did not start";
  test::WriteFile(dir.file("alpha.m2"), test::AwkwardBytes());

  SendmailMailer mailer(dialogs, MsmtpCommand(server.port()));
  mailer.SendEmail("Élodie Dupré", "elodie@example.org", "alpha année 2405",
                   std::string("Bonjour,\n\r\n\r.\n\r\n\rvoici votre tour.\n\r\n\rÀ bientôt"),
                   dir.path() + "\\alpha.m2", std::string("alpha.m2"), std::nullopt);
  EXPECT_TRUE(dialogs.mailErrors.empty());

  // msmtp returns only after the server has accepted the message, so it is there now.
  ASSERT_TRUE(FileExists(server.Received(1, "eml")));
  EXPECT_EQ(ReadFile(server.Received(1, "rcpt")), "elodie@example.org");
  EXPECT_EQ(ReadFile(server.Received(1, "from")), "robot@example.org");
  auto mail = ParseMail(ReadFile(server.Received(1, "eml")));
  EXPECT_EQ(mail["defects"], "0");
  EXPECT_EQ(mail["to_count"], "1");
  EXPECT_EQ(mail["to_name"], "Élodie Dupré");
  EXPECT_EQ(mail["to_address"], "elodie@example.org");
  EXPECT_EQ(mail["subject"], "alpha année 2405");
  // The lone dot survives: it neither ended the message nor got doubled.
  EXPECT_EQ(mail["body"], "Bonjour,\n\n.\n\nvoici votre tour.\n\nÀ bientôt");
  EXPECT_EQ(mail["attachment_count"], "1");
  EXPECT_EQ(mail["attachment_name"], "alpha.m2");
  EXPECT_EQ(mail["attachment_bytes"], test::AwkwardBytes());
}

TEST_F(MailSmtpTest, UnreachableServerShowsAFailedSend) {
  const int port = ClosedPort();
  ASSERT_NE(port, 0);
  SendmailMailer mailer(dialogs, MsmtpCommand(port));
  mailer.SendEmail("J", "j@example.org", "s", std::string("b"), std::nullopt, std::nullopt,
                   std::nullopt);
  EXPECT_EQ(dialogs.mailErrors, std::vector<int>{kMailFailure});
}

}  // namespace
}  // namespace ventari
