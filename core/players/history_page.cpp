#include "core/players/history_page.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/players/page_text.h"
#include "core/players/status_page.h"
#include "platform/clock.h"
#include "stars/stars_file.h"

namespace ventari {

namespace {

std::string Name(const std::vector<StatusPlayer>& players, int row) {
  for (const StatusPlayer& player : players)
    if (player.row == row) return player.name;
  return "joueur " + std::to_string(row);
}

std::string Iso(long long seconds) { return IsoLocalWithOffset(LocalDateTime(seconds)); }

// "8 déc. 18:00", "30 juil. 2002 18:00" when its year is not that of `near`: the table's and
// the strip's times, written out by hand as the page's dates are, whatever the machine's locale.
std::string ShortFrench(long long seconds, long long near) {
  static constexpr const char* kMonths[12] = {"janv.", "févr.", "mars",  "avr.", "mai",  "juin",
                                              "juil.", "août",  "sept.", "oct.", "nov.", "déc."};
  const std::tm tm = LocalTimeFields(seconds);
  const std::string year =
      tm.tm_year == LocalTimeFields(near).tm_year ? "" : " " + std::to_string(tm.tm_year + 1900);
  char text[64];
  std::snprintf(text, sizeof text, "%d %s%s %02d:%02d", tm.tm_mday, kMonths[tm.tm_mon % 12],
                year.c_str(), tm.tm_hour, tm.tm_min);
  return text;
}

std::string Time(long long seconds, long long near) {
  return "<time datetime=\"" + Iso(seconds) + "\">" + ShortFrench(seconds, near) + "</time>";
}

bool Late(const PastTurn& turn, const OrdersArrival& orders) {
  return turn.deadline && orders.firstAt > *turn.deadline;
}

int Year(const PastTurn& turn) { return stars::kFirstYear + turn.turn; }

// One turn's row of the strip: its time from the turn's start to the later of its deadline and
// its generation, the deadline a red bar, each player's orders a dot, the generation a square.
class StripRow {
 public:
  static constexpr int kHeight = 24, kLeft = 52, kWidth = 540;

  StripRow(const PastTurn& turn, int index) : m_turn(turn), m_top(index * kHeight) {
    m_from = turn.openedAt.value_or(turn.generatedAt);
    m_to = turn.generatedAt;
    for (const OrdersArrival& orders : turn.orders) {
      m_from = std::min(m_from, orders.firstAt);
      m_to = std::max(m_to, orders.firstAt);
    }
    if (turn.deadline) {
      m_from = std::min(m_from, *turn.deadline);
      m_to = std::max(m_to, *turn.deadline);
    }
    m_to = std::max(m_to, m_from + 1);
  }

  std::string Svg(const std::vector<StatusPlayer>& players) const {
    const int middle = m_top + kHeight / 2;
    std::string out = "<g id=\"strip-" + std::to_string(Year(m_turn)) + "\">";
    out += "<text x=\"0\" y=\"" + std::to_string(middle + 4) + "\">" +
           std::to_string(Year(m_turn)) + "</text>";
    out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kLeft + kWidth) +
           "\" y1=\"" + std::to_string(middle) + "\" y2=\"" + std::to_string(middle) +
           "\" stroke=\"#bbb\"/>";
    if (m_turn.deadline)
      out += "<rect class=\"deadline\" x=\"" + std::to_string(X(*m_turn.deadline) - 1) + "\" y=\"" +
             std::to_string(m_top + 2) + "\" width=\"3\" height=\"" + std::to_string(kHeight - 4) +
             "\" fill=\"#b00020\"><title>échéance " +
             ShortFrench(*m_turn.deadline, m_turn.generatedAt) + "</title></rect>";
    out += "<rect class=\"generated\" x=\"" + std::to_string(X(m_turn.generatedAt) - 4) +
           "\" y=\"" + std::to_string(middle - 4) +
           "\" width=\"8\" height=\"8\" fill=\"#222\"><title>généré " +
           ShortFrench(m_turn.generatedAt, m_turn.generatedAt) + "</title></rect>";
    for (const OrdersArrival& orders : m_turn.orders)
      out += "<circle class=\"orders\" cx=\"" + std::to_string(X(orders.firstAt)) + "\" cy=\"" +
             std::to_string(middle) + "\" r=\"5\" fill=\"" +
             (Late(m_turn, orders) ? "#a15c00" : "#2e8b3a") + "\"><title>" +
             HtmlText(Name(players, orders.row)) + " " +
             ShortFrench(orders.firstAt, m_turn.generatedAt) + "</title></circle>";
    return out + "</g>\n";
  }

