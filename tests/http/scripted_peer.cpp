#include "tests/http/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace ventari::test {

namespace {

int ListenOnLoopback(int& port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      (backlog > 0 && ::listen(fd, backlog) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// Waits up to `ms` for the descriptor to be readable.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

std::size_t RequestBodyLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length: ");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoul(head.c_str() + at + 18, nullptr, 10));
}

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerReply> replies, EndlessTail tail)
    : m_replies(std::move(replies)), m_tail(std::move(tail)) {
  m_listen = ListenOnLoopback(m_port, 64);
  if (m_listen < 0) ADD_FAILURE() << "cannot listen on loopback";
  // Listening before the thread starts: the port is ready once the constructor returns.
  m_thread = std::thread([this] { Serve(); });
}

ScriptedPeer::~ScriptedPeer() {
  m_stop = true;
  m_thread.join();
  if (m_listen >= 0) ::close(m_listen);
}

std::string ScriptedPeer::base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

std::vector<std::string> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

void ScriptedPeer::Serve() {
  while (!m_stop && m_listen >= 0) {
    if (!Readable(m_listen, 20)) continue;
    const int fd = ::accept(m_listen, nullptr, nullptr);
    if (fd < 0) continue;
    const int n = m_connections++;
    const PeerReply& reply = m_replies[std::min<std::size_t>(n, m_replies.size() - 1)];
    Handle(fd, reply);
    ::close(fd);
  }
}

void ScriptedPeer::Handle(int fd, const PeerReply& reply) {
  std::string request;
  std::size_t want = std::string::npos;
  char chunk[4096];
  while (!m_stop) {
    if (want == std::string::npos) {
      const std::size_t end = request.find("\r\n\r\n");
      if (end != std::string::npos) want = end + 4 + RequestBodyLength(request.substr(0, end + 2));
    }
    if (want != std::string::npos && request.size() >= want) break;
    if (!Readable(fd, 20)) continue;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    request.append(chunk, static_cast<std::size_t>(n));
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
  }
  if (!SendAll(fd, reply.bytes)) return;
  while (!m_tail.bytes.empty() && !m_stop) {
    if (m_tail.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_tail.pauseMs));
    if (!SendAll(fd, m_tail.bytes)) return;
  }
  // Held open: wait for the client to close its end (or for the test to end).
  while (reply.holdOpen && !m_stop) {
    if (!Readable(fd, 20)) continue;
    if (::recv(fd, chunk, sizeof chunk, 0) <= 0) break;
  }
}

// False when the client has gone (or the test ends) before all was sent.
bool ScriptedPeer::SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !m_stop) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return sent == bytes.size();
}

int ClosedPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port, 0);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace ventari::test
