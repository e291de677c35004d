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
  // The announced length of the data text is honoured: it follows the head.
  EXPECT_EQ(requests[0], "LINK /doc HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kAccepts) +
                             kContentType +
                             "Link: <http://x/y>; rel=next\r\nContent-Length: 8\r\n\r\nSend.dat");
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

namespace ventari {
namespace {

// The message of the ESockError that `get` raises; "" when it raises none.
template <class Get>
std::string SockErrorOf(Get&& get) {
  try {
    get();
  } catch (const ESockError& e) {
    return e.what();
  }
  return {};
}

TEST_F(HttpClient, TrickleIsEndedByTheTotalBoundAndTheClientGoesOn) {
  // One byte every 20 ms keeps the answer watch content; only the total bound ends it, in the
  // status line, in the header and in the body.
  http.TotalTimeOut = 300;
  for (const std::string& start : {std::string(), std::string("HTTP/1.0 200 OK\r\nX: "),
                                   std::string("HTTP/1.0 200 OK\r\n\r\nbody")}) {
    ScriptedPeer peer({{start}}, {"x", 20});
    EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + "/slow"); }),
              "The server took too long: no complete answer within 300 ms");
  }
  // The next request of the same component is whole, and not cut short by the last expiry.
  ScriptedPeer fine({{"HTTP/1.0 200 OK\r\n\r\n2030-07-30 18:00:00"}});
  http.Get(fine.base() + "/ok");
  EXPECT_EQ(http.Body, "2030-07-30 18:00:00");
  EXPECT_EQ(http.ReplyNumber, 200);
}

TEST_F(HttpClient, AnswerBoundsOnLinesHeaderAndBody) {
  const std::string status = "HTTP/1.0 200 OK\r\n";
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "X-" + std::to_string(i) + ": v\r\n";
  // The longest line allowed: 8192 bytes with its CR LF.
  const std::string longest = "X-Long: " + std::string(8192 - 10, 'a') + "\r\n";
  const std::string mib(1 << 20, 'b');
  {
    ScriptedPeer peer({{status + hundred + "\r\n" + mib}, {status + longest + "\r\nok"}});
    http.Get(peer.base() + "/hundred-lines-and-1-MiB");
    EXPECT_EQ(http.Body, mib);
    EXPECT_EQ(http.Header, status + hundred + "\r\n");
    http.Get(peer.base() + "/longest-line");
    EXPECT_EQ(http.Body, "ok");
  }

  ScriptedPeer endless({{status + "X-Long: "}}, {std::string(4096, 'a'), 0});
  http.Body = "previous";
  EXPECT_EQ(SockErrorOf([&] { http.Get(endless.base() + "/endless-line"); }),
            "Received line longer than 8192 bytes");
  EXPECT_EQ(http.Header, "");  // nothing half-read is kept

  ScriptedPeer peer({{status + hundred + "X-100: v\r\n\r\nbody"},
                     {status + "\r\n" + mib + mib},
                     {status + "X-Long: " + std::string(8192 - 9, 'a') + "\r\n\r\n"},
                     {"HTTP/1.0 200 OK\r\n\r\nafter"}});
  EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + "/101-lines"); }),
            "Answer header of more than 100 lines");
  EXPECT_EQ(http.Header, "");
  EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + "/2-MiB-body"); }),
            "Received data longer than 1048576 bytes");
  EXPECT_EQ(http.Body, "");
  EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + "/one-byte-too-long"); }),
            "Received line longer than 8192 bytes");
  // Nothing of a refused answer is taken for the start of the next one.
  http.Get(peer.base() + "/after");
  EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(http.Body, "after");
  EXPECT_EQ(peer.connections(), 4);
}

TEST_F(HttpClient, ControlCharactersNeverReachTheServer) {
  ScriptedPeer peer({{"HTTP/1.0 302 Found\r\nLocation: /next\tpage\r\n\r\n"}});
  for (const auto& [tail, code] :
       std::vector<std::pair<std::string, std::string>>{{"/p?jeu=a\r\nX-Injected: 1", "0x0D"},
                                                        {"/p?jeu=a\nb", "0x0A"},
                                                        {"/p?jeu=a\x7f", "0x7F"},
                                                        {std::string("/p?jeu=a\0b", 10), "0x00"}}) {
    EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + tail); }),
              "Control character " + code + " in the request: request not sent");
  }
  EXPECT_EQ(peer.connections(), 0);
  // A Location value is checked as any URL before it is asked for.
  EXPECT_EQ(SockErrorOf([&] { http.Get(peer.base() + "/start"); }),
            "Control character 0x09 in the request: request not sent");
  EXPECT_EQ(peer.connections(), 1);
}

TEST_F(HttpClient, RedirectCookieGoesOnlyToTheHostThatSetIt) {
  ScriptedPeer other({{"HTTP/1.0 200 OK\r\n\r\nother"}});
  const std::string otherUrl = "http://localhost:" + std::to_string(other.port()) + "/there";
  ScriptedPeer setter(
      {{"HTTP/1.0 302 Found\r\nSet-Cookie: id=42\r\nLocation: " + otherUrl + "\r\n\r\n"},
       {"HTTP/1.0 200 OK\r\n\r\nback"}});
  http.Get(setter.base() + "/start");
  EXPECT_EQ(http.Body, "other");
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_EQ(other.requests()[0], PlainGet("/there", "localhost"));
  // Back on the host that set it, the cookie is sent again.
  http.Get(setter.base() + "/back");
  ASSERT_EQ(setter.requests().size(), 2u);
  EXPECT_NE(setter.requests()[1].find("\r\nCookie: id=42\r\n"), std::string::npos);
  // A cookie the user puts in HeaderInfo goes everywhere.
  http.HeaderInfo.Cookie = "mine=1";
  http.Get(otherUrl);
  ASSERT_EQ(other.requests().size(), 2u);
  EXPECT_NE(other.requests()[1].find("\r\nCookie: mine=1\r\n"), std::string::npos);
}

TEST_F(HttpClient, RequestHeadGoesOutThroughWrite) {
  ScriptedPeer peer({{"HTTP/1.0 200 OK\r\n\r\n"}});
  std::vector<std::string> statuses;
  http.ReportLevel = 8;
  http.OnStatus = [&](TComponent&, const std::string& s) { statuses.push_back(s); };
  http.Get(peer.base() + "/p");
  const auto write = std::find(statuses.begin(), statuses.end(), "Write");
  ASSERT_NE(write, statuses.end());
  EXPECT_EQ(*std::next(write), "Sending Buffer");
  // A head longer than one Write's buffer is sent whole, not cut.
  ScriptedPeer big({{"HTTP/1.0 200 OK\r\n\r\n"}});
  http.HeaderInfo.Referer = std::string(20000, 'r');
  http.Get(big.base() + "/p");
  ASSERT_EQ(big.requests().size(), 1u);
  EXPECT_NE(big.requests()[0].find("Referer: " + std::string(20000, 'r') + "\r\n"),
            std::string::npos);
  EXPECT_EQ(big.requests()[0].substr(big.requests()[0].size() - 4), "\r\n\r\n");
}

}  // namespace
}  // namespace ventari
