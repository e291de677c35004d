#pragma once
// Keeps the robot off a game whose store it cannot use. Asked before every entry acts on the
// game: the store is made there when it is missing (taking over the old record files), and one
// that cannot be opened, read or trusted is told once, in the log, the window and a mail to the
// host; until the host mends it or moves it away, nothing is done on the game: acting without
// its records could send everything again.

#include <string>

namespace ventari {

class Dialogs;
class Mailer;
struct ProgramRecords;

// Beside the store, the problem last mailed to the host: the store itself cannot hold it.
std::string StoreProblemToldPath(const std::string& gameDir);

class StoreGuard {
 public:
  StoreGuard(ProgramRecords& records, Mailer& mailer, Dialogs& dialogs);

  // The current game's store can be used.
  bool Usable();

 private:
  void Tell(const std::string& gameDir, const std::string& problem);

  ProgramRecords& m_records;
  Mailer& m_mailer;
  Dialogs& m_dialogs;
  std::string m_shown;  // the problem shown in this run
};

}  // namespace ventari
