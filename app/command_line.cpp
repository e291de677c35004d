#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>

namespace ventari {

namespace {

struct EnvironmentSpec {
  const char* name;
  const char* description;
};

constexpr EnvironmentSpec kEnvironment[] = {
    {"VENTARI_SENDMAIL", "sendmail command line for the mails (default /usr/sbin/sendmail)"},
    {"VENTARI_MAIL_TIMEOUT", "seconds one hand-over to sendmail may last (default 120)"},
    {"VENTARI_MAIL_RETRY_SECONDS", "seconds between two tries of a failed mail (default 60)"},
    {"VENTARI_LEAGUE_SERVER", "local web server of the deadline page (default http://localhost/)"},
    {"VENTARI_LEAGUE_SITE", "league site address for the players' mails, ending in /"},
    {"VENTARI_WINE", "command line that runs a Windows game (default wine from the PATH)"},
    {"VENTARI_GAME_TIMEOUT", "seconds one run of the game may last (default 600)"},
    {"VENTARI_REMIND_HOURS", "remind late players H hours before the deadline (default off)"},
    {"VENTARI_RECEIPTS", "0: no receipt mail for the players' order files (default on)"},
    {"VENTARI_MAILDIR", "Maildir whose new/ brings the players' order files (default none)"},
    {"VENTARI_MAIL_AUTHSERV", "mail server whose Authentication-Results vouch for senders"},
    {"VENTARI_WATCH", "0: no folder watching, the minute timer alone (default on)"},
    {"VENTARI_FORCE_AFTER_HOURS", "turn generated without late orders H hours past the deadline"},
    {"VENTARI_PUBLIC_URL", "status page's address, the mails' link without a league site"},
    {"VENTARI_NOTIFY", "shell command run at each event, its JSON on stdin (default none)"},
    {"VENTARI_SCHEDULE", "deadlines: league (default), hours, or slots like 'mon,thu 18:00'"},
};

// Shown in the usage, not in RobotOptions: they end the program before a run.
OptionSpec HelpOption() {
  return {{QStringLiteral("h"), QStringLiteral("help")},
          {},
          QStringLiteral("print this usage and exit")};
}
OptionSpec VersionOption() {
  return {{QStringLiteral("v"), QStringLiteral("version")},
          {},
          QStringLiteral("print the version and exit")};
}

QCommandLineOption ToOption(const OptionSpec& spec) {
  return QCommandLineOption(spec.names, spec.description, spec.valueName);
}

QString OptionLabel(const OptionSpec& spec) {
  QStringList names;
  for (const QString& name : spec.names)
    names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
  QString label = names.join(QStringLiteral(", "));
  if (!spec.valueName.isEmpty()) label += QLatin1Char(' ') + spec.valueName;
  return label;
}

}  // namespace

std::vector<OptionSpec> RobotOptions() {
  return {
      {{QStringLiteral("folder")},
       QStringLiteral("DIR"),
       QStringLiteral("work in DIR, where ventari.def and pret.wav are (default: here)")},
      {{QStringLiteral("env-file")},
       QStringLiteral("FILE"),
       QStringLiteral("first read NAME=value lines from FILE, as the service does")},
      {{QStringLiteral("check")},
       {},
       QStringLiteral("print what the robot sees (orders, programs, mail, league) and exit")},
      {{QStringLiteral("restore")},
       QStringLiteral("YEAR"),
       QStringLiteral("put the game's files back from the backup of YEAR and exit")},
      {{QStringLiteral("headless")},
       {},
       QStringLiteral("run without a window: every box and change goes to the log on stderr")},
      {{QStringLiteral("pause")},
       {},
       QStringLiteral("[TEXT] hold the game (no turn but by \"génère\", no reminder) and exit")},
      {{QStringLiteral("resume")}, {}, QStringLiteral("lift the game's pause and exit")},
      {{QStringLiteral("news")},
       QStringLiteral("TEXT"),
       QStringLiteral("put TEXT atop the status page and mail it to the players (\"\" clears)")},
  };
}

QString StartRequest::value(const QString& name) const {
  const auto found = given.find(name);
  return found == given.end() ? QString() : found->second;
}

StartRequest ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  const std::vector<OptionSpec> robot = RobotOptions();
  for (const OptionSpec& spec : robot) parser.addOption(ToOption(spec));
  parser.addOption(ToOption(HelpOption()));
  parser.addOption(ToOption(VersionOption()));