 private:
  int X(long long at) const {
    return kLeft + static_cast<int>((at - m_from) * kWidth / (m_to - m_from));
  }
  const PastTurn& m_turn;
  int m_top;
  long long m_from = 0, m_to = 0;
};

std::string OrdersCell(const PastTurn& turn, const std::vector<StatusPlayer>& players) {
  std::string out;
  for (const OrdersArrival& orders : turn.orders) {
    out += std::string(out.empty() ? "" : "<br>") + "<span class=\"" +
           (Late(turn, orders) ? "late" : "on-time") + "\">" + HtmlText(Name(players, orders.row)) +
           " " + Time(orders.firstAt, turn.generatedAt) +
           (Late(turn, orders) ? " (en retard)" : "");
    if (orders.lastAt != orders.firstAt)
      out += ", corrigés " + Time(orders.lastAt, turn.generatedAt);
    out += "</span>";
  }
  if (!turn.leftOut.empty()) {
    out += std::string(out.empty() ? "" : "<br>") + "<span class=\"left-out\">sans ordres : ";
    for (std::size_t i = 0; i < turn.leftOut.size(); ++i)
      out += (i == 0 ? "" : ", ") + HtmlText(Name(players, turn.leftOut[i]));
    out += "</span>";
  }
  return out;
}

}  // namespace

std::string HistoryJson(const std::vector<PastTurn>& turns,
                        const std::vector<StatusPlayer>& players) {
  std::string out = "[";
  for (std::size_t i = 0; i < turns.size(); ++i) {
    const PastTurn& turn = turns[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"year\": " + std::to_string(Year(turn)) + ", \"deadline\": " +
           (turn.deadline ? JsonString(Iso(*turn.deadline)) : std::string("null")) +
           ", \"generated\": " + JsonString(Iso(turn.generatedAt)) +
           ", \"forced\": " + (turn.forced ? "true" : "false") + ",\n     \"left_out\": [";
    for (std::size_t j = 0; j < turn.leftOut.size(); ++j)
      out += std::string(j == 0 ? "" : ", ") + "{\"row\": " + std::to_string(turn.leftOut[j]) +
             ", \"name\": " + JsonString(Name(players, turn.leftOut[j])) + "}";
    out += "],\n     \"orders\": [";
    for (std::size_t j = 0; j < turn.orders.size(); ++j) {
      const OrdersArrival& orders = turn.orders[j];
      out += std::string(j == 0 ? "" : ",\n                 ") +
             "{\"row\": " + std::to_string(orders.row) +
             ", \"name\": " + JsonString(Name(players, orders.row)) +
             ", \"at\": " + JsonString(Iso(orders.firstAt)) +
             ", \"last\": " + JsonString(Iso(orders.lastAt)) +
             ", \"late\": " + (Late(turn, orders) ? "true" : "false") + "}";
    }
    out += "]}";
  }
  return out + (turns.empty() ? "]" : "\n  ]");
}

std::string HistoryHtml(const std::vector<PastTurn>& turns,
                        const std::vector<StatusPlayer>& players) {
  if (turns.empty()) return "";
  std::string out = "<h2 id=\"history-title\">tours passés</h2>\n";
  const int height = static_cast<int>(turns.size()) * StripRow::kHeight;
  out += "<svg id=\"strip\" role=\"img\" aria-labelledby=\"strip-title\" viewBox=\"0 0 " +
         std::to_string(StripRow::kLeft + StripRow::kWidth + 8) + " " + std::to_string(height) +
         "\" width=\"100%\" font-size=\"13\" font-family=\"sans-serif\">\n"
         "<title id=\"strip-title\">l'arrivée des ordres de chaque tour face à son échéance"
         "</title>\n";
  for (std::size_t i = 0; i < turns.size(); ++i)
    out += StripRow(turns[i], static_cast<int>(i)).Svg(players);
  out +=
      "</svg>\n<p id=\"strip-legend\">chaque ligne va du début du tour à sa fin : "
      "<span class=\"on-time\">●</span> ordres à temps, <span class=\"late\">●</span> ordres en "
      "retard, <span class=\"deadline\">▮</span> échéance, ■ génération.</p>\n";
  out +=
      "<table id=\"history\">\n"
      "<thead><tr><th class=\"year\">année</th><th>échéance</th><th>généré</th>"
      "<th>ordres</th></tr></thead>\n<tbody>\n";
  for (const PastTurn& turn : turns) {
    const std::string year = std::to_string(Year(turn));
    out += "<tr id=\"year-" + year + "\"><td class=\"year\">" + year + "</td><td>" +
           (turn.deadline ? Time(*turn.deadline, turn.generatedAt) : std::string("inconnue")) +
           "</td><td>" + Time(turn.generatedAt, turn.generatedAt) +
           (turn.forced ? " (forcé)" : "") + "</td><td>" + OrdersCell(turn, players) +
           "</td></tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}

}  // namespace ventari
