#include "core/players/status_page.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "core/players/history_page.h"
#include "core/players/page_text.h"
#include "platform/files.h"

namespace ventari {

namespace {

// A local date-time as the machine's clock reads it: the fields after mktime (which moves a
// time skipped by a daylight-saving change forward), the instant and the offset then.
struct LocalInstant {
  std::tm tm{};
  long long epochMs = 0;
  long offsetSeconds = 0;
};

LocalInstant ResolveLocal(TDateTime local) {
  const DateTimeParts p = DecodeDateTime(local);
  LocalInstant at;
  at.tm = LocalFields(local);
  const std::time_t seconds = std::mktime(&at.tm);
  at.epochMs = static_cast<long long>(seconds) * 1000 + p.millisecond;
  at.offsetSeconds = at.tm.tm_gmtoff;
  return at;
}

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

// "+01:00", "-05:00", "+05:30".
std::string Offset(long seconds) {
  const long minutes = (seconds < 0 ? -seconds : seconds) / 60;
  return std::string(seconds < 0 ? "-" : "+") + TwoDigits(static_cast<int>(minutes / 60)) + ":" +
         TwoDigits(static_cast<int>(minutes % 60));
}

std::string Iso(const LocalInstant& at) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", at.tm.tm_year + 1900,
                at.tm.tm_mon + 1, at.tm.tm_mday, at.tm.tm_hour, at.tm.tm_min, at.tm.tm_sec);
  return buffer + Offset(at.offsetSeconds);
}

// Written out by hand: the page must not depend on the machine's locale.
constexpr const char* kFrenchDays[7] = {"dimanche", "lundi",    "mardi", "mercredi",
                                        "jeudi",    "vendredi", "samedi"};
constexpr const char* kFrenchMonths[12] = {"janvier",   "février", "mars",     "avril",
                                           "mai",       "juin",    "juillet",  "août",
                                           "septembre", "octobre", "novembre", "décembre"};

// "mardi 8 décembre 2026 18:00 (UTC+01:00)", "mardi 1er décembre ...".
std::string FrenchDate(const LocalInstant& at) {
  const int day = at.tm.tm_mday;
  return std::string(kFrenchDays[at.tm.tm_wday % 7]) + " " + std::to_string(day) +
         (day == 1 ? "er " : " ") + kFrenchMonths[at.tm.tm_mon % 12] + " " +
         std::to_string(at.tm.tm_year + 1900) + " " + TwoDigits(at.tm.tm_hour) + ":" +
         TwoDigits(at.tm.tm_min) + " (UTC" + Offset(at.offsetSeconds) + ")";
}

