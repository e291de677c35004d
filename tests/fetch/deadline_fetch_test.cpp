// The deadline page fetch against a real web server on loopback.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <memory>

#include "core/game/records.h"
#include "core/turn/deadline_fetch.h"
#include "net/nmhttp.h"
#include "platform/app_control.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/fetch/league_server.h"
#include "tests/http/scripted_peer.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

constexpr char kNotFound[] = "Ventari HTML page not found !!!";

class DeadlineFetchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "test_fetch";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
  }

  void SetUp() override {
    // One server per test: a failure to start it fails the test instead of skipping it.
    server = std::make_unique<test::LeagueServer>();
    ASSERT_GT(server->port(), 0);
    records.host.repJeu = dir.path();
    records.game.webFolder = "ligue";
    ASSERT_TRUE(CreateDir(dir.file("alpha")));
  }

  DeadlineFetch Fetch(const std::string& game) {
    records.game.gameName = game;
    return DeadlineFetch(records, http, dialogs, app, server->base());
  }

  std::unique_ptr<test::LeagueServer> server;
  test::TempDir dir;
  ProgramRecords records;
  TNMHTTP http;
  test::ScriptedDialogs dialogs;
  EndFlag app;
};

TEST_F(DeadlineFetchTest, PageBecomesTheCache) {
  auto fetch = Fetch("alpha");
  EXPECT_EQ(fetch.PageUrl(), server->base() + "ligue/travail/ventari.php/nextdl?jeu=alpha");
  EXPECT_EQ(fetch.CachePath(), dir.path() + "/alpha/nextdl.txt");
  ASSERT_TRUE(fetch.FetchDeadlineCache());
  EXPECT_EQ(test::ReadFile(dir.file("alpha/nextdl.txt")), "2002-07-30 18:00:00\r\n");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(app.EndRequested());
  // The client is left set up as the fetch wants it.
  EXPECT_EQ(http.TimeOut, 10000);
  EXPECT_EQ(http.ReportLevel, 2);
  EXPECT_EQ(http.Proxy, "");
  EXPECT_EQ(http.ProxyPort, 80);

  // A body of several lines is stored whole, its own line ends included.
  ASSERT_TRUE(CreateDir(dir.file("multi")));
  ASSERT_TRUE(Fetch("multi").FetchDeadlineCache());
  EXPECT_EQ(test::ReadFile(dir.file("multi/nextdl.txt")),
            "2002-08-14 20:30:00\r\nturn 2403\r\nnext: 2002-08-16\n\r\n");
  TextFileReader reader;
  ASSERT_TRUE(reader.open(dir.file("multi/nextdl.txt")));
  EXPECT_EQ(reader.readLine(), "2002-08-14 20:30:00");

  // The base address from the environment, with the host given by name as the program does.
  ASSERT_TRUE(DeleteFileQuiet(dir.file("alpha/nextdl.txt")));
  ::setenv("VENTARI_LEAGUE_SERVER",
           ("http://localhost:" + std::to_string(server->port()) + "/").c_str(), 1);
  records.game.gameName = "alpha";
  DeadlineFetch byName(records, http, dialogs, app);
  ::unsetenv("VENTARI_LEAGUE_SERVER");
  ASSERT_TRUE(byName.FetchDeadlineCache());
  EXPECT_EQ(http.Host, "localhost");
  EXPECT_EQ(test::ReadFile(dir.file("alpha/nextdl.txt")), "2002-07-30 18:00:00\r\n");
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DeadlineFetchTest, MissingPageEndsTheProgramWithoutCache) {
  for (const char* game : {"missing", "broken"}) {
    SCOPED_TRACE(game);
    ASSERT_TRUE(CreateDir(dir.file(game)));
    dialogs.messages.clear();
    app = EndFlag();
    EXPECT_FALSE(Fetch(game).FetchDeadlineCache());
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{kNotFound});
    EXPECT_TRUE(app.EndRequested());
    EXPECT_FALSE(app.RetryAsked()) << "a page that is not there needs the host";
    EXPECT_FALSE(FileExists(dir.file(std::string(game) + "/nextdl.txt")));
  }
  // The server error page is not stored even though its header has no "404 Not".
  EXPECT_EQ(http.ReplyNumber, 500);
  EXPECT_EQ(http.Header.find("404 Not"), std::string::npos);
}

TEST_F(DeadlineFetchTest, CookieIsShownAndTheFetchGoesOn) {
  ASSERT_TRUE(CreateDir(dir.file("cookie")));
  ASSERT_TRUE(Fetch("cookie").FetchDeadlineCache());
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Cookie:\r\nsession=abc; path=/"});
  EXPECT_EQ(test::ReadFile(dir.file("cookie/nextdl.txt")), "2002-09-01 12:00:00\r\n");
  EXPECT_FALSE(app.EndRequested());
}

