// The players' status page: its JSON read back by a strict parser, its French HTML, the offsets
// of the local times across daylight saving, the writer on a real folder, and the publisher's
// folder and the robot's end.

#include "core/players/status_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/game/records.h"
#include "core/players/status_publisher.h"
#include "core/turn/forced_turn.h"
#include "core/turn/turn_history.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "tests/support/scoped_time_zone.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ScopedTimeZone;

TDateTime At(int year, int month, int day, int hour, int minute = 0, int second = 0) {
  return *TryEncodeDateTime({year, month, day, hour, minute, second});
}

// A JSON value read strictly per RFC 8259: anything else fails the parse.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  std::string text;  // the number as written, or the decoded string
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json& operator[](const std::string& name) const {
    static const Json missing{kNull, false, "<missing>", {}, {}};
    const auto it = fields.find(name);
    return it == fields.end() ? missing : it->second;
  }
  bool IsNull() const { return kind == kNull && text.empty(); }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : m_text(text) {}

  std::optional<Json> Parse() {
    Json value;
    if (!Value(value)) return std::nullopt;
    Blanks();
    if (m_at != m_text.size()) return std::nullopt;
    return value;
  }

 private:
  void Blanks() {
    while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                    m_text[m_at] == '\n' || m_text[m_at] == '\r'))
      ++m_at;
  }
  bool Literal(const char* word) {
    const std::string w = word;
    if (m_text.compare(m_at, w.size(), w) != 0) return false;
    m_at += w.size();
    return true;
  }
  bool Value(Json& out) {
    Blanks();
    if (m_at >= m_text.size()) return false;
    const char c = m_text[m_at];
    if (c == '{') return Object(out);
    if (c == '[') return Array(out);
    if (c == '"') {
      out.kind = Json::kString;
      return String(out.text);
    }
    if (Literal("null")) return true;
    if (Literal("true") || Literal("false")) {
      out.kind = Json::kBool;
      out.boolean = m_text[m_at - 1] == 'e' && m_text[m_at - 2] == 'u';
      return true;
    }
    return Number(out);
  }
  bool Number(Json& out) {
    const std::size_t start = m_at;
    if (m_at < m_text.size() && m_text[m_at] == '-') ++m_at;
    const std::size_t digits = m_at;
    while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') ++m_at;
    if (m_at == digits || (m_text[digits] == '0' && m_at - digits > 1)) return false;
    out.kind = Json::kNumber;
    out.text = m_text.substr(start, m_at - start);
    return true;  // the page has integers only
  }
  bool Hex4(unsigned& code) {
    if (m_at + 4 > m_text.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = m_text[m_at++];
      code <<= 4;
      if (h >= '0' && h <= '9')
        code |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f')
        code |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        code |= static_cast<unsigned>(h - 'A' + 10);
      else
        return false;
    }
    return true;
  }
  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool String(std::string& out) {
    ++m_at;  // the opening quote
    while (m_at < m_text.size()) {
      const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
      if (c == '"') return true;
      if (c < 0x20) return false;  // raw control characters are not allowed
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (m_at >= m_text.size()) return false;
      const char e = m_text[m_at++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool Array(Json& out) {
    out.kind = Json::kArray;
    ++m_at;
    Blanks();
    if (Literal("]")) return true;
    for (;;) {
      Json item;
      if (!Value(item)) return false;
      out.items.push_back(std::move(item));
      Blanks();
      if (Literal("]")) return true;
      if (!Literal(",")) return false;
    }
  }
  bool Object(Json& out) {
    out.kind = Json::kObject;
    ++m_at;
    Blanks();
    if (Literal("}")) return true;
    for (;;) {
      Blanks();
      std::string name;
      if (m_at >= m_text.size() || m_text[m_at] != '"' || !String(name)) return false;
      Blanks();
      if (!Literal(":")) return false;
      Json value;
      if (!Value(value)) return false;
      if (!out.fields.emplace(name, std::move(value)).second) return false;  // no duplicates
      Blanks();
      if (Literal("}")) return true;
      if (!Literal(",")) return false;
    }
  }

  const std::string& m_text;
  std::size_t m_at = 0;
};

Json ParseOrFail(const std::string& text) {
  const std::optional<Json> json = JsonParser(text).Parse();
  EXPECT_TRUE(json.has_value()) << "not JSON:\n" << text;
  return json.value_or(Json{});
}

StatusSnapshot WinterSnapshot() {
  StatusSnapshot s;
  s.game = "alpha";
  s.year = "2405";
  s.state = "en retard";
  s.deadline = At(2026, 12, 8, 18, 0);
  s.updated = At(2026, 12, 8, 12, 48, 0);
  s.lastGeneration = At(2026, 12, 6, 18, 0, 5);
  s.players = {{1, "Ann", PlayerOrders::kIn, ""},
               {2, "Bob", PlayerOrders::kRefused, "incomplet (envoi en cours ou coupé)"},
               {3, "Robot", PlayerOrders::kComputer, ""},
               {4, "Zoé", PlayerOrders::kLate, ""}};
  return s;
}

TEST(StatusPageTime, ReadsTheZonesOffsetAtThatDate) {
  {
    ScopedTimeZone paris("Europe/Paris");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 12, 8, 18, 0)), "2026-12-08T18:00:00+01:00");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 7, 14, 9, 5, 7)), "2026-07-14T09:05:07+02:00");
    // The last hour of summer time and the first of winter time, either side of the change.
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 10, 25, 1, 59, 59)), "2026-10-25T01:59:59+02:00");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 10, 25, 3, 0)), "2026-10-25T03:00:00+01:00");
    // 02:30 on the spring change does not exist on the clocks.
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 3, 29, 2, 30)), "2026-03-29T03:30:00+02:00");
  }
  {
    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 1, 5, 23, 59, 59)), "2026-01-05T23:59:59-05:00");
  }
  {
    ScopedTimeZone kolkata("Asia/Kolkata");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 1, 5, 0, 0)), "2026-01-05T00:00:00+05:30");
  }
  {
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(IsoLocalWithOffset(At(2026, 1, 5, 7, 0)), "2026-01-05T07:00:00+00:00");
  }
}

