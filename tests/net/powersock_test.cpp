// The connection component against real loopback peers.

#include "net/powersock.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/pump.h"
#include "platform/errors.h"
#include "tests/net/script_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace ventari {
namespace {

using test::Gate;
using test::PeerConnection;
using test::ScriptPeer;

// Reaches the flags a subclass may read.
class Sock : public TPowersock {
 public:
  bool canceled() const { return Canceled; }
};

// Pump steps until the condition holds, for ten seconds at least.
bool PumpUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) return true;
    PumpStep();
  }
  return condition();
}

template <typename E, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing raised)";
}

void ConnectTo(TPowersock& sock, uint16_t port) {
  sock.Host = "127.0.0.1";
  sock.Port = port;
  sock.Connect();
}

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed + i / 7919) & 0xFF);
  return s;
}

TEST(SocketErrors, TextsAndNumbers) {
  EXPECT_EQ(SocketErrorText(10060), "10060:Connection timed out");
  EXPECT_EQ(SocketErrorText(10061), "10061:Connection refused");
  EXPECT_EQ(SocketErrorText(11004), "11004:Valid name, no data record of requested type");
  EXPECT_EQ(SocketErrorText(0), "");
  EXPECT_EQ(SocketErrorText(12345), "Unknown Error No. 12345");
  int rows = 0;
  for (int n = 10000; n < 11100; ++n) rows += SocketErrorText(n).rfind("Unknown", 0) != 0;
  EXPECT_EQ(rows, 50);
  EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(SocketErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(SocketErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(SocketErrorFromErrno(EINPROGRESS), 10036);
}

TEST(Powersock, ComponentCountAndStatusLevels) {
  const int before = TPowersock::WinsockUsers();
  std::vector<std::string> statuses;
  {
    auto first = std::make_unique<TPowersock>();
    TPowersock second;
    EXPECT_EQ(TPowersock::WinsockUsers(), before + 2);
    first->OnStatus = [&](TComponent&, const std::string& s) { statuses.push_back(s); };
    first->OnDisconnect = [&](TComponent&) { statuses.push_back("disconnected"); };
    first->ReportLevel = 4;
    first->Cancel();  // level 8: not reported
    // Only the first socket resets its connection when closed.
    auto lingers = [&] {
      linger l{};
      socklen_t len = sizeof l;
      ::getsockopt(first->SocketHandle(), SOL_SOCKET, SO_LINGER, &l, &len);
      return l.l_onoff != 0 && l.l_linger == 0;
    };
    EXPECT_TRUE(lingers());
    first->Disconnect();
    EXPECT_GE(first->SocketHandle(), 0);
    EXPECT_FALSE(lingers());
    EXPECT_EQ(first->SocketErrorText(10054), "10054:Connection reset by peer");
    first.reset();  // nothing is reported while it is destroyed
    EXPECT_EQ(TPowersock::WinsockUsers(), before + 1);
  }
  EXPECT_EQ(TPowersock::WinsockUsers(), before);
  EXPECT_EQ(statuses, (std::vector<std::string>{"Request Close Socket", "disconnected"}));
}

TEST(Powersock, LinesThenBodyAsOneChunk) {
  ScriptPeer peer;
  std::string request;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    request = c.Receive(18);
    c.Send("HTTP/1.0 200 OK\r\nServer: x\r\n\r\n<html>body</html>");
    c.Close();
  });
  Sock sock;
  int connects = 0;
  sock.OnConnect = [&](TComponent&) { ++connects; };
  ConnectTo(sock, peer.port());
  EXPECT_TRUE(sock.Connected);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Already connected");
  sock.Write("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(sock.ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(sock.ReadLn(), "Server: x\r\n");
  EXPECT_EQ(sock.ReadLn(), "\r\n");
  std::string body;
  sock.CaptureString(body, -1);
  EXPECT_EQ(body, "<html>body</html>");
  EXPECT_FALSE(sock.Connected);
  peer.Join();
  EXPECT_EQ(request, "GET / HTTP/1.0\r\n\r\n");
  // The peer has gone and no line is buffered: the read ends instead of waiting for ever.
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.ReadLn(); }), "Connection closed before end of line");
}

