#include "tests/net/script_peer.h"

#include "tests/support/wait.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace ventari::test {

namespace {

// What the peer waits for the client under test, at most.
int LongWaitMs() { return static_cast<int>(Patience(std::chrono::seconds(20)).count()); }

void SayGaveUp(const std::string& what) { std::fprintf(stderr, "%s\n", what.c_str()); }

GiveUpHandler g_gaveUp = SayGaveUp;

// Waits for the descriptor to become ready; a wait that runs out is reported.
bool Ready(int fd, short events, const char* what) {
  pollfd p{fd, events, 0};
  if (::poll(&p, 1, LongWaitMs()) > 0) return true;
  g_gaveUp(std::string("the peer gave up waiting to ") + what);
  return false;
}

int BoundSocket(uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("cannot bind a loopback port");
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

PeerConnection::PeerConnection(PeerConnection&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

PeerConnection::~PeerConnection() {
  if (m_fd >= 0) ::close(m_fd);
}

void PeerConnection::Send(std::string_view bytes) {
  while (!bytes.empty() && Ready(m_fd, POLLOUT, "send")) {
    const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string PeerConnection::Receive(size_t n) {
  std::string got;
  char chunk[65536];
  while (got.size() < n && Ready(m_fd, POLLIN, "receive")) {
    const ssize_t r = ::recv(m_fd, chunk, std::min(sizeof chunk, n - got.size()), 0);
    if (r <= 0) break;
    got.append(chunk, static_cast<size_t>(r));
  }
  return got;
}

std::string PeerConnection::ReceiveUntilClose() { return Receive(std::string::npos); }

void PeerConnection::WaitConsumed(const std::atomic<int>& otherFd) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LongWaitMs());
  while (std::chrono::steady_clock::now() < end) {
    int unsent = 0;
    int unread = 0;
    const int fd = otherFd.load();
    if (fd >= 0 && ::ioctl(m_fd, SIOCOUTQ, &unsent) == 0 && unsent == 0 &&
        ::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling a condition
  }
  g_gaveUp("the peer gave up waiting for the client to read what it sent");
}

void PeerConnection::Close() {
  if (m_fd < 0) return;
  ::shutdown(m_fd, SHUT_WR);
  ::close(std::exchange(m_fd, -1));
}

void PeerConnection::Reset() {
  if (m_fd < 0) return;
  linger reset{1, 0};
  ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(std::exchange(m_fd, -1));
}

bool Gate::Wait() {
  if (m_future.wait_for(std::chrono::milliseconds(LongWaitMs())) == std::future_status::ready)
    return true;
  g_gaveUp("the peer gave up waiting for the test to open its gate");
  return false;
}

ScriptPeer::ScriptPeer(int backlog) {
  m_listen = BoundSocket(&m_port);
  ::listen(m_listen, backlog);
}

ScriptPeer::~ScriptPeer() {
  Join();
  ::close(m_listen);
}

void ScriptPeer::Start(std::function<void(ScriptPeer&)> script) {
  m_thread = std::thread([this, script = std::move(script)] { script(*this); });
}

void ScriptPeer::Join() {
  if (m_thread.joinable()) m_thread.join();
}

PeerConnection ScriptPeer::Accept() {
  if (!Ready(m_listen, POLLIN, "accept a connection")) return PeerConnection(-1);
  return PeerConnection(::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC));
}

void OnPeerGaveUp(GiveUpHandler handler) { g_gaveUp = handler; }

uint16_t ClosedPort() {
  uint16_t port = 0;
  ::close(BoundSocket(&port));
  return port;
}

}  // namespace ventari::test
