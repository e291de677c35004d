// The HTTP client against scripted loopback peers: the request bytes, the answer, redirects, the
// exchange bound and the bound on a silent answer.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <typeinfo>

#include "net/nmhttp.h"
#include "platform/errors.h"
#include "tests/http/scripted_peer.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::PeerReply;
using test::ScriptedPeer;

constexpr char kAccepts[] =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
constexpr char kContentType[] = "Content-type: application/x-www-form-urlencoded\r\n";

std::string PlainGet(const std::string& target, const std::string& host) {
  return "GET " + target + " HTTP/1.0\r\nHost: " + host + "\r\n" + kAccepts + kContentType + "\r\n";
}

class HttpClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "test_http";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
  }
  void SetUp() override { http.TimeOut = 10000; }

  TNMHTTP http;
};

TEST_F(HttpClient, PlainGetSendsTheSixLinesAndTakesTheWholeAnswer) {
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nX-Note: a b\r\n\r\n";
  const std::string body = "2002-07-30 18:00:00\r\nsecond line\n";
  ScriptedPeer peer({{head + body}});
  std::vector<CmdType> successes;
  std::vector<std::string> statuses;
  http.OnSuccess = [&](CmdType cmd) { successes.push_back(cmd); };
  http.OnFailure = [&](CmdType) { ADD_FAILURE() << "OnFailure on 200"; };
  http.ReportLevel = 2;
  http.OnStatus = [&](TComponent&, const std::string& s) { statuses.push_back(s); };

  const std::string url = peer.base() + "/ligue/travail/ventari.php/nextdl?jeu=alpha";
  http.Get(url);

  ASSERT_EQ(peer.requests().size(), 1u);
  // The Host line carries no port.
  EXPECT_EQ(peer.requests()[0],
            PlainGet("/ligue/travail/ventari.php/nextdl?jeu=alpha", "127.0.0.1"));
  EXPECT_EQ(http.ReplyNumber, 200);
  EXPECT_EQ(http.Header, head);
  EXPECT_EQ(http.Body, body);  // Content-Length 3 does not shorten the read
  EXPECT_EQ(http.BytesTotal, 3);
  EXPECT_EQ(http.ReceivedCookie, "");
  EXPECT_EQ(http.RequestUrl, url);
  EXPECT_EQ(http.Host, "127.0.0.1");
  EXPECT_EQ(http.Port, peer.port());
  EXPECT_EQ(http.CurrentCmd, CmdGET);
  EXPECT_EQ(successes, std::vector<CmdType>{CmdGET});
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Transaction Completed"), statuses.end());

  // A URL of a host alone is asked for "/", and the URL gains its "/".
  http.Get(peer.base());
  ASSERT_EQ(peer.requests().size(), 2u);
  EXPECT_EQ(peer.requests()[1], PlainGet("/", "127.0.0.1"));
  EXPECT_EQ(http.RequestUrl, peer.base() + "/");

  // A URL beginning with "/" goes to the previous host and port.
  http.Get("/again");
  ASSERT_EQ(peer.requests().size(), 3u);
  EXPECT_EQ(peer.requests()[2], PlainGet("/again", "127.0.0.1"));
}

TEST_F(HttpClient, ThroughAProxyTheRequestLineCarriesTheWholeUrl) {
  ScriptedPeer proxy({{"HTTP/1.0 200 OK\r\n\r\nvia proxy"}});
  http.Proxy = "127.0.0.1";
  http.ProxyPort = proxy.port();
  http.Get("http://league.invalid/p?jeu=a");
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0], std::string("GET http://league.invalid/p?jeu=a HTTP/1.0\r\n") +
                                     "Proxy-Connection: Keep-Alive\r\nHost: league.invalid\r\n" +
                                     kAccepts + kContentType + "\r\n");
  EXPECT_EQ(http.Body, "via proxy");
  EXPECT_EQ(http.Host, "league.invalid");
  EXPECT_EQ(http.Port, 80);
}

TEST_F(HttpClient, ErrorStatusIsNoErrorButRaisesOnFailure) {
  const std::string head = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n";
  ScriptedPeer peer({{head + "<h1>missing</h1>"}});
  std::vector<CmdType> failures;
  bool succeeded = false;
  http.OnFailure = [&](CmdType cmd) { failures.push_back(cmd); };
  http.OnSuccess = [&](CmdType) { succeeded = true; };
  http.Get(peer.base() + "/x");
  EXPECT_EQ(http.ReplyNumber, 404);
  EXPECT_EQ(http.Header, head);
  EXPECT_EQ(http.Body, "<h1>missing</h1>");
  EXPECT_EQ(failures, std::vector<CmdType>{CmdGET});
  EXPECT_FALSE(succeeded);

  // 401 asks for credentials as well; a status line without a number counts as success.
  ScriptedPeer guarded({{"HTTP/1.0 401 Unauthorized\r\n\r\n"}, {"HTTP/1.0 OK\r\n\r\nodd"}});
  int authentications = 0;
  http.OnAuthenticationNeeded = [&](TComponent& sender) {
    EXPECT_EQ(&sender, &http);
    ++authentications;
  };
  http.Get(guarded.base() + "/private");
  EXPECT_EQ(authentications, 1);
  EXPECT_EQ(failures.size(), 2u);
  http.Get(guarded.base() + "/odd");
  EXPECT_EQ(http.ReplyNumber, 0);
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(http.Body, "odd");
  EXPECT_EQ(authentications, 1);
}