TEST(Powersock, LineSplitAcrossChunksAndCaptureCounts) {
  ScriptPeer peer;
  std::atomic<int> sockFd{-1};
  Gate more;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    c.Send("HTTP/1.0 2");
    c.WaitConsumed(sockFd);
    c.Send("00 OK\r\n\n0123456789");
    if (!more.Wait()) return;
    c.Send("abcdefghij");
    c.Close();
  });
  Sock sock;
  ConnectTo(sock, peer.port());
  sockFd = sock.SocketHandle();
  EXPECT_EQ(sock.ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(sock.ReadLn(), "\n");
  std::string text = "old";
  sock.CaptureString(text, 0);
  EXPECT_EQ(text, "");
  sock.CaptureString(text, -2);
  EXPECT_EQ(text, "");
  sock.CaptureString(text, 3);  // whole chunks are taken
  EXPECT_EQ(text, "0123456789");
  more.Open();
  // The peer closes before the count is reached: what came is kept, the shortfall is raised.
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.CaptureString(text, 100); }),
            "Connection closed before all data arrived");
  EXPECT_EQ(text, "abcdefghij");
}

TEST(Powersock, CaptureFileStartsWithBufferedBytes) {
  test::TempDir dir;
  ScriptPeer peer;
  Gate rest;
  const std::string big = Pattern(300000, 7);
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    c.Send("head\r\nAAAA");
    if (rest.Wait()) c.Send(big);
    c.Close();
    PeerConnection d = p.Accept();  // already closed when the capture starts
    d.Send("x\nCCCC");
    d.Close();
    PeerConnection e = p.Accept();
    e.Send("y\nDDDD");
    e.Close();
  });
  Sock sock;
  int packets = 0;
  sock.OnPacketRecvd = [&](TComponent&) { ++packets; };
  ConnectTo(sock, peer.port());
  EXPECT_EQ(sock.ReadLn(), "head\r\n");
  rest.Open();
  sock.CaptureFile(dir.file("body.bin"));
  EXPECT_EQ(test::ReadFile(dir.file("body.bin")), "AAAA" + big);
  EXPECT_EQ(sock.BytesRecvd, static_cast<int32_t>(4 + big.size()));
  EXPECT_GT(packets, 0);

  ConnectTo(sock, peer.port());
  EXPECT_EQ(sock.ReadLn(), "x\n");
  EXPECT_TRUE(PumpUntil([&] { return !sock.Connected; }));
  test::WriteFile(dir.file("old.bin"), "something longer than the new content");
  sock.CaptureFile(dir.file("old.bin"));
  EXPECT_EQ(test::ReadFile(dir.file("old.bin")), "CCCC");

  // A full disk is raised, not lost.
  ConnectTo(sock, peer.port());
  EXPECT_EQ(sock.ReadLn(), "y\n");
  EXPECT_EQ(MessageOf<EInOutError>([&] { sock.CaptureFile("/dev/full"); }), "Disk full");
  EXPECT_EQ(MessageOf<EInOutError>([&] { sock.CaptureFile(dir.file("no/such/folder")); }),
            "File not found");
}

TEST(Powersock, WriteCutsAtZeroAndAtTheBufferRoom) {
  ScriptPeer peer;
  std::string received;
  peer.Start([&](ScriptPeer& p) { received = p.Accept().ReceiveUntilClose(); });
  Sock sock;
  ConnectTo(sock, peer.port());
  sock.Write(std::string("abc\0def", 7));
  sock.Write("");  // nothing to send must not wait for ever
  sock.Write(std::string("\0xyz", 4));
  sock.Writeln("line");
  sock.Write(std::string(20000, 'w'));
  sock.SendBuffer("buffer\0tail", 0);
  sock.SendBuffer("buffer\0tail", 11);
  sock.Disconnect();
  peer.Join();
  EXPECT_EQ(received,
            "abc"
            "line\r\n" +
                std::string(16384, 'w') + "buffer" + std::string("buffer\0tail", 11));
}

