#include "app/headless.h"

#include <QCoreApplication>
#include <QTimer>

#include <array>
#include <clocale>
#include <exception>

#include "app/qt_app_control.h"
#include "app/stop_signals.h"
#include "app/version.h"
#include "core/deadline_fetch.h"
#include "core/generation.h"
#include "core/monitor_view.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/robot.h"
#include "core/tick.h"
#include "core/year_tool.h"
#include "mail/sendmail_mailer.h"
#include "net/nmhttp.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/sdl_sound.h"

namespace ventari {

namespace {

// Each box goes to the log; its one button is "pressed" at once.
class LoggedDialogs final : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override { LogEvent("box", text); }
  void ShowError(const std::string& message) override { LogEvent("error", ErrorBoxText(message)); }
  void ShowMailError(int result) override {
    LogEvent("error", "mail error box: " + std::to_string(result));
  }
};

// What the window would show, logged when it changes; the clock line is left out, so that a
// quiet tick writes nothing.
class LoggedView final : public MonitorView {
 public:
  void SetLine(WindowLine line, const std::string& text) override {
    if (line == WindowLine::Clock || line == WindowLine::Period) return;
    std::string& shown = m_lines[static_cast<std::size_t>(line)];
    if (shown == text) return;
    shown = text;
    LogEvent("info", std::string(Name(line)) + ": " + text);
  }
  void SetColour(WindowColour) override {}
  int TimerIntervalMs() const override { return 60000; }

 private:
  static const char* Name(WindowLine line) {
    switch (line) {
      case WindowLine::Game:
        return "game";
      case WindowLine::Year:
        return "year";
      case WindowLine::Deadline:
        return "deadline";
      case WindowLine::State:
        return "state";
      default:
        return "line";
    }
  }
  std::array<std::string, 8> m_lines;
};

}  // namespace

int RunHeadless(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  LogEvent("info", std::string("start: ventari ") + VENTARI_VERSION + " without a window in " +
                       GetCurrentDir());

  LoggedDialogs dialogs;
  QtAppControl app;
  StopSignals stopSignals(app);
  SystemClock clock;
  LoggedView view;
  ProgramRecords& records = TheProgramRecords();
  PosixProgramRunner runner;
  SendmailMailer mailer(dialogs, SendmailCommandFromEnvironment());
  SdlSoundPlayer sound;
  YearTool yearMaker(records, runner, dialogs, app);
  TNMHTTP http;
  http.OnException = [&dialogs](const std::string& message) { dialogs.ShowError(message); };
  DeadlineFetch deadlineFetch(records, http, dialogs, app);
  RefreshCycle refresh(records, view, dialogs, app, clock, deadlineFetch, yearMaker);
  Generation generation(records, runner, mailer, dialogs, app, refresh, LeagueSiteAddress(),
                        GameTimeLimit());
  SurveillanceTick tick(records, view, sound, clock, mailer, generation, refresh);
  Robot robot(app, refresh, tick, generation);

  // As the window's handlers do: an error goes to its box and the robot goes on.
  auto guarded = [&dialogs](auto&& handler) {
    try {
      handler();
    } catch (const std::exception& error) {
      dialogs.ShowError(error.what());
    }
  };
  QTimer timer;
  timer.setInterval(view.TimerIntervalMs());
  QObject::connect(&timer, &QTimer::timeout, &application,
                   [&] { guarded([&] { robot.Timer1Timer(); }); });
  guarded([&] { robot.FormCreate(); });
  // The window's first activation runs a tick; then one a minute.
  QTimer::singleShot(0, &application, [&] {
    guarded([&] { robot.Timer1Timer(); });
    timer.start();
  });
  const int status = QCoreApplication::exec();
  LogEvent("info", "end: exit status " + std::to_string(status));
  return status;
}

}  // namespace ventari
