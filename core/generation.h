#pragma once
// Turn generation: runs the game executable with "-g", publishes the turn files and the host
// file, mails each human player his turn file and the host a report, drops both caches and
// refreshes.

#include <string>

namespace ventari {

class AppControl;
class Dialogs;
class Mailer;
class ProgramRunner;
class RefreshCycle;
struct ProgramRecords;

// The league site address that opens the link line of the players' mails: VENTARI_LEAGUE_SITE
// when set, else the program's own.
std::string LeagueSiteAddress();

class Generation {
 public:
  Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer, Dialogs& dialogs,
             AppControl& app, RefreshCycle& refresh, std::string leagueSite);

  // One generation (the "génère" button). Raises the runtime's errors.
  void Run();

 private:
  ProgramRecords& m_records;
  ProgramRunner& m_runner;
  Mailer& m_mailer;
  Dialogs& m_dialogs;
  AppControl& m_app;
  RefreshCycle& m_refresh;
  std::string m_leagueSite;
};

}  // namespace ventari
