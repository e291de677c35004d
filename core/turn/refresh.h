#pragma once
// The refresh cycle: re-reads both settings files, checks the Stars! installation, makes the
// missing folders and caches, reads the caches and rewrites the window lines.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/datetime.h"

namespace ventari {

class AppControl;
class Clock;
class Dialogs;
class DeadlineCacheMaker;
class Mailer;
class MonitorView;
class YearCacheMaker;
struct ProgramRecords;
struct SettingsProblem;

// "2002-07-30 18:00:00" -> 30 July 2002 18:00. Raises EConvertError with the joined text
// ("30/07/2002 18:00:00") when it does not convert.
TDateTime ParseDeadline(const std::string& text);

// Creates a folder and its missing parents. Raises "Unable to create directory" on an empty path.
void MakeDirPath(const std::string& path);

class RefreshCycle {
 public:
  // `mailer`, when given, is told the game's sender each time the game settings are read.
  RefreshCycle(ProgramRecords& records, MonitorView& view, Dialogs& dialogs, AppControl& app,
               const Clock& clock, DeadlineCacheMaker& deadlineMaker, YearCacheMaker& yearMaker,
               Mailer* mailer = nullptr);

  // One run (the window's FormCreate). Fatal set-up failures end the application; other
  // failures are raised to the caller.
  void Run();

  // Asked once the game's folder is known and exists, before anything is fetched, run or read
  // in it; false stops the run (the application is ending).
  void SetGameFolderGuard(std::function<bool()> guard) { m_gameFolderGuard = std::move(guard); }

  // Logs the settings lines this run could not use that the last run did not meet; at the
  // first run, shows them all in one box.
  void SayProblems(const std::vector<SettingsProblem>& problems);

 private:
  bool Fatal(const char* text);
  void RunSteps(std::vector<SettingsProblem>& problems, bool& said);

  ProgramRecords& m_records;
  MonitorView& m_view;
  Dialogs& m_dialogs;
  AppControl& m_app;
  const Clock& m_clock;
  DeadlineCacheMaker& m_deadlineMaker;
  YearCacheMaker& m_yearMaker;
  Mailer* m_mailer;
  std::function<bool()> m_gameFolderGuard;
  std::vector<std::string> m_saidProblems;
  bool m_ranOnce = false;
};

}  // namespace ventari