TEST(StatusPageJson, CarriesEveryFieldWithNullsForTheUnknown) {
  ScopedTimeZone paris("Europe/Paris");
  StatusSnapshot s = WinterSnapshot();
  s.stateNote = "en pause jusqu'au 9";
  // A reason left on a player whose orders are in is not shown.
  s.players[0].reason = "stale";

  const Json json = ParseOrFail(StatusJson(s));
  ASSERT_EQ(json.kind, Json::kObject);
  EXPECT_EQ(json["game"].text, "alpha");
  EXPECT_EQ(json["year"].kind, Json::kString);
  EXPECT_EQ(json["year"].text, "2405");
  EXPECT_EQ(json["state"].text, "en retard");
  EXPECT_EQ(json["note"].text, "en pause jusqu'au 9");
  EXPECT_EQ(json["deadline"].text, "2026-12-08T18:00:00+01:00");
  EXPECT_EQ(json["time_left_s"].kind, Json::kNumber);
  EXPECT_EQ(json["time_left_s"].text, "18720");  // 5 h 12 min
  EXPECT_EQ(json["updated"].text, "2026-12-08T12:48:00+01:00");
  EXPECT_EQ(json["last_generation"].text, "2026-12-06T18:00:05+01:00");
  const Json& players = json["players"];
  ASSERT_EQ(players.kind, Json::kArray);
  ASSERT_EQ(players.items.size(), 4u);
  const char* orders[] = {"in", "refused", "computer", "late"};
  for (std::size_t i = 0; i < 4; ++i) {
    const Json& p = players.items[i];
    EXPECT_EQ(p["row"].kind, Json::kNumber);
    EXPECT_EQ(p["row"].text, std::to_string(i + 1));
    EXPECT_EQ(p["name"].text, s.players[i].name);
    EXPECT_EQ(p["orders"].text, orders[i]);
    if (i == 1)
      EXPECT_EQ(p["reason"].text, "incomplet (envoi en cours ou coupé)");
    else
      EXPECT_TRUE(p["reason"].IsNull()) << i;
  }

  // Nothing known but the game and the look.
  StatusSnapshot bare;
  bare.game = "beta";
  bare.state = "en pause";
  bare.updated = At(2026, 7, 1, 10, 0);
  const Json empty = ParseOrFail(StatusJson(bare));
  for (const char* field :
       {"year", "note", "news", "deadline", "time_left_s", "last_generation", "stopped_since"})
    EXPECT_TRUE(empty[field].IsNull()) << field;
  EXPECT_EQ(empty["updated"].text, "2026-07-01T10:00:00+02:00");
  EXPECT_EQ(empty["players"].kind, Json::kArray);
  EXPECT_TRUE(empty["players"].items.empty());
  // Those fields and no others.
  std::vector<std::string> names;
  for (const auto& [name, value] : empty.fields) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"deadline", "game", "history", "last_generation",
                                             "news", "note", "players", "state", "stopped_since",
                                             "time_left_s", "updated", "year"}));
  EXPECT_TRUE(empty["history"].items.empty());
  EXPECT_EQ(StatusHtml(bare).find("tours passés"), std::string::npos);
}

