#pragma once
// The real services one robot runs on, with a window or without one: only the boxes differ,
// and they are given.

#include <cstdlib>
#include "app/qt_app_control.h"
#include "app/qt_ticker.h"
#include "app/stop_signals.h"

#include "core/game/records.h"
#include "core/players/event_command.h"
#include "core/players/status_publisher.h"
#include "core/turn/generation.h"
#include "core/turn/schedule.h"
#include "core/turn/year_tool.h"
#include "mail/sendmail_mailer.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/sdl_sound.h"

namespace ventari {

// The ready sound the package installed, for a working folder without one of its own.
inline std::vector<std::string> InstalledSoundFolders() {
  const std::optional<std::string> data = InstalledDataFolder();
  return data ? std::vector<std::string>{*data} : std::vector<std::string>{};
}

struct ProgramServices {
  explicit ProgramServices(Dialogs& dialogs)
      : stopSignals(app),
        mailer(dialogs, SendmailCommandFromEnvironment()),
        sound(InstalledSoundFolders()),
        yearMaker(records, runner, dialogs, app, GameTimeLimit()) {
    const GameTimeLimitSetting limit = ReadGameTimeLimit(std::getenv("VENTARI_GAME_TIMEOUT"));
    if (!limit.problem.empty()) LogEvent("warning", limit.problem);
    // A bad value has ended the program before this point.
    schedule = ScheduleFromEnvironment().schedule.value_or(Schedule{});
    if (!schedule.fromLeague()) scheduleMaker.emplace(records, clock, schedule);
    if (const std::optional<std::string> command = EventCommandFromEnvironment())
      events.emplace(*command, kEventCommandLimit, QtTicker::Make);
  }
  ProgramServices(const ProgramServices&) = delete;
  ProgramServices& operator=(const ProgramServices&) = delete;

  // Once the event loop is over: the players' page says the robot stopped, then the log's last
  // line says why.
  void End(int status) {
    // The last events (a failure that ends the robot) reach a quick command before the end's
    // line; a slow one is not let hold the stop up.
    if (events) events->Stop();
    StatusPublisher(records).PublishEnd(app.EndNote(), clock.Now());
    LogEnd(app, status);
  }

  QtAppControl app;
  StopSignals stopSignals;  // TERM and INT end the robot through `app`
  SystemClock clock;
  ProgramRecords& records = TheProgramRecords();
  PosixProgramRunner runner;
  SendmailMailer mailer;
  SdlSoundPlayer sound;
  YearTool yearMaker;
  // With a schedule, the deadline cache is written from it and the league is never asked.
  // How the deadlines are set, read once here and handed down.
  Schedule schedule;
  std::optional<ScheduleDeadlineMaker> scheduleMaker;
  // The host's event command; at the end, what is queued still runs for a few seconds.
  std::optional<EventCommand> events;
  EventSink* eventSink() { return events ? &*events : nullptr; }
};

}  // namespace ventari