TEST(Powersock, CancelDuringReadLnLeavesCanceledSet) {
  ScriptPeer peer;
  std::string afterCancel;
  peer.Start([&](ScriptPeer& p) {
    afterCancel = p.Accept().ReceiveUntilClose();
    PeerConnection second = p.Accept();
    second.ReceiveUntilClose();
  });
  Sock sock;
  ConnectTo(sock, peer.port());
  QTimer::singleShot(50, [&] { sock.Cancel(); });
  EXPECT_EQ(MessageOf<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
  EXPECT_TRUE(sock.canceled());
  sock.Write("never sent");  // returns at once while Canceled is set
  EXPECT_EQ(MessageOf<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
  std::string text;
  EXPECT_EQ(MessageOf<EAbortError>([&] { sock.CaptureString(text, -1); }),
            "Socket capture aborted");
  EXPECT_FALSE(sock.canceled());  // the capture cleared it
  sock.Cancel();
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Accept(); }), "Accepting Canceled");
  sock.Disconnect();
  sock.Cancel();
  ConnectTo(sock, peer.port());  // clears it
  EXPECT_FALSE(sock.canceled());
  sock.Disconnect();
  peer.Join();
  EXPECT_EQ(afterCancel, "");
}

TEST(Powersock, ResolutionPaths) {
  ScriptPeer peer;
  peer.Start([](ScriptPeer& p) {
    for (int i = 0; i < 3; ++i) p.Accept().ReceiveUntilClose();
  });
  Sock sock;
  std::vector<std::string> statuses;
  int resolved = 0;
  sock.ReportLevel = 8;
  sock.OnStatus = [&](TComponent&, const std::string& s) {
    if (s.rfind("Timer O", 0) == 0) statuses.push_back(s);
  };
  sock.OnHostResolved = [&](TComponent&) { ++resolved; };

  ConnectTo(sock, peer.port());  // a dotted address needs no look-up: one timer, for the connect
  EXPECT_EQ(statuses, (std::vector<std::string>{"Timer On", "Timer Off"}));
  EXPECT_EQ(resolved, 0);
  sock.Disconnect();

  statuses.clear();
  sock.Host = "localhost";
  sock.Port = 65536 + peer.port();  // only the low 16 bits count
  sock.Connect();
  EXPECT_EQ(statuses.size(), 4u);
  EXPECT_EQ(resolved, 1);
  sock.Disconnect();

  // With a proxy, Host and Port are not used.
  sock.Host = "no-such-host.invalid";
  sock.Port = 1;
  sock.Proxy = "127.0.0.1";
  sock.ProxyPort = 3 * 65536 + peer.port();
  sock.Connect();
  EXPECT_TRUE(sock.Connected);
  sock.Disconnect();
  peer.Join();

  // 255.255.255.255 fails the dotted test and goes through the look-up.
  sock.Proxy = "255.255.255.255";
  resolved = 0;
  EXPECT_THROW(sock.Connect(), ESockError);
  EXPECT_EQ(resolved, 1);
}

TEST(Powersock, UnresolvableNamesAndTheInvalidHostRetry) {
  ScriptPeer peer;
  peer.Start([](ScriptPeer& p) { p.Accept().ReceiveUntilClose(); });
  Sock sock;
  sock.Port = peer.port();
  for (const std::string& name : {std::string("no-such-host.invalid"), std::string(),
                                  std::string(200, 'x') + ".invalid", std::string("a\0b", 3)}) {
    sock.Host = name;
    EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Null Remote Address");
  }
  int calls = 0;
  sock.OnInvalidHost = [&](bool& handled) {
    ++calls;
    handled = calls != 1;
    sock.Host = calls == 3 ? "localhost" : "still-nothing.invalid";
  };
  sock.Host = "no-such-host.invalid";
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Null Remote Address");  // not handled
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Null Remote Address");  // one retry
  EXPECT_EQ(calls, 2);
  sock.Host = "no-such-host.invalid";
  sock.Connect();  // the handler's name works
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(sock.Connected);
  sock.Disconnect();
}

TEST(Powersock, RefusedConnectionThenSameSocketConnects) {
  Sock sock;
  int failures = 0;
  sock.OnConnectionFailed = [&](TComponent&) { ++failures; };
  sock.Host = "127.0.0.1";
  sock.Port = test::ClosedPort();
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Connection Failed");
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(sock.LastErrorNo, 10061);
  ScriptPeer peer;
  peer.Start([](ScriptPeer& p) { p.Accept().ReceiveUntilClose(); });
  // What a handler raises stays inside the notice's dispatch.
  sock.OnConnect = [](TComponent&) { throw ESockError("from a handler"); };
  ConnectTo(sock, peer.port());
  EXPECT_TRUE(sock.Connected);
  sock.Disconnect();
}