// From the store to the page: orders recorded as they come (a copy changes nothing, a correction
// its last time), two turns played (one forced, one with a left-out player), a restore that
// undoes the last; the page's JSON and table say the same.
TEST(StatusPageHistory, ShowsThePastTurnsAsTheStoreRecordedThem) {
  ScopedTimeZone paris("Europe/Paris");
  test::TempDir game;
  const auto at = [](int day, int hour, int minute = 0) {
    return EpochSeconds(At(2026, 12, day, hour, minute));
  };
  RecordOrdersIn(game.path(), 5, 1, "aaa", at(7, 10));
  RecordOrdersIn(game.path(), 5, 1, "aaa", at(7, 11));  // the same bytes seen again
  RecordOrdersIn(game.path(), 5, 2, "bbb", at(8, 19));  // after the deadline
  RecordOrdersIn(game.path(), 5, 1, "ccc", at(7, 12, 30));
  RecordTurnPlayed(game.path(), 5, at(8, 18), at(8, 19, 1), false, {1, 2, 5});
  RecordOrdersIn(game.path(), 6, 2, "ddd", at(9, 8));
  RecordTurnPlayed(game.path(), 6, std::nullopt, at(10, 18), true, {1, 2, 5});
  RecordOrdersIn(game.path(), 7, 1, "eee", at(10, 20));

  std::vector<PastTurn> turns = ReadTurnHistory(game.path(), 20);
  ASSERT_EQ(turns.size(), 2u);
  EXPECT_EQ(turns[0].turn, 6);
  EXPECT_EQ(turns[0].openedAt, at(8, 19, 1));
  EXPECT_EQ(turns[0].leftOut, (std::vector<int>{1, 5}));
  EXPECT_EQ(turns[1].leftOut, (std::vector<int>{5}));
  EXPECT_FALSE(turns[1].openedAt.has_value());
  ASSERT_EQ(turns[1].orders.size(), 2u);
  EXPECT_EQ(turns[1].orders[0].firstAt, at(7, 10));
  EXPECT_EQ(turns[1].orders[0].lastAt, at(7, 12, 30));
  EXPECT_EQ(ReadTurnHistory(game.path(), 1).size(), 1u);

  StatusSnapshot s = WinterSnapshot();
  s.history = turns;
  const Json history = ParseOrFail(StatusJson(s))["history"];
  ASSERT_EQ(history.items.size(), 2u);
  const Json& forced = history.items[0];
  EXPECT_EQ(forced["year"].text, "2406");
  EXPECT_TRUE(forced["deadline"].IsNull());
  EXPECT_TRUE(forced["forced"].boolean);
  ASSERT_EQ(forced["left_out"].items.size(), 2u);
  EXPECT_EQ(forced["left_out"].items[1]["name"].text, "joueur 5");  // no longer in the game
  const Json& played = history.items[1];
  EXPECT_EQ(played["deadline"].text, "2026-12-08T18:00:00+01:00");
  EXPECT_EQ(played["generated"].text, "2026-12-08T19:01:00+01:00");
  EXPECT_FALSE(played["forced"].boolean);
  const Json& orders = played["orders"];
  ASSERT_EQ(orders.items.size(), 2u);
  EXPECT_EQ(orders.items[0]["name"].text, s.players[0].name);
  EXPECT_EQ(orders.items[0]["at"].text, "2026-12-07T10:00:00+01:00");
  EXPECT_EQ(orders.items[0]["last"].text, "2026-12-07T12:30:00+01:00");
  EXPECT_FALSE(orders.items[0]["late"].boolean);
  EXPECT_TRUE(orders.items[1]["late"].boolean);

  const std::string html = StatusHtml(s);
  EXPECT_NE(html.find("<tr id=\"year-2405\"><td class=\"year\">2405</td><td><time "
                      "datetime=\"2026-12-08T18:00:00+01:00\">8 déc. 18:00</time>"),
            std::string::npos);
  EXPECT_NE(html.find("19:00</time> (en retard)"), std::string::npos);
  EXPECT_NE(html.find(", corrigés <time datetime=\"2026-12-07T12:30:00+01:00\">"),
            std::string::npos);
  EXPECT_NE(html.find("18:00</time> (forcé)"), std::string::npos);
  EXPECT_NE(html.find("sans ordres : joueur 5</span>"), std::string::npos);
  // The strip: a dot per set of orders, a red bar per known deadline, no script.
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t i = html.find(what); i != std::string::npos; i = html.find(what, i + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<circle class=\"orders\""), 3u);
  EXPECT_EQ(count("<rect class=\"deadline\""), 1u);
  EXPECT_EQ(count("<script"), 0u);

  // A restore to turn 6 undoes its play; its orders are back with its files.
  ForgetGenerationsFrom(game.path(), 6);
  turns = ReadTurnHistory(game.path(), 20);
  ASSERT_EQ(turns.size(), 1u);
  EXPECT_EQ(turns[0].turn, 5);
  RecordTurnPlayed(game.path(), 6, std::nullopt, at(11, 9), false, {1, 2, 5});
  EXPECT_EQ(ReadTurnHistory(game.path(), 20)[0].leftOut, (std::vector<int>{1, 5}));
}

