#pragma once
// A scripted HTTP peer on a free loopback port, run by a thread of the test process. Each
// connection reads one request (head, and as many body bytes as its Content-Length says), records
// it and answers with the next scripted reply.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ventari::test {

struct PeerReply {
  std::string bytes;
  // Keep the connection open after the reply, until the client closes it.
  bool holdOpen = false;
};

// Sent after every reply again and again, pausing `pauseMs` before each, until the client
// closes: a trickle, or an answer that never ends.
struct EndlessTail {
  std::string bytes;
  int pauseMs = 0;
};

class ScriptedPeer {
 public:
  // The replies are used in order; the last one answers every further connection.
  explicit ScriptedPeer(std::vector<PeerReply> replies, EndlessTail tail = {});
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return m_port; }
  std::string base() const;  // "http://127.0.0.1:<port>"
  std::vector<std::string> requests() const;
  int connections() const { return m_connections; }

 private:
  void Serve();
  void Handle(int fd, const PeerReply& reply);
  bool SendAll(int fd, const std::string& bytes);

  std::vector<PeerReply> m_replies;
  EndlessTail m_tail;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_connections{0};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

// A loopback port that nothing listens on.
int ClosedPort();

}  // namespace ventari::test
