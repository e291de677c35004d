#include "core/players/status_publisher.h"

#include <sys/stat.h>

#include "core/game/records.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

std::string StatusPageFolder(const std::string& publication, const std::string& game) {
  return NativePath(publication + "/" + game + "/status");
}

StatusPublisher::StatusPublisher(ProgramRecords& records) : m_records(records) {}

void StatusPublisher::Publish(const StatusSnapshot& snapshot, const std::string& turnKey) {
  const std::string& publication = m_records.host.publicationDir;
  if (publication.empty() || snapshot.game.empty()) return;
  m_records.monitor.publishedStatus = std::make_shared<const StatusSnapshot>(snapshot);
  const std::string gameFolder = NativePath(publication + "/" + snapshot.game);
  const std::string folder = StatusPageFolder(publication, snapshot.game);
  if (!m_writer || m_folder != folder) {
    m_writer.emplace(folder);
    m_folder = folder;
  }
  try {
    // A folder that cannot be made shows as the page's write failing.
    if (!DirectoryExists(gameFolder)) CreateDir(gameFolder);
    if (!DirectoryExists(folder)) CreateDir(folder);
    m_writer->Write(snapshot);
    m_failedTurn.clear();
  } catch (const EInOutError& error) {
    const std::string key = folder + " " + turnKey;
    if (m_failedTurn == key) return;
    m_failedTurn = key;
    LogEvent("warning", "status page not written in " + folder + ": " + error.what());
  }
}

void StatusPublisher::PublishEnd(const std::string& why, TDateTime at) {
  if (!m_records.monitor.publishedStatus) return;
  StatusSnapshot ended = *m_records.monitor.publishedStatus;
  // What the last look said of the turn (waiting, ready, due) is no longer what happens.
  ended.state = kStoppedState;
  ended.stateNote = why.empty() ? "robot arrêté" : "robot arrêté : " + why;
  ended.stoppedSince = at;
  ended.updated = at;
  Publish(ended, "end");
}

std::optional<TDateTime> StatusPublisher::LastGeneration(const std::string& hostFile, int turn) {
  struct stat st {};
  if (turn <= 0 || ::stat(NativePath(hostFile).c_str(), &st) != 0) return std::nullopt;
  const TDateTime changed = LocalDateTime(st.st_mtim.tv_sec);
  if (changed == kZeroDateTime) return std::nullopt;
  return changed;
}

}  // namespace ventari
