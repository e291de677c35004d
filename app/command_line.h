#pragma once
// The program's command line: the options it takes, its usage text, and whether a window can
// be opened at all. Read before any Qt application object exists, so that --help and --version
// work without a display.

#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <vector>

namespace ventari {

// One option: its names ("h", "help"), the name of its value (empty for a switch) and its line
// in the usage.
struct OptionSpec {
  QStringList names;
  QString valueName;
  QString description;
};

// The options of a run of the robot, in the order the usage shows them. An option added here is
// accepted, shown in the usage, and found in StartRequest::given under its last (long) name.
std::vector<OptionSpec> RobotOptions();

// What a start asks for, once its command line is read.
struct StartRequest {
  enum class Action { kRun, kHelp, kVersion, kBadUsage };
  Action action = Action::kRun;
  QString error;  // for kBadUsage: what was not understood
  // Each robot option given, by its long name, with its value ("" for a switch).
  std::map<QString, QString> given;
  QStringList envFiles;  // every --env-file, in the order given

  bool has(const QString& name) const { return given.count(name) != 0; }
  QString value(const QString& name) const;
};

// arguments[0] is the program's name.
StartRequest ParseCommandLine(const QStringList& arguments);

// The usage: synopsis, one line per option, one line per environment variable.
std::string UsageText();

// Whether Qt will find a window system: QT_QPA_PLATFORM (a ";" list of plugins, each perhaps
// with ":" arguments), DISPLAY and WAYLAND_DISPLAY as given (null when unset).
bool DisplayAvailable(const char* platform, const char* display, const char* waylandDisplay);

}  // namespace ventari