TEST(Powersock, ConnectThatNeverCompletesTimesOut) {
  ScriptPeer full(0);  // a backlog of one, filled by the first connection
  int fill = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(full.port());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fill, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  Sock sock;
  int failures = 0;
  sock.OnConnectionFailed = [&](TComponent&) { ++failures; };
  sock.TimeOut = 200;
  EXPECT_EQ(MessageOf<ESockError>([&] { ConnectTo(sock, full.port()); }), "Connection Timed out");
  EXPECT_EQ(failures, 1);
  // The failed socket is kept, still connecting.
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "10037:Operation already in progress");

  // A negative time-out sets no limit: only Cancel ends the wait.
  Sock other;
  other.TimeOut = -5;
  QTimer::singleShot(300, [&] { other.Cancel(); });
  EXPECT_EQ(MessageOf<ESockError>([&] { ConnectTo(other, full.port()); }), "Connection Canceled");
  other.Disconnect();

  // Room in the queue: the late connection completes on the kept socket.
  full.Start([](ScriptPeer& p) {
    PeerConnection first = p.Accept();
    p.Accept().ReceiveUntilClose();
  });
  EXPECT_TRUE(PumpUntil([&] { return sock.Connected; }));
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Connect(); }), "Already connected");
  sock.Disconnect();
  ::close(fill);
}

TEST(Powersock, TimerKeepsFiringDuringALongWait) {
  std::atomic<int> ticks{0};
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
  timer.start(5);
  std::atomic<int> start{INT32_MAX - 100};
  ScriptPeer peer;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    // Answers only once the window's timer has ticked ten times during the read.
    if (!test::WaitUntil([&] { return ticks >= start + 10; }))
      ADD_FAILURE() << "the peer gave up waiting for ten ticks";
    c.Send("done\n");
    c.ReceiveUntilClose();
  });
  Sock sock;
  ConnectTo(sock, peer.port());
  const int before = ticks;
  start = before;
  EXPECT_EQ(sock.ReadLn(), "done\n");
  EXPECT_GE(ticks - before, 10);
  sock.Disconnect();
}

TEST(Powersock, BoundedLinesAndCapturesHoldLittleAndDropWhatTheyRefuse) {
  // A line arriving in pieces is found once its LF comes, also far beyond the buffer room
  // without a bound; with a bound, a line one byte too long is refused and dropped.
  const std::string big = std::string(200000, 'a') + "\n";
  const std::string fits = std::string(99, 'b') + "\n";
  const std::string tooLong = std::string(100, 'c') + "\n";
  const std::string body = Pattern(300000, 7);
  ScriptPeer peer;
  std::atomic<int> sockFd{-1};
  Gate next;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    for (size_t at = 0; at < big.size(); at += 50000) {
      c.Send(std::string_view(big).substr(at, 50000));
      c.WaitConsumed(sockFd);
    }
    if (!next.Wait()) return;
    c.Send(fits + tooLong + "after\n" + body);
    c.Close();
  });
  Sock sock;
  ConnectTo(sock, peer.port());
  sockFd = sock.SocketHandle();
  EXPECT_EQ(sock.ReadLn(), big);

  sock.MaxLineLength = 100;
  sock.MaxCaptureLength = body.size();
  next.Open();
  EXPECT_EQ(sock.ReadLn(), fits);
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.ReadLn(); }), "Received line longer than 100 bytes");
  // The refused line went with what the buffer held behind it, at most its 64 KiB room; the
  // rest waited in the socket and arrives whole, in a capture larger than the room.
  std::string rest;
  sock.MaxLineLength = 0;
  sock.CaptureString(rest, -1);
  const std::string sent = tooLong + "after\n" + body;
  ASSERT_LT(rest.size(), sent.size());
  EXPECT_LE(sent.size() - rest.size(), 65536u);
  EXPECT_EQ(sent.substr(sent.size() - rest.size()), rest);
}

