#include "app/headless.h"

#include <QCoreApplication>
#include <QTimer>

#include <clocale>
#include <exception>

#include "app/file_reactions.h"
#include "app/program_services.h"
#include "app/version.h"
#include "core/robot/robot_parts.h"
#include "core/turn/deadline_fetch.h"
#include "net/nmhttp.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

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

// The window's one-minute timer.
constexpr int kTickIntervalMs = 60000;

}  // namespace

int RunHeadless(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  LogEvent("info", std::string("start: ventari ") + VENTARI_VERSION + " without a window in " +
                       GetCurrentDir());

  LoggedDialogs dialogs;
  ProgramServices s(dialogs);
  TNMHTTP http;
  http.OnException = [&dialogs](const std::string& message) { dialogs.ShowError(message); };
  DeadlineFetch deadlineFetch(s.records, http, dialogs, s.app);
  DeadlineCacheMaker& deadlineMaker =
      s.scheduleMaker ? static_cast<DeadlineCacheMaker&>(*s.scheduleMaker) : deadlineFetch;
  RobotParts parts({s.records, nullptr, dialogs, s.app, s.clock, deadlineMaker, s.yearMaker,
                    s.mailer, s.runner, s.sound, MailLinkFromEnvironment(s.schedule.fromLeague()),
                    GameTimeLimit(), ReminderLeadFromEnvironment(), ReceiptsOnFromEnvironment(),
                    ForceFromEnvironment(), MaildirFromEnvironment(), s.eventSink(), s.schedule});
  Robot& robot = parts.robot();

  // As the window's handlers do: an error goes to its box and the robot goes on.
  auto guarded = [&dialogs](auto&& handler) {
    try {
      handler();
    } catch (const std::exception& error) {
      dialogs.ShowError(error.what());
    }
  };
  const std::string workingFolder = GetCurrentDir();
  FileReactions reactions(FileReactionHooks{
      [&] { guarded([&] { robot.FileChanged(); }); }, [&] { return robot.Busy(); },
      [&] { return WatchedFolders(s.records, workingFolder, MaildirFromEnvironment()); },
      [&] { return parts.LookAgainIn(); }, MailFolders(MaildirFromEnvironment())});
  QTimer timer;
  timer.setInterval(kTickIntervalMs);
  QObject::connect(&timer, &QTimer::timeout, &application, [&] {
    guarded([&] { robot.Timer1Timer(); });
    reactions.AfterLook();
  });
  const auto reading = std::filesystem::file_time_type::clock::now();
  guarded([&] { robot.FormCreate(); });
  // The folders the settings name, watched before the first tick: a file that changes while it
  // runs is looked at after it, not at the next minute; one changed while they were read, too.
  reactions.AfterLook();
  reactions.CatchUp(reading);
  // The window's first activation runs a tick; then one a minute.
  QTimer::singleShot(0, &application, [&] {
    guarded([&] { robot.Timer1Timer(); });
    reactions.AfterLook();
    timer.start();
  });
  const int status = QCoreApplication::exec();
  s.End(status);
  return status;
}

}  // namespace ventari
