#include "tests/fetch/league_server.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace ventari::test {

LeagueServer::LeagueServer() : m_process(std::make_unique<QProcess>()) {
  const std::string script = SourceDir() + "/tests/fetch/league_server.py";
  m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  m_process->start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral("-u"), QString::fromStdString(script)});
  if (!m_process->waitForStarted(30000)) {
    ADD_FAILURE() << "the league server did not start";
    return;
  }
  // The first line is the port; it is printed once the server listens.
  while (!m_process->canReadLine()) {
    if (!m_process->waitForReadyRead(30000)) {
      ADD_FAILURE() << "the league server printed no port";
      return;
    }
  }
  m_port = m_process->readLine().trimmed().toInt();
  if (m_port <= 0) ADD_FAILURE() << "the league server printed no port";
}

LeagueServer::~LeagueServer() {
  if (m_process->state() != QProcess::NotRunning) {
    m_process->kill();
    m_process->waitForFinished(30000);
  }
}

std::string LeagueServer::base() const {
  return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

}  // namespace ventari::test