TEST(Powersock, BoundedCaptureRefusesMoreAndKeepsNothing) {
  const std::string body = Pattern(200001, 3);
  ScriptPeer peer;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    c.Send("line without end, longer than the room: " + std::string(70000, 'x'));
    c.ReceiveUntilClose();
    PeerConnection d = p.Accept();
    c.Send(body);
    d.Send(body);
    d.Close();
  });
  Sock sock;
  // Without a line bound, a line that cannot fit the bounded buffer is refused too.
  sock.MaxCaptureLength = 200000;
  ConnectTo(sock, peer.port());
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.ReadLn(); }), "Received line longer than 65536 bytes");
  sock.Disconnect();
  ConnectTo(sock, peer.port());
  std::string text = "old";
  EXPECT_EQ(MessageOf<EBoundError>([&] { sock.CaptureString(text, -1); }),
            "Received data longer than 200000 bytes");
  EXPECT_EQ(text, "");
  sock.Disconnect();
}

TEST(ThreadTimer, HandlerErrorsGoToTheNamedDisplay) {
  TThreadTimer timer;
  std::vector<std::string> shown;
  timer.OnException = [&](const std::string& message) { shown.push_back(message); };
  timer.SetInterval(5);
  timer.SetOnTimer([&](TComponent&) {
    if (shown.size() >= 2) return;
    if (shown.empty()) throw ESockError("first failure");
    throw 42;
  });
  EXPECT_TRUE(PumpUntil([&] { return shown.size() >= 2; }));
  timer.SetEnabled(false);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "first failure");
  EXPECT_EQ(shown[1], "Unknown error in the timer handler");

  // The component's time-out timer hands its handler's errors to the component's display: a
  // status handler that fails once, when the time-out first fires during a connect that never
  // completes; the timer fires again and the time-out takes effect.
  ScriptPeer full(0);
  const int fill = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(full.port());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fill, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  Sock sock;
  std::vector<std::string> display;
  sock.OnException = [&](const std::string& message) { display.push_back(message); };
  sock.ReportLevel = 8;
  bool failed = false;
  sock.OnStatus = [&](TComponent&, const std::string& status) {
    if (status == "Timer Triggered" && !std::exchange(failed, true))
      throw Exception("status handler failed");
  };
  sock.TimeOut = 50;
  EXPECT_EQ(MessageOf<ESockError>([&] { ConnectTo(sock, full.port()); }), "Connection Timed out");
  EXPECT_EQ(display, std::vector<std::string>{"status handler failed"});
  ::close(fill);
}

TEST(Powersock, BrokenConnectionEndsSends) {
  test::TempDir dir;
  test::WriteFile(dir.file("big.bin"), Pattern(16 << 20, 3));
  ScriptPeer peer;
  Gate connected;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection first = p.Accept();
    if (connected.Wait()) first.Reset();
    PeerConnection c = p.Accept();
    c.Receive(1);
    c.Reset();
  });
  Sock sock;
  int disconnects = 0;
  sock.OnDisconnect = [&](TComponent&) { ++disconnects; };
  ConnectTo(sock, peer.port());
  connected.Open();
  EXPECT_TRUE(PumpUntil([&] { return !sock.Connected; }));  // the reset is the peer's close
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(MessageOf<ESockError>([&] { sock.Write("late"); }), "10057:Socket is not connected");

  ConnectTo(sock, peer.port());
  EXPECT_THROW(sock.SendFile(dir.file("big.bin")), ESockError);
  EXPECT_EQ(MessageOf<EInOutError>([&] { sock.SendFile(dir.file("missing")); }), "File not found");
}

TEST(Powersock, LargeTransfersArriveWhole) {
  test::TempDir dir;
  const std::string up = Pattern(6 << 20, 1);
  const std::string down = Pattern(5 << 20, 2);
  const std::string viaWrites = Pattern(1 << 20, 5);
  test::WriteFile(dir.file("up.bin"), up);
  std::string gotUp, gotWrites;
  ScriptPeer peer;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    gotUp = c.Receive(up.size());
    gotWrites = c.Receive(viaWrites.size());
    c.Send(down);
    c.Close();
    PeerConnection d = p.Accept();
    d.Send(down);
    d.Close();
  });
  Sock sock;
  int sentPackets = 0;
  sock.OnPacketSent = [&](TComponent&) { ++sentPackets; };
  ConnectTo(sock, peer.port());
  sock.SendFile(dir.file("up.bin"));
  EXPECT_EQ(sock.BytesTotal, static_cast<int32_t>(up.size()));
  EXPECT_EQ(sock.BytesSent, static_cast<int32_t>(up.size()));
  EXPECT_GE(sentPackets, static_cast<int>(up.size() / 16383));
  for (size_t i = 0; i < viaWrites.size(); i += 60000)
    sock.SendBuffer(viaWrites.data() + i,
                    static_cast<uint16_t>(std::min<size_t>(60000, viaWrites.size() - i)));
  std::string body;
  sock.CaptureString(body, -1);
  EXPECT_TRUE(body == down) << body.size();
  ConnectTo(sock, peer.port());
  sock.CaptureFile(dir.file("down.bin"));
  EXPECT_TRUE(test::ReadFile(dir.file("down.bin")) == down);
  peer.Join();
  EXPECT_TRUE(gotUp == up) << gotUp.size();
  EXPECT_TRUE(gotWrites == viaWrites) << gotWrites.size();
}