TEST(StatusPageJson, TimeLeftCountsRealSecondsAndTurnsNegativeOncePassed) {
  ScopedTimeZone paris("Europe/Paris");
  StatusSnapshot s = WinterSnapshot();
  const auto left = [&] { return ParseOrFail(StatusJson(s))["time_left_s"].text; };

  s.updated = At(2026, 12, 8, 20, 3);
  EXPECT_EQ(left(), "-7380");
  s.updated = At(2026, 12, 8, 18, 0);
  EXPECT_EQ(left(), "0");
  // Half a second past is already past.
  s.updated = At(2026, 12, 8, 18, 0) + 0.5 / 86400;
  EXPECT_EQ(left(), "-1");
  // The autumn change puts 25 hours between noon and noon.
  s.updated = At(2026, 10, 24, 12, 0);
  s.deadline = At(2026, 10, 25, 12, 0);
  EXPECT_EQ(left(), "90000");
}

TEST(StatusPageEscaping, UntrustedTextStaysText) {
  ScopedTimeZone paris("Europe/Paris");
  StatusSnapshot s = WinterSnapshot();
  const std::string script = "<script>alert(1)</script>";
  // A line separator ends a line in a script: the JSON must not carry it raw.
  const std::string odd = "O'Neil \"Q\" a\\b\x01 & Zoé\nx\t\xE2\x80\xA8";
  s.game = "g<b>";
  s.state = "en retard & <i>";
  s.stateNote = "<note>";
  s.players[0].name = script;
  s.players[1].name = odd;
  s.players[1].reason = "</td>";
  s.players[2].name = "broken \xC3( end";  // not UTF-8

  const std::string json = StatusJson(s);
  for (const char raw : {'<', '>', '&', '\x01', '\t'})
    EXPECT_EQ(json.find(raw), std::string::npos) << static_cast<int>(raw);
  EXPECT_NE(json.find("\\u003cscript\\u003e"), std::string::npos);
  EXPECT_NE(json.find("Zo\xC3\xA9"), std::string::npos);  // UTF-8 as it is, not \u escaped
  EXPECT_EQ(json.find("\xE2\x80\xA8"), std::string::npos);
  const Json parsed = ParseOrFail(json);
  EXPECT_EQ(parsed["game"].text, "g<b>");
  EXPECT_EQ(parsed["state"].text, "en retard & <i>");
  EXPECT_EQ(parsed["note"].text, "<note>");
  ASSERT_EQ(parsed["players"].items.size(), 4u);
  EXPECT_EQ(parsed["players"].items[0]["name"].text, script);
  EXPECT_EQ(parsed["players"].items[1]["name"].text, odd);
  EXPECT_EQ(parsed["players"].items[1]["reason"].text, "</td>");
  EXPECT_EQ(parsed["players"].items[2]["name"].text, "broken \xEF\xBF\xBD( end");

  const std::string html = StatusHtml(s);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_EQ(html.find("<i>"), std::string::npos);
  EXPECT_EQ(html.find("<note>"), std::string::npos);
  EXPECT_EQ(html.find('\x01'), std::string::npos);
  EXPECT_EQ(html.find('\xC3' + std::string("(")), std::string::npos);
  EXPECT_NE(html.find("<td class=\"name\">&lt;script&gt;alert(1)&lt;/script&gt;</td>"),
            std::string::npos);
  EXPECT_NE(html.find("O&#39;Neil &quot;Q&quot; a\\b\xEF\xBF\xBD &amp; Zo\xC3\xA9"),
            std::string::npos);
  EXPECT_NE(html.find("refusés : &lt;/td&gt;</td>"), std::string::npos);
  EXPECT_NE(html.find("<title>g&lt;b&gt; — année 2405</title>"), std::string::npos);
  EXPECT_NE(html.find("<span id=\"state\">en retard &amp; &lt;i&gt;</span>"), std::string::npos);
  EXPECT_NE(html.find("<p id=\"note\">&lt;note&gt;</p>"), std::string::npos);
}

