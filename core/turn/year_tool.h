#pragma once
// The year tool: runs staryear.EXE of the game folder in the per-game folder, where it writes the
// year cache curyear.txt.

#include <chrono>

#include "core/game/cache_makers.h"

namespace ventari {

class AppControl;
class Dialogs;
class ProgramRunner;
struct ProgramRecords;

class YearTool final : public YearCacheMaker {
 public:
  // A tool still running after `limit` (a hung one under wine) is ended with its process group
  // and counts as not started.
  YearTool(ProgramRecords& records, ProgramRunner& runner, Dialogs& dialogs, AppControl& app,
           std::chrono::seconds limit = std::chrono::seconds(600));

  // Raises EInOutError when a change of working folder fails. When the tool cannot be started,
  // the working folder stays at the per-game folder: the application is ending.
  bool RunYearTool() override;

 private:
  ProgramRecords& m_records;
  ProgramRunner& m_runner;
  Dialogs& m_dialogs;
  AppControl& m_app;
  std::chrono::seconds m_limit;
};

}  // namespace ventari