// Whole seconds from the last look to the deadline, by the instants rather than the local
// readings, so that a daylight-saving change in between counts. Negative once passed.
std::optional<long long> TimeLeftSeconds(const StatusSnapshot& s) {
  // A stopped robot's count would freeze at its end.
  if (!s.deadline || s.stoppedSince) return std::nullopt;
  const long long ms = ResolveLocal(*s.deadline).epochMs - ResolveLocal(s.updated).epochMs;
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

// "12 min", "5 h 03 min", "2 j 5 h 03 min".
std::string FrenchSpan(long long minutes) {
  const long long days = minutes / 1440;
  const long long hours = minutes / 60 % 24;
  const int rest = static_cast<int>(minutes % 60);
  if (days == 0 && hours == 0) return std::to_string(rest) + " min";
  std::string text = days > 0 ? std::to_string(days) + " j " : std::string();
  return text + std::to_string(hours) + " h " + TwoDigits(rest) + " min";
}

// Minutes are cut, not rounded: the page never promises more time than there is.
std::string FrenchTimeLeft(long long seconds) {
  const bool ahead = seconds > 0;
  const long long minutes = (ahead ? seconds : -seconds) / 60;
  return std::string(ahead ? "dans " : "dépassée depuis ") +
         (minutes == 0 ? "moins d’une minute" : FrenchSpan(minutes));
}

const char* OrdersKey(PlayerOrders orders) {
  switch (orders) {
    case PlayerOrders::kIn:
      return "in";
    case PlayerOrders::kLate:
      return "late";
    case PlayerOrders::kRefused:
      return "refused";
    case PlayerOrders::kComputer:
      return "computer";
  }
  return "late";
}

std::string OrdersFrench(const StatusPlayer& player) {
  switch (player.orders) {
    case PlayerOrders::kIn:
      return "ordres reçus";
    case PlayerOrders::kLate:
      return "en attente";
    case PlayerOrders::kRefused:
      return player.reason.empty() ? "refusés" : "refusés : " + player.reason;
    case PlayerOrders::kComputer:
      return "ordinateur";
  }
  return "en attente";
}

std::string Title(const StatusSnapshot& s) {
  return s.year.empty() ? s.game : s.game + " — année " + s.year;
}

constexpr const char* kStyle = R"(body {
  font-family: system-ui, sans-serif;
  font-size: 1.125rem;
  line-height: 1.4;
  max-width: 40rem;
  margin: 0 auto;
  padding: 0.75rem;
  color: #222;
  background: #fff;
}
h1 { font-size: 1.5rem; margin: 0.5rem 0 1rem; overflow-wrap: anywhere; }
p { margin: 0.4rem 0; overflow-wrap: anywhere; }
#state { font-weight: bold; }
.passed { color: #b00020; font-weight: bold; }
table { width: 100%; border-collapse: collapse; margin: 1rem 0; table-layout: fixed; }
th, td { text-align: left; padding: 0.5rem 0.4rem; border-bottom: 1px solid #ccc;
  vertical-align: top; overflow-wrap: anywhere; }
th.row, td.row { width: 2.5rem; }
.orders-in td { background: #e3f5e1; }
.orders-late td { background: #fff4d6; }
.orders-refused td { background: #fde2e1; }
.orders-computer td { background: #eeeeee; color: #555; }
h2 { font-size: 1.25rem; margin: 1.5rem 0 0.5rem; }
th.year, td.year { width: 4rem; }
#history { font-size: 1rem; }
.on-time { color: #2e8b3a; }
.late { color: #a15c00; }
.deadline { color: #b00020; }
#news { border-left: 4px solid #2a6ebb; padding: 0.3rem 0.6rem; background: #eef4fb; }
footer { font-size: 0.95rem; color: #555; margin-top: 1.5rem; }
)";

}  // namespace

std::string IsoLocalWithOffset(TDateTime local) { return Iso(ResolveLocal(local)); }

const char* StateMeaning(const std::string& state) {
  // For players who do not know one state from another.
  static constexpr std::pair<const char*, const char*> kMeanings[] = {
      {"incomplet", "des ordres manquent encore ; l'échéance n'est pas passée."},
      {"prêt à générer", "tous les ordres sont arrivés ; le tour sera joué à l'échéance."},
      {"en retard", "l'échéance est passée et des ordres manquent : le robot les attend."},
      {"devrait générer",
       "tous les ordres sont là et l'échéance est passée : le tour va être "
       "joué."},
      {"génération forcée", "le tour est joué sans les ordres qui manquent."},
      {"en pause", "l'hôte a mis la partie en pause : aucun tour n'est joué."},
      {"partie terminée", "la partie est finie : plus aucun tour ne sera joué."},
      {kStoppedState,
       "le robot ne surveille plus la partie : aucun tour n'est joué avant qu'il reparte."},
  };
  for (const auto& [name, meaning] : kMeanings)
    if (state == name) return meaning;
  return nullptr;
}

std::string StatusJson(const StatusSnapshot& s) {
  const std::optional<long long> left = TimeLeftSeconds(s);
  std::string out = "{\n";
  out += "  \"game\": " + JsonString(s.game) + ",\n";
  out += "  \"year\": " + JsonStringOrNull(s.year) + ",\n";
  out += "  \"state\": " + JsonString(s.state) + ",\n";
  out += "  \"note\": " + JsonStringOrNull(s.stateNote) + ",\n";
  out += "  \"news\": " + JsonStringOrNull(s.news) + ",\n";
  out += "  \"deadline\": " +
         (s.deadline ? JsonString(IsoLocalWithOffset(*s.deadline)) : std::string("null")) + ",\n";
  out += "  \"time_left_s\": " + (left ? std::to_string(*left) : std::string("null")) + ",\n";
  out += "  \"updated\": " + JsonString(IsoLocalWithOffset(s.updated)) + ",\n";
  out += "  \"stopped_since\": " +
         (s.stoppedSince ? JsonString(IsoLocalWithOffset(*s.stoppedSince)) : std::string("null")) +
         ",\n";
  out +=
      "  \"last_generation\": " +
      (s.lastGeneration ? JsonString(IsoLocalWithOffset(*s.lastGeneration)) : std::string("null")) +
      ",\n";
  out += "  \"players\": [";
  for (std::size_t i = 0; i < s.players.size(); ++i) {
    const StatusPlayer& p = s.players[i];
    // A reason only ever goes with refused orders.
    const std::string reason = p.orders == PlayerOrders::kRefused ? p.reason : std::string();
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"row\": " + std::to_string(p.row) + ", \"name\": " + JsonString(p.name) +
           ", \"orders\": \"" + OrdersKey(p.orders) +
           "\", \"reason\": " + JsonStringOrNull(reason) + "}";
  }
  out += s.players.empty() ? "],\n" : "\n  ],\n";
  out += "  \"history\": " + HistoryJson(s.history, s.players) + "\n";
  out += "}\n";
  return out;
}

std::string StatusHtml(const StatusSnapshot& s) {
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"fr\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"refresh\" content=\"60\">\n";
  out += "<title>" + HtmlText(Title(s)) + "</title>\n";
  out += "<style>\n" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  out += "<h1 id=\"title\">" + HtmlText(Title(s)) + "</h1>\n";
  if (!s.news.empty()) out += "<p id=\"news\">message de l'hôte : " + HtmlText(s.news) + "</p>\n";
  out += "<p>état : <span id=\"state\">" + HtmlText(s.state) + "</span></p>\n";
  if (const char* meaning = StateMeaning(s.state))
    out += std::string("<p id=\"state-meaning\">") + meaning + "</p>\n";
  if (!s.stateNote.empty()) out += "<p id=\"note\">" + HtmlText(s.stateNote) + "</p>\n";
  if (s.stoppedSince)
    out +=
        "<p id=\"stopped-since\">depuis le " + FrenchDate(ResolveLocal(*s.stoppedSince)) + "</p>\n";
  if (s.deadline) {
    const LocalInstant at = ResolveLocal(*s.deadline);
    out += "<p>échéance : <time id=\"deadline\" datetime=\"" + Iso(at) + "\">" + FrenchDate(at) +
           "</time></p>\n";
    if (const std::optional<long long> left = TimeLeftSeconds(s))
      out += std::string("<p id=\"time-left\"") + (*left > 0 ? "" : " class=\"passed\"") + ">" +
             FrenchTimeLeft(*left) + "</p>\n";
  } else {
    out += "<p>échéance : <span id=\"deadline\">inconnue</span></p>\n";
  }
  if (!s.schedule.empty()) out += "<p id=\"schedule\">" + HtmlText(s.schedule) + "</p>\n";
  out +=
      "<table id=\"players\">\n"
      "<thead><tr><th class=\"row\">N°</th><th>joueur</th><th>ordres</th></tr></thead>\n"
      "<tbody>\n";
  for (const StatusPlayer& p : s.players) {
    const std::string row = std::to_string(p.row);
    out += "<tr id=\"row-" + row + "\" class=\"orders-" + OrdersKey(p.orders) +
           "\"><td class=\"row\">" + row + "</td><td class=\"name\">" + HtmlText(p.name) +
           "</td><td class=\"orders\">" + HtmlText(OrdersFrench(p)) + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n";
  out += HistoryHtml(s.history, s.players);
  out += "<footer>\n";
  out += "<p>dernière génération : <span id=\"last-generation\">" +
         (s.lastGeneration ? FrenchDate(ResolveLocal(*s.lastGeneration)) : std::string("aucune")) +
         "</span></p>\n";
  out += "<p>mis à jour : <span id=\"updated\">" + FrenchDate(ResolveLocal(s.updated)) +
         "</span></p>\n";
  out += "</footer>\n</body>\n</html>\n";
  return out;
}

StatusPageWriter::StatusPageWriter(std::string folder) : m_folder(std::move(folder)) {}

bool StatusPageWriter::Write(const StatusSnapshot& s) {
  // The page first: status.json is what scripts and players' tools poll, so once it moves
  // the page beside it already says the same.
  const bool html = WriteIfChanged("index.html", StatusHtml(s), m_lastHtml);
  const bool json = WriteIfChanged("status.json", StatusJson(s), m_lastJson);
  return html || json;
}

bool StatusPageWriter::WriteIfChanged(const char* name, const std::string& bytes,
                                      std::optional<std::string>& last) {
  if (last == bytes) return false;
  const bool separated = m_folder.empty() || m_folder.back() == '/' || m_folder.back() == '\\';
  ReplaceFileContents(m_folder + (separated ? "" : "/") + name, bytes);
  last = bytes;  // only once it is on disk: a failed write is tried again
  return true;
}

}  // namespace ventari