TEST_F(DeadlineFetchTest, NoServerShowsTheExceptionThenEnds) {
  records.game.gameName = "alpha";
  DeadlineFetch fetch(records, http, dialogs, app,
                      "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
  EXPECT_FALSE(fetch.FetchDeadlineCache());
  ASSERT_EQ(dialogs.messages.size(), 2u);
  const std::string& box = dialogs.messages[0];
  const std::string opening = "Exception caught : ";
  const std::string hint = "\r\n(TimeOut)(incorrect proxy name?)";
  ASSERT_GT(box.size(), opening.size() + hint.size());
  EXPECT_EQ(box.substr(0, opening.size()), opening);
  EXPECT_EQ(box.substr(box.size() - hint.size()), hint);
  EXPECT_EQ(dialogs.messages[1], kNotFound);
  EXPECT_TRUE(app.EndRequested());
  EXPECT_TRUE(app.RetryAsked()) << "a server that cannot be reached may be back later";
  EXPECT_FALSE(FileExists(dir.file("alpha/nextdl.txt")));
}

TEST_F(DeadlineFetchTest, FetchPageThroughAProxyAndItsPortText) {
  std::string header = "stale";
  std::string body = "stale";
  const std::string url = "http://league.invalid/ligue/travail/ventari.php/nextdl?jeu=alpha";
  EXPECT_TRUE(FetchPage(http, dialogs, url, "127.0.0.1", std::to_string(server->port()), true,
                        header, body));
  EXPECT_EQ(body, "2002-07-30 18:00:00");
  EXPECT_EQ(header.substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_EQ(header.substr(header.size() - 4), "\r\n\r\n");
  EXPECT_EQ(http.Proxy, "127.0.0.1");
  EXPECT_EQ(http.ProxyPort, server->port());

  // A port text that is no number is a conversion error for the caller, not a message.
  try {
    FetchPage(http, dialogs, url, "127.0.0.1", "80x", true, header, body);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'80x' is not a valid integer value");
  }
  EXPECT_EQ(header, "");
  EXPECT_EQ(body, "");
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DeadlineFetchTest, HostilePagesEndInTheSocketErrorBox) {
  const std::string hint = "\r\n(TimeOut)(incorrect proxy name?)";
  const auto expectBoxes = [&](const std::string& message) {
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0], "Exception caught : " + message + hint);
    EXPECT_EQ(dialogs.messages[1], kNotFound);
    EXPECT_TRUE(app.EndRequested());
    EXPECT_FALSE(FileExists(dir.file("alpha/nextdl.txt")));
    dialogs.messages.clear();
    app = EndFlag();
  };
  // A server trickling its answer, one byte at a time; the total bound is made short here.
  test::ScriptedPeer trickle({{"HTTP/1.0 200 OK\r\n\r\n2030"}}, {"0", 20});
  http.TotalTimeOut = 300;
  records.game.gameName = "alpha";
  EXPECT_FALSE(
      DeadlineFetch(records, http, dialogs, app, trickle.base() + "/").FetchDeadlineCache());
  expectBoxes("The server took too long: no complete answer within 300 ms");

  // A page far larger than a deadline.
  test::ScriptedPeer huge({{"HTTP/1.0 200 OK\r\n\r\n" + std::string(2 << 20, '9')}});
  EXPECT_FALSE(DeadlineFetch(records, http, dialogs, app, huge.base() + "/").FetchDeadlineCache());
  expectBoxes("Received data longer than 1048576 bytes");

  // A game name or web folder with a line break (a settings file with bare line feeds) is
  // refused before anything is sent.
  test::ScriptedPeer never({{"HTTP/1.0 200 OK\r\n\r\n2030-07-30 18:00:00"}});
  records.game.gameName = "alpha\nX-Injected: 1";
  EXPECT_FALSE(DeadlineFetch(records, http, dialogs, app, never.base() + "/").FetchDeadlineCache());
  expectBoxes("Control character 0x0A in the request: request not sent");
  records.game.gameName = "alpha";
  records.game.webFolder = "ligue\r";
  EXPECT_FALSE(DeadlineFetch(records, http, dialogs, app, never.base() + "/").FetchDeadlineCache());
  expectBoxes("Control character 0x0D in the request: request not sent");
  EXPECT_EQ(never.connections(), 0);

  // The same client fetches the real page afterwards.
  records.game.webFolder = "ligue";
  EXPECT_TRUE(Fetch("alpha").FetchDeadlineCache());
  EXPECT_EQ(test::ReadFile(dir.file("alpha/nextdl.txt")), "2002-07-30 18:00:00\r\n");
}

TEST(LeagueServerBase, EnvironmentOrLocalhost) {
  ::unsetenv("VENTARI_LEAGUE_SERVER");
  EXPECT_EQ(LeagueServerBase(), "http://localhost/");
  ::setenv("VENTARI_LEAGUE_SERVER", "http://127.0.0.1:8123/", 1);
  EXPECT_EQ(LeagueServerBase(), "http://127.0.0.1:8123/");
  ::unsetenv("VENTARI_LEAGUE_SERVER");
}

}  // namespace
}  // namespace ventari
