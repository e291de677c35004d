#pragma once
// The python league server of tests/fetch, started on a free loopback port.

#include <memory>
#include <string>

class QProcess;

namespace ventari::test {

class LeagueServer {
 public:
  LeagueServer();  // waits until the server has printed its port
  ~LeagueServer();
  LeagueServer(const LeagueServer&) = delete;
  LeagueServer& operator=(const LeagueServer&) = delete;

  int port() const { return m_port; }
  std::string base() const;  // "http://127.0.0.1:<port>/"

 private:
  std::unique_ptr<QProcess> m_process;
  int m_port = 0;
};

}  // namespace ventari::test
