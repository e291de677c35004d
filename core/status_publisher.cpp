#include "core/status_publisher.h"

#include <sys/stat.h>

#include <ctime>

#include "core/records.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

StatusPublisher::StatusPublisher(ProgramRecords& records) : m_records(records) {}

void StatusPublisher::Publish(const StatusSnapshot& snapshot, const std::string& turnKey) {
  const std::string& publication = m_records.host.publicationDir;
  if (publication.empty() || snapshot.game.empty()) return;
  const std::string folder = NativePath(publication + "/" + snapshot.game);
  if (!m_writer || m_folder != folder) {
    m_writer.emplace(folder);
    m_folder = folder;
  }
  try {
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

std::optional<TDateTime> StatusPublisher::LastGeneration(const std::string& hostFile, int turn) {
  struct stat st {};
  if (turn <= 0 || ::stat(NativePath(hostFile).c_str(), &st) != 0) return std::nullopt;
  std::tm local{};
  const time_t seconds = st.st_mtim.tv_sec;
  if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  DateTimeParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return TryEncodeDateTime(parts);
}

}  // namespace ventari