TEST(StatusPageHtml, TheHostsMessageComesFirstEachStateIsExplainedAndTheScheduleSaid) {
  ScopedTimeZone paris("Europe/Paris");
  StatusSnapshot s = WinterSnapshot();
  s.news = "Tour <b>rejoué</b> & \"lundi\"";
  s.schedule = "l'échéance de chaque tour tombe 48 heures après sa génération";
  std::string html = StatusHtml(s);
  const std::size_t news = html.find(
      "<p id=\"news\">message de l'hôte : Tour &lt;b&gt;rejoué&lt;/b&gt; &amp; "
      "&quot;lundi&quot;</p>");
  ASSERT_NE(news, std::string::npos) << html;
  EXPECT_LT(news, html.find("id=\"state\""));
  EXPECT_NE(html.find("<p id=\"schedule\">l&#39;échéance de chaque tour tombe 48 heures après "
                      "sa génération</p>"),
            std::string::npos)
      << html;
  EXPECT_EQ(ParseOrFail(StatusJson(s))["news"].text, s.news);

  // Every state the window shows has its line; one the page does not know has none.
  for (const char* state : {"incomplet", "prêt à générer", "en retard", "devrait générer",
                            "génération forcée", "en pause", "partie terminée"}) {
    s.state = state;
    html = StatusHtml(s);
    const std::size_t line = html.find("<p id=\"state-meaning\">");
    ASSERT_NE(line, std::string::npos) << state;
    EXPECT_GT(line, html.find("id=\"state\"")) << state;
    ASSERT_NE(StateMeaning(state), nullptr);
    EXPECT_NE(html.find(StateMeaning(state)), std::string::npos) << state;
  }
  EXPECT_STRNE(StateMeaning("en retard"), StateMeaning("prêt à générer"));
  s.state = "<i>";
  s.news.clear();
  s.schedule.clear();
  html = StatusHtml(s);
  for (const char* id : {"state-meaning", "news", "schedule"})
    EXPECT_EQ(html.find(std::string("id=\"") + id + "\""), std::string::npos) << id;
}

