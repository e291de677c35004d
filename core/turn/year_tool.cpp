#include "core/turn/year_tool.h"

#include <string>

#include "core/game/records.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"

namespace ventari {

YearTool::YearTool(ProgramRecords& records, ProgramRunner& runner, Dialogs& dialogs,
                   AppControl& app, std::chrono::seconds limit)
    : m_records(records), m_runner(runner), m_dialogs(dialogs), m_app(app), m_limit(limit) {}

bool YearTool::RunYearTool() {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;

  state.savedDir = GetCurrentDir();
  SetCurrentDir(host.repJeu + "\\" + game.gameName);
  // No shell: "> curyear.txt" reaches the tool as two arguments and the tool writes the file.
  // A blank in a folder or in the game's name stays inside its argument.
  const std::string commandLine = QuoteArgument(host.repJeu + "\\staryear.EXE") + " " +
                                  QuoteArgument(game.gameName + ".hst") + " /q > curyear.txt";
  const ProgramOutcome outcome = m_runner.RunProgramWithin(commandLine, m_limit, {});
  if (outcome != ProgramOutcome::kEnded) {
    LogEvent("error", "year tool: " + NativePath(commandLine) +
                          (outcome == ProgramOutcome::kTimedOut
                               ? " still ran after " + std::to_string(m_limit.count()) +
                                     " seconds and was ended"
                               : " could not be started"));
    EndApplication(m_dialogs, m_app, "Staryear EXE unlaunchable !!!");
    return false;
  }
  SetCurrentDir(state.savedDir);
  LogEvent("info", "year tool run: " + NativePath(commandLine));
  return true;
}

}  // namespace ventari