  StartRequest request;
  if (!parser.parse(arguments)) {
    request.action = StartRequest::Action::kBadUsage;
    request.error = parser.errorText();
  } else if (!parser.positionalArguments().isEmpty() && !parser.isSet(QStringLiteral("pause"))) {
    request.action = StartRequest::Action::kBadUsage;
    request.error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]);
  } else if (parser.isSet(QStringLiteral("help"))) {
    request.action = StartRequest::Action::kHelp;
  } else if (parser.isSet(QStringLiteral("version"))) {
    request.action = StartRequest::Action::kVersion;
  }
  if (request.action != StartRequest::Action::kRun) return request;
  for (const OptionSpec& spec : robot) {
    const QString& name = spec.names.back();
    if (parser.isSet(name))
      request.given[name] = spec.valueName.isEmpty() ? QString() : parser.value(name);
  }
  request.envFiles = parser.values(QStringLiteral("env-file"));
  // The pause's text: the words after it, as a shell would have split them.
  if (request.has(QStringLiteral("pause")))
    request.given[QStringLiteral("pause")] = parser.positionalArguments().join(QLatin1Char(' '));
  return request;
}

std::string UsageText() {
  std::vector<OptionSpec> options = RobotOptions();
  QString synopsis = QStringLiteral("Usage: ventari");
  for (const OptionSpec& spec : options) {
    // The host's message has a line of its own: the synopsis stays within a terminal's width.
    if (spec.names.back() == QStringLiteral("news") ||
        spec.names.back() == QStringLiteral("env-file"))
      continue;
    synopsis += QStringLiteral(" [--") + spec.names.back() +
                (spec.valueName.isEmpty() ? QString() : QLatin1Char(' ') + spec.valueName) +
                QLatin1Char(']');
  }
  synopsis += QStringLiteral(
      "\n       ventari --help | --version"
      "\n       ventari [--folder DIR] --news TEXT"
      "\n       ventari --env-file FILE [--env-file FILE]... [any of the above]\n\n");
  options.push_back(HelpOption());
  options.push_back(VersionOption());

  qsizetype width = 0;
  for (const OptionSpec& spec : options) width = std::max(width, OptionLabel(spec).size());
  for (const EnvironmentSpec& variable : kEnvironment)
    width = std::max(width, QString::fromUtf8(variable.name).size());

  QString text = synopsis;
  text += QStringLiteral(
      "Hosts a play-by-mail game of Stars!: watches the orders, generates "
      "and mails the turns.\n\nOptions:\n");
  for (const OptionSpec& spec : options)
    text += QStringLiteral("  ") + OptionLabel(spec).leftJustified(width + 2) + spec.description +
            QLatin1Char('\n');
  text += QStringLiteral("\nEnvironment:\n");
  for (const EnvironmentSpec& variable : kEnvironment)
    text += QStringLiteral("  ") + QString::fromUtf8(variable.name).leftJustified(width + 2) +
            QString::fromUtf8(variable.description) + QLatin1Char('\n');
  return text.toStdString();
}

bool DisplayAvailable(const char* platform, const char* display, const char* waylandDisplay) {
  const bool x11 = display && *display;
  const bool wayland = waylandDisplay && *waylandDisplay;
  const QString plugins = QString::fromUtf8(platform ? platform : "");
  if (plugins.trimmed().isEmpty()) return x11 || wayland;
  // Qt tries the plugins in turn; one that can start is enough.
  for (const QString& entry : plugins.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
    if (name.startsWith(QStringLiteral("xcb"))) {
      if (x11) return true;
    } else if (name.startsWith(QStringLiteral("wayland"))) {
      if (wayland) return true;
    } else {
      return true;  // offscreen, minimal, vnc, eglfs, linuxfb: no display server needed
    }
  }
  return false;
}

}  // namespace ventari