TEST(StatusPageHtml, ReadsInFrenchForAPhone) {
  ScopedTimeZone paris("Europe/Paris");
  StatusSnapshot s = WinterSnapshot();
  std::string html = StatusHtml(s);
  for (const char* part : {
           "<!DOCTYPE html>",
           "<html lang=\"fr\">",
           "<meta charset=\"utf-8\">",
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">",
           "<meta http-equiv=\"refresh\" content=\"60\">",
           "<title>alpha — année 2405</title>",
           "<span id=\"state\">en retard</span>",
           "<time id=\"deadline\" datetime=\"2026-12-08T18:00:00+01:00\">"
           "mardi 8 décembre 2026 18:00 (UTC+01:00)</time>",
           "<p id=\"time-left\">dans 5 h 12 min</p>",
           "<tr id=\"row-1\" class=\"orders-in\">",
           ">ordres reçus</td>",
           "<tr id=\"row-2\" class=\"orders-refused\">",
           ">refusés : incomplet (envoi en cours ou coupé)</td>",
           "<tr id=\"row-3\" class=\"orders-computer\">",
           ">ordinateur</td>",
           "<tr id=\"row-4\" class=\"orders-late\">",
           ">en attente</td>",
           "dernière génération : <span id=\"last-generation\">"
           "dimanche 6 décembre 2026 18:00 (UTC+01:00)</span>",
           "mis à jour : <span id=\"updated\">mardi 8 décembre 2026 12:48 (UTC+01:00)</span>",
       })
    EXPECT_NE(html.find(part), std::string::npos) << part;
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("id=\"note\""), std::string::npos);

  // Passed, in summer time, on the first of the month; no year, no generation seen yet.
  s.year.clear();
  s.lastGeneration.reset();
  s.stateNote = "tour forcé à l'échéance";
  s.deadline = At(2026, 9, 1, 9, 30);
  s.updated = At(2026, 9, 1, 11, 33, 59);
  html = StatusHtml(s);
  for (const char* part : {
           "<title>alpha</title>",
           "<p id=\"note\">tour forcé à l&#39;échéance</p>",
           ">mardi 1er septembre 2026 09:30 (UTC+02:00)</time>",
           "<p id=\"time-left\" class=\"passed\">dépassée depuis 2 h 03 min</p>",
           "<span id=\"last-generation\">aucune</span>",
       })
    EXPECT_NE(html.find(part), std::string::npos) << part;

  // Days, then under a minute either side.
  s.updated = At(2026, 8, 29, 9, 25);
  EXPECT_NE(StatusHtml(s).find(">dans 3 j 0 h 05 min<"), std::string::npos);
  s.updated = At(2026, 9, 1, 9, 29, 30);
  EXPECT_NE(StatusHtml(s).find(">dans moins d’une minute<"), std::string::npos);
  s.updated = At(2026, 9, 1, 9, 30, 59);
  EXPECT_NE(StatusHtml(s).find(">dépassée depuis moins d’une minute<"), std::string::npos);

  s.deadline.reset();
  html = StatusHtml(s);
  EXPECT_NE(html.find("<span id=\"deadline\">inconnue</span>"), std::string::npos);
  EXPECT_EQ(html.find("time-left"), std::string::npos);
}

struct FileIdentity {
  ino_t inode = 0;
  timespec modified{};
};

std::optional<FileIdentity> Identify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_ino, st.st_mtim};
}

bool Same(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b) {
  return a && b && a->inode == b->inode && a->modified.tv_sec == b->modified.tv_sec &&
         a->modified.tv_nsec == b->modified.tv_nsec;
}

TEST(StatusPageWriter, WritesBothFilesOnlyWhenTheirBytesChange) {
  ScopedTimeZone paris("Europe/Paris");
  test::TempDir dir;
  const std::string json = dir.file("status.json");
  const std::string html = dir.file("index.html");
  StatusSnapshot s = WinterSnapshot();

  StatusPageWriter writer(dir.path());
  EXPECT_TRUE(writer.Write(s));
  // Nothing but the two pages: the files written beside them are gone.
  const auto files = test::FolderFiles(dir.path());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at("status.json"), StatusJson(s));
  EXPECT_EQ(files.at("index.html"), StatusHtml(s));
  const auto jsonBefore = Identify(json);
  const auto htmlBefore = Identify(html);

  EXPECT_FALSE(writer.Write(s));
  EXPECT_TRUE(Same(Identify(json), jsonBefore));
  EXPECT_TRUE(Same(Identify(html), htmlBefore));

  // A new look changes both pages; a replaced file is a new inode, never the old one rewritten.
  s.updated += 1.0 / 1440;
  EXPECT_TRUE(writer.Write(s));
  EXPECT_FALSE(Same(Identify(json), jsonBefore));
  EXPECT_FALSE(Same(Identify(html), htmlBefore));
  EXPECT_EQ(test::ReadFile(json), StatusJson(s));
  EXPECT_EQ(test::ReadFile(html), StatusHtml(s));
  EXPECT_EQ(test::FolderFiles(dir.path()).size(), 2u);

  // A new writer does not know what is on disk and writes again.
  const auto jsonKept = Identify(json);
  StatusPageWriter fresh(dir.path() + "/");
  EXPECT_TRUE(fresh.Write(s));
  EXPECT_FALSE(Same(Identify(json), jsonKept));
  EXPECT_EQ(test::FolderFiles(dir.path()).size(), 2u);

  StatusPageWriter nowhere(dir.file("missing/folder"));
  try {
    nowhere.Write(s);
    ADD_FAILURE() << "no error for a missing folder";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.code(), 2);  // ENOENT
  }
  EXPECT_EQ(test::FolderFiles(dir.path()).size(), 2u);
  // Once the folder is there, the failed pages are written.
  ASSERT_EQ(::mkdir(dir.file("missing").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(dir.file("missing/folder").c_str(), 0777), 0);
  EXPECT_TRUE(nowhere.Write(s));
  EXPECT_EQ(test::ReadFile(dir.file("missing/folder/index.html")), StatusHtml(s));
}