TEST_F(HttpClient, RedirectsFollowPathsAndBareNamesAndCarryTheCookie) {
  ScriptedPeer peer({{"HTTP/1.0 302 Found\r\nSet-Cookie: id=42\r\nLOCATION: /next\r\n\r\nmoved"},
                     {"HTTP/1.0 301 Moved\r\nlocation: page.html\r\n\r\n"},
                     {"HTTP/1.0 200 OK\r\nSet-Cookie: late=1\r\n\r\nfinal"},
                     {"HTTP/1.0 200 OK\r\n\r\nagain"}});
  int redirects = 0;
  http.OnRedirect = [&](bool& handled) {
    ++redirects;
    EXPECT_FALSE(handled);
  };
  http.Get(peer.base() + "/start");
  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], PlainGet("/start", "127.0.0.1"));
  const std::string withCookie =
      std::string("Host: 127.0.0.1\r\n") + kAccepts + "Cookie: id=42\r\n" + kContentType + "\r\n";
  EXPECT_EQ(requests[1], "GET /next HTTP/1.0\r\n" + withCookie);
  // A bare name is taken from the root of the same server, on its port.
  EXPECT_EQ(requests[2], "GET /page.html HTTP/1.0\r\n" + withCookie);
  EXPECT_EQ(http.RequestUrl, peer.base() + "/page.html");
  EXPECT_EQ(redirects, 2);
  EXPECT_EQ(http.Body, "final");
  EXPECT_EQ(http.ReplyNumber, 200);
  // A cookie set by a 200 answer is only handed over, not sent again.
  EXPECT_EQ(http.ReceivedCookie, "late=1");
  EXPECT_EQ(http.HeaderInfo.Cookie, "id=42");

  // The redirect's cookie goes with every later request of the component.
  http.Get(peer.base() + "/later");
  ASSERT_EQ(peer.requests().size(), 4u);
  EXPECT_EQ(peer.requests()[3], "GET /later HTTP/1.0\r\n" + withCookie);
  EXPECT_EQ(http.ReceivedCookie, "");
}

TEST_F(HttpClient, HandledRedirectEndsTheRequestWithTheRedirectAnswer) {
  const std::string head = "HTTP/1.0 303 See Other\r\nLocation: /elsewhere\r\n\r\n";
  ScriptedPeer peer({{head + "see other"}, {"HTTP/1.0 200 OK\r\n\r\nnot wanted"}});
  http.OnRedirect = [](bool& handled) { handled = true; };
  http.Get(peer.base() + "/a");
  EXPECT_EQ(peer.connections(), 1);
  EXPECT_EQ(http.ReplyNumber, 303);
  EXPECT_EQ(http.Header, head);
  EXPECT_EQ(http.Body, "see other");
  EXPECT_EQ(http.RequestUrl, "/elsewhere");
}

TEST_F(HttpClient, EndlessRedirectsStopAfterTwentyExchanges) {
  // A 3xx without Location repeats the same URL, like a redirect cycle.
  ScriptedPeer peer(
      {{"HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n"}, {"HTTP/1.0 307 Again\r\n\r\n"}});
  try {
    http.Get(peer.base() + "/loop");
    FAIL() << "no error";
  } catch (const ESockError& e) {
    EXPECT_NE(std::string(e.what()).find("20 exchanges"), std::string::npos) << e.what();
  }
  EXPECT_EQ(peer.connections(), TNMHTTP::kMaxExchanges);
  for (const auto& r : peer.requests()) EXPECT_EQ(r.substr(0, 14), "GET /loop HTTP");
}

TEST_F(HttpClient, SilentPeerEndsTheWaitWithAnAnswerTimeout) {
  http.TimeOut = 300;
  // Stops in the middle of a header line, then in the body; the connection stays open.
  for (const std::string& partial :
       {std::string("HTTP/1.0 200 OK\r\nContent-Ty"), std::string("HTTP/1.0 200 OK\r\n\r\nhalf")}) {
    ScriptedPeer peer({{partial, true}});
    try {
      http.Get(peer.base() + "/slow");
      FAIL() << "no error";
    } catch (const ESockError& e) {
      EXPECT_NE(typeid(e), typeid(EAbortError));
      EXPECT_EQ(std::string(e.what()), "The answer timed out (no data for 300 ms)");
    }
    EXPECT_FALSE(http.Connected);
  }
  // The component is usable again afterwards.
  ScriptedPeer peer({{"HTTP/1.0 200 OK\r\n\r\nfine"}});
  http.Get(peer.base() + "/");
  EXPECT_EQ(http.Body, "fine");
}

