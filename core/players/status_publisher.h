#pragma once
// Keeps the players' status page of the current game in its publication folder. A folder that
// cannot be written is logged once per turn and changes nothing else: the page is a courtesy,
// the turn is the job.

#include <optional>
#include <string>

#include "core/players/status_page.h"

namespace ventari {

struct ProgramRecords;

// <publication>/<game>/status: a folder of its own, so that a web server can serve the page
// without the turn files and the host file beside it.
std::string StatusPageFolder(const std::string& publication, const std::string& game);

class StatusPublisher {
 public:
  explicit StatusPublisher(ProgramRecords& records);

  // Writes the page of the snapshot into its folder, made as needed; `turnKey` names the turn
  // for the failure's log line. The snapshot is kept in the records for the robot's end.
  void Publish(const StatusSnapshot& snapshot, const std::string& turnKey);

  // The last page this robot published, made a stopped robot's at `at`: state "robot arrêté",
  // note "robot arrêté" and `why` when given, no time left counted down. Nothing when it
  // published none (a robot that never held the game leaves the page of the one that does).
  void PublishEnd(const std::string& why, TDateTime at);

  // The local time of the host file's last change, the game's last generation; nothing for a
  // game at its first turn or a file that cannot be looked at.
  static std::optional<TDateTime> LastGeneration(const std::string& hostFile, int turn);

 private:
  ProgramRecords& m_records;
  std::optional<StatusPageWriter> m_writer;
  std::string m_folder;
  std::string m_failedTurn;
};

}  // namespace ventari