std::vector<std::string> Names(const std::map<std::string, std::string>& files) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  return names;
}

TEST(StatusPublisher, PutsThePageAloneInItsFolderAndWritesTheRobotsEndOnItsLastPage) {
  ScopedTimeZone paris("Europe/Paris");
  test::TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("pub").c_str(), 0777), 0);
  const std::string game = dir.file("pub/alpha");
  const std::string page = dir.file("pub/alpha/status");
  EXPECT_EQ(StatusPageFolder(dir.file("pub"), "alpha"), page);
  ProgramRecords records;
  records.host.publicationDir = dir.file("pub");
  StatusSnapshot s = WinterSnapshot();
  s.stateNote = "vacances de Noël";

  StatusPublisher publisher(records);
  publisher.Publish(s, "turn 5");
  // Made as needed, and nothing but the page in it: a server of the page serves no turn file.
  EXPECT_EQ(Names(test::FolderFiles(page)),
            (std::vector<std::string>{"index.html", "status.json"}));
  EXPECT_TRUE(test::FolderFiles(game).empty());
  EXPECT_EQ(test::ReadFile(page + "/status.json"), StatusJson(s));

  // Another robot on the same publication (one that never held the game) leaves it alone.
  ProgramRecords other;
  other.host.publicationDir = dir.file("pub");
  const TDateTime stop = s.updated + 1.0 / 24;
  StatusPublisher(other).PublishEnd("erreur", stop);
  EXPECT_EQ(test::ReadFile(page + "/status.json"), StatusJson(s));

  // The program ends with a publisher of its own over the robot's records: the last page made a
  // stopped robot's, which says since when and counts no time down.
  StatusSnapshot ended = s;
  ended.state = "robot arrêté";
  ended.stateNote = "robot arrêté : erreur";
  ended.stoppedSince = ended.updated = stop;
  StatusPublisher(records).PublishEnd("erreur", stop);
  EXPECT_EQ(test::ReadFile(page + "/status.json"), StatusJson(ended));
  const std::string html = test::ReadFile(page + "/index.html");
  EXPECT_EQ(html, StatusHtml(ended));
  const Json json = ParseOrFail(test::ReadFile(page + "/status.json"));
  EXPECT_EQ(json["state"].text, "robot arrêté");
  EXPECT_EQ(json["note"].text, "robot arrêté : erreur");
  EXPECT_TRUE(json["time_left_s"].IsNull());
  EXPECT_EQ(json["stopped_since"].text, IsoLocalWithOffset(stop));
  EXPECT_EQ(html.find("id=\"time-left\""), std::string::npos);
  EXPECT_NE(html.find("aucun tour n'est joué avant qu'il reparte"), std::string::npos);
  EXPECT_EQ(html.find("le robot les attend"), std::string::npos);

  // Without a why, the bare words; a page with no note before gets one.
  s.stateNote.clear();
  publisher.Publish(s, "turn 5");
  publisher.PublishEnd("", stop);
  ended.stateNote = "robot arrêté";
  EXPECT_EQ(test::ReadFile(page + "/status.json"), StatusJson(ended));
  EXPECT_EQ(Names(test::FolderFiles(page)),
            (std::vector<std::string>{"index.html", "status.json"}));
}

}  // namespace
}  // namespace ventari
