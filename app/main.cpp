// Program entry: the command line, the application title, the main window (whose creation
// runs the first refresh), the about box, then the event loop until the application is asked
// to end.

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "app/abo_ventari.h"
#include "app/command_line.h"
#include "app/headless.h"
#include "app/program_services.h"
#include "app/qt_app_control.h"
#include "app/qt_dialogs.h"
#include "app/ventari1.h"
#include "app/version.h"
#include "core/game/records.h"
#include "core/host/check_command.h"
#include "core/host/restore_command.h"
#include "core/players/news.h"
#include "core/turn/generation.h"
#include "core/turn/pause.h"
#include "core/turn/schedule.h"
#include "mail/sendmail_mailer.h"
#include "platform/env_file.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"

using namespace ventari;

namespace {

// Exit statuses besides the robot's own 0 and 1.
constexpr int kBadUsage = 2;

// Qt wants a private runtime folder and warns on standard error, which is the robot's log, when
// a service or a bare root has none: it gets one of its own, as a session would give it.
void EnsureRuntimeFolder() {
  const char* set = std::getenv("XDG_RUNTIME_DIR");
  if (set && *set) return;
  const std::string folder = "/tmp/ventari-runtime-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  // Only a folder of ours that nobody else can enter will do; otherwise Qt says why.
  if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
      (st.st_mode & 0077) == 0)
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

// Handles what the command line asks for before a run; the exit status, or -1 to run.
int BeforeRun(const StartRequest& request, int argc, char** argv) {
  switch (request.action) {
    case StartRequest::Action::kHelp:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case StartRequest::Action::kVersion:
      std::printf("ventari %s\n", VENTARI_VERSION);
      return 0;
    case StartRequest::Action::kBadUsage:
      std::fprintf(stderr, "ventari: %s\n%s", request.error.toLocal8Bit().constData(),
                   UsageText().c_str());
      return kBadUsage;
    case StartRequest::Action::kRun:
      break;
  }
  // The files' settings first, read before anything reads the environment; a path is taken from
  // where the robot was started.
  for (const QString& file : request.envFiles) {
    std::string problem;
    std::vector<std::string> ignored;
    if (!LoadEnvironmentFile(file.toLocal8Bit().toStdString(), problem, &ignored)) {
      std::fprintf(stderr, "ventari: %s\n", problem.c_str());
      return 1;
    }
    for (const std::string& line : ignored)
      LogEvent("warning",
               "the environment file " + file.toStdString() +
                   " has a line that sets nothing, as the service would also skip: " + line);
  }
  // Everything after this reads ventari.def and pret.wav from the working folder.
  if (request.has(QStringLiteral("folder"))) {
    const QByteArray folder = request.value(QStringLiteral("folder")).toLocal8Bit();
    if (::chdir(folder.constData()) != 0) {
      std::fprintf(stderr, "ventari: cannot enter the folder %s: %s\n", folder.constData(),
                   std::strerror(errno));
      return 1;
    }
  }
  // Neither needs a display: done before the window system is asked for.
  if (request.has(QStringLiteral("restore")))
    return RestoreCommand(request.value(QStringLiteral("restore")).toStdString(), std::cout,
                          std::cerr);
  if (request.has(QStringLiteral("pause")) || request.has(QStringLiteral("resume")))
    return PauseCommand(request.has(QStringLiteral("pause")),
                        request.value(QStringLiteral("pause")).toStdString(), std::cout, std::cerr);
  if (request.has(QStringLiteral("news")))
    return NewsCommand(request.value(QStringLiteral("news")).toStdString(),
                       static_cast<long long>(std::time(nullptr)), std::cout, std::cerr);
  if (request.has(QStringLiteral("check"))) {
    QCoreApplication core(argc, argv);  // the league page's fetch runs on Qt's event loop
    return CheckCommand(std::cout);
  }
  // A schedule the robot cannot read would give the players wrong deadlines: nothing starts.
  if (const ScheduleReading schedule = ScheduleFromEnvironment(); !schedule.schedule) {
    LogEvent("error", schedule.problem);
    LogEvent("info", "end: the schedule cannot be read, exit status 1");
    return 1;
  }
  if (request.has(QStringLiteral("headless"))) return RunHeadless(argc, argv);
  // Without a window system Qt would abort with a core dump.
  if (!DisplayAvailable(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                        std::getenv("WAYLAND_DISPLAY"))) {
    std::fputs("ventari: no display: use --headless\n", stderr);
    return 1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const StartRequest request = ParseCommandLine(arguments);
  EnsureRuntimeFolder();
  if (const int status = BeforeRun(request, argc, argv); status >= 0) return status;

  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("Ventari"));
  QApplication::setQuitOnLastWindowClosed(true);

  LogEvent("info", std::string("start: ventari ") + VENTARI_VERSION + " in " + GetCurrentDir());
  QtDialogs dialogs;
  ProgramServices s(dialogs);
  TForm1 form({s.records, dialogs, s.app, s.clock, s.scheduleMaker ? &*s.scheduleMaker : nullptr,
               s.yearMaker, s.mailer, s.runner, s.sound,
               MailLinkFromEnvironment(s.schedule.fromLeague()), s.eventSink(), s.schedule});
  TAPropos about(s.mailer, dialogs);
  form.SetAboutBox(&about);
  form.show();
  const int status = QApplication::exec();
  s.End(status);
  return status;
}