TEST_F(HttpClient, FailuresBeforeTheAnswerKeepThePreviousAnswer) {
  ScriptedPeer peer({{"HTTP/1.0 200 OK\r\nSet-Cookie: c=1\r\n\r\nold body"}});
  http.Get(peer.base() + "/");
  bool aboutToSend = false;
  http.OnAboutToSend = [&](TComponent&) { aboutToSend = true; };
  try {
    http.Get("");
    FAIL() << "no error";
  } catch (const ESockError&) {
    FAIL() << "Empty URL is a general error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Empty URL");
  }
  EXPECT_FALSE(aboutToSend);
  EXPECT_THROW(http.Get("http://127.0.0.1:port/"), EConvertError);
  EXPECT_EQ(peer.connections(), 1);

  EXPECT_THROW(http.Get("http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/"),
               ESockError);
  EXPECT_TRUE(aboutToSend);
  EXPECT_EQ(http.Body, "old body");
  EXPECT_EQ(http.ReceivedCookie, "c=1");
}

TEST_F(HttpClient, PostSendsTheDecodedDataWholeThenLaterExchangesAreGets) {
  ScriptedPeer peer(
      {{"HTTP/1.0 302 Found\r\nLocation: /done\r\n\r\n"}, {"HTTP/1.0 200 OK\r\n\r\nok"}});
  std::vector<CmdType> kinds;
  http.OnSuccess = [&](CmdType cmd) { kinds.push_back(cmd); };
  const std::string big(20000, 'x');
  http.Post(peer.base() + "/form", "a=1+2%00b%26" + big);
  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string data = std::string("a=1 2\0b&", 8) + big;
  EXPECT_EQ(requests[0], "POST /form HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kAccepts) +
                             kContentType + "Content-Length: " + std::to_string(data.size()) +
                             "\r\n\r\n" + data);
  EXPECT_EQ(requests[1], PlainGet("/done", "127.0.0.1"));
  EXPECT_EQ(kinds, std::vector<CmdType>{CmdGET});  // the 200 came from the follow-up GET
  EXPECT_EQ(http.CurrentCmd, CmdGET);
}

TEST_F(HttpClient, OtherKindsOnTheWire) {
  ScriptedPeer peer({{"HTTP/1.0 200 OK\r\n\r\n"}});
  std::vector<CmdType> kinds;
  http.OnSuccess = [&](CmdType cmd) { kinds.push_back(cmd); };
  http.Link(peer.base() + "/doc", "<http://x/y>; rel=next");
  http.Raw(peer.base() + "/ignored", "PROPFIND /r HTTP/1.0\r\nDepth: 0\r\n\r\n");
  http.Copy(peer.base() + "/a", "/b");
  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], "LINK /doc HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kAccepts) +
                             kContentType + "Link: <http://x/y>; rel=next\r\n\r\n");
  EXPECT_EQ(requests[1], "PROPFIND /r HTTP/1.0\r\nDepth: 0\r\n\r\n");
  EXPECT_EQ(requests[2], "COPY /a HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kAccepts) +
                             kContentType + "URI-header: /b\r\n\r\n");
  EXPECT_EQ(kinds, (std::vector<CmdType>{CmdLINK, CmdRAW, CmdCOPY}));
}

TEST_F(HttpClient, FileModes) {
  test::TempDir dir;
  test::WriteFile(dir.file("send.bin"), std::string("PUT\0DATA", 8));
  const std::string head = "HTTP/1.0 201 Created\r\nX: y\r\n\r\n";
  ScriptedPeer peer({{head + std::string("stored\0!", 8)}});
  http.OutputFileMode = true;
  http.InputFileMode = true;
  http.Header = dir.file("head.txt");
  http.Body = dir.file("body.bin");
  http.Put(peer.base() + "/f", dir.file("send.bin"));
  ASSERT_EQ(peer.requests().size(), 1u);
  EXPECT_EQ(peer.requests()[0], "PUT /f HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kAccepts) +
                                    kContentType + "Content-Length: 8\r\n\r\n" +
                                    std::string("PUT\0DATA", 8));
  EXPECT_EQ(test::ReadFile(dir.file("head.txt")), head);
  EXPECT_EQ(test::ReadFile(dir.file("body.bin")), std::string("stored\0!", 8));
  EXPECT_EQ(http.Header, dir.file("head.txt"));
  EXPECT_EQ(http.ReplyNumber, 201);
}

}  // namespace
}  // namespace ventari