TEST(Powersock, TransactionReplyNumbers) {
  ScriptPeer peer;
  std::string commands;
  peer.Start([&](ScriptPeer& p) {
    PeerConnection c = p.Accept();
    for (const char* reply : {"250 OK\r\n", "99999999999 big\r\n", "abc\r\n"}) {
      commands += c.Receive(7);
      c.Send(reply);
    }
    c.ReceiveUntilClose();
  });
  Sock sock;
  std::vector<std::string> statuses;
  sock.ReportLevel = 1;
  sock.OnStatus = [&](TComponent&, const std::string& s) { statuses.push_back(s); };
  ConnectTo(sock, peer.port());
  EXPECT_EQ(sock.Transaction("CMD 1"), "250 OK\r\n");
  EXPECT_EQ(sock.ReplyNumber, 250);
  sock.Transaction("CMD 2");
  EXPECT_EQ(sock.ReplyNumber, 32767);
  sock.Transaction("CMD 3");
  EXPECT_EQ(sock.ReplyNumber, 0);
  EXPECT_EQ(sock.LastReply, "abc\r\n");
  sock.Disconnect();
  peer.Join();
  EXPECT_EQ(commands, "CMD 1\r\nCMD 2\r\nCMD 3\r\n");
  EXPECT_EQ(statuses, (std::vector<std::string>{"250 OK\r\n", "99999999999 big\r\n", "abc\r\n"}));
}

// A real web server on a free loopback port, serving one folder.
class PythonWebServer {
 public:
  explicit PythonWebServer(const std::string& folder) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const char* argv[] = {"/usr/bin/python3", "-u",        "-m",          "http.server",  "0",
                          "--bind",           "127.0.0.1", "--directory", folder.c_str(), nullptr};
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // It is ready once it says where it listens: "Serving HTTP on 127.0.0.1 port N ...".
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) line += c;
    ::close(out[0]);
    const size_t at = line.find(" port ");
    if (at != std::string::npos) m_port = static_cast<uint16_t>(std::stoi(line.substr(at + 6)));
  }
  ~PythonWebServer() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
  uint16_t port() const { return m_port; }

 private:
  pid_t m_pid = -1;
  uint16_t m_port = 0;
};

TEST(Powersock, RoundAgainstARealWebServer) {
  test::TempDir dir;
  const std::string page = "<html><body>deadline: 2024-05-01 12:00</body></html>\n";
  test::WriteFile(dir.file("page.html"), page);
  PythonWebServer server(dir.path());
  ASSERT_NE(server.port(), 0);
  Sock sock;
  ConnectTo(sock, server.port());
  sock.Write("GET /page.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string status = sock.ReadLn();
  EXPECT_EQ(status.rfind("HTTP/1.0 200 OK", 0), 0u) << status;
  EXPECT_EQ(status.substr(status.size() - 2), "\r\n");
  std::vector<std::string> header;
  for (std::string line = sock.ReadLn(); line != "\r\n"; line = sock.ReadLn())
    header.push_back(line);
  EXPECT_NE(std::find(header.begin(), header.end(),
                      "Content-Length: " + std::to_string(page.size()) + "\r\n"),
            header.end());
  std::string body;
  sock.CaptureString(body, -1);
  EXPECT_EQ(body, page);
  sock.Disconnect();
  EXPECT_FALSE(sock.Connected);
}

}  // namespace
}  // namespace ventari

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ventari::test::OnPeerGaveUp([](const std::string& what) { ADD_FAILURE() << what; });
  return RUN_ALL_TESTS();
}
