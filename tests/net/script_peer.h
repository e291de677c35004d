#pragma once
// A scripted TCP peer on a free loopback port, run by a thread of the test process with blocking
// sockets. Every wait is bounded, so a failing test never leaves the thread hanging, and a wait
// that runs out is reported (OnPeerGaveUp): a peer that gave up would otherwise pass for the
// client's doing.

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <thread>

namespace ventari::test {

// One accepted connection.
class PeerConnection {
 public:
  explicit PeerConnection(int fd) : m_fd(fd) {}
  PeerConnection(PeerConnection&& other) noexcept;
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;
  ~PeerConnection();

  bool valid() const { return m_fd >= 0; }
  void Send(std::string_view bytes);
  // Up to n bytes, fewer when the other side closes first.
  std::string Receive(size_t n);
  // Everything until the other side closes or resets.
  std::string ReceiveUntilClose();
  // Waits until the bytes sent so far have been read by the application behind `otherFd`.
  void WaitConsumed(const std::atomic<int>& otherFd);
  void Close();  // orderly: the other side reads an end
  void Reset();  // abortive: the other side sees a reset

 private:
  int m_fd;
};

// Opened once by the test thread, awaited by the peer.
class Gate {
 public:
  void Open() { m_promise.set_value(); }
  bool Wait();  // false, reported, when it stayed shut for a long time

 private:
  std::promise<void> m_promise;
  std::shared_future<void> m_future = m_promise.get_future().share();
};

class ScriptPeer {
 public:
  explicit ScriptPeer(int backlog = 8);
  ~ScriptPeer();
  ScriptPeer(const ScriptPeer&) = delete;
  ScriptPeer& operator=(const ScriptPeer&) = delete;

  uint16_t port() const { return m_port; }
  int listenFd() const { return m_listen; }
  // Runs the script on the peer's thread.
  void Start(std::function<void(ScriptPeer&)> script);
  void Join();
  // The next incoming connection; invalid, reported, when none came for a long time.
  PeerConnection Accept();

 private:
  int m_listen = -1;
  uint16_t m_port = 0;
  std::thread m_thread;
};

// Called, on the peer's thread, with what a peer's wait that ran out was waiting for. By default
// the text goes to stderr; a test program sets a handler that fails the running test.
using GiveUpHandler = void (*)(const std::string& what);
void OnPeerGaveUp(GiveUpHandler handler);

// A loopback port on which nothing listens.
uint16_t ClosedPort();

}  // namespace ventari::test
