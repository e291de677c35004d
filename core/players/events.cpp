#include "core/players/events.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <string_view>

namespace ventari::events {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QJsonArray Names(const std::vector<std::string>& names) {
  QJsonArray array;
  for (const std::string& name : names) array.append(Text(name));
  return array;
}

QJsonObject Event(const char* kind, const std::string& game) {
  QJsonObject object;
  object.insert(QStringLiteral("event"), QString::fromUtf8(kind));
  object.insert(QStringLiteral("game"), Text(game));
  return object;
}

std::string Json(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// The host's folders are his machine's business, not a chat room's: each absolute path becomes
// its last name. A path runs from a "/" that starts a word to the ": " that ends it in the
// robot's messages ("... in /home/h/jeux/alpha: Disk full"), blanks included; without one on
// its line, to the next blank or closing sign.
std::string WithoutPaths(const std::string& text) {
  constexpr std::string_view kBeforeWord = " \t\n(\"'";
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '/' || (i > 0 && kBeforeWord.find(text[i - 1]) == std::string_view::npos)) {
      result += text[i++];
      continue;
    }
    const std::size_t lineEnd = std::min(text.find('\n', i), text.size());
    std::size_t end = text.find(": ", i);
    if (end > lineEnd) end = std::min(text.find_first_of(" \t),;", i), lineEnd);
    std::string path = text.substr(i, end - i);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    result += path.substr(path.find_last_of('/') + 1);
    i = end;
  }
  return result;
}

}  // namespace

std::string Turn(const std::string& game, const std::string& played, const std::string& year,
                 const std::optional<std::string>& deadline, const std::vector<std::string>& forced,
                 const std::vector<std::string>& late) {
  QJsonObject object = Event("turn", game);
  object.insert(QStringLiteral("played"), Text(played));
  object.insert(QStringLiteral("year"), Text(year));
  object.insert(QStringLiteral("deadline"), deadline ? QJsonValue(Text(*deadline)) : QJsonValue());
  object.insert(QStringLiteral("forced"), Names(forced));
  object.insert(QStringLiteral("late"), Names(late));
  return Json(object);
}

std::string Orders(const std::string& game, const std::string& year, const std::string& name,
                   int row, bool correction) {
  QJsonObject object = Event("orders", game);
  object.insert(QStringLiteral("year"), Text(year));
  object.insert(QStringLiteral("name"), Text(name));
  object.insert(QStringLiteral("row"), row);
  object.insert(QStringLiteral("correction"), correction);
  return Json(object);
}

std::string Reminder(const std::string& game, const std::string& year, const std::string& deadline,
                     const std::vector<std::string>& late) {
  QJsonObject object = Event("reminder", game);
  object.insert(QStringLiteral("year"), Text(year));
  object.insert(QStringLiteral("deadline"), Text(deadline));
  object.insert(QStringLiteral("late"), Names(late));
  return Json(object);
}

std::string Pause(const std::string& game, const std::string& text) {
  QJsonObject object = Event("pause", game);
  object.insert(QStringLiteral("text"), Text(text));
  return Json(object);
}

std::string Resume(const std::string& game, const std::string& text) {
  QJsonObject object = Event("resume", game);
  object.insert(QStringLiteral("text"), Text(text));
  return Json(object);
}

std::string Failure(const std::string& game, const std::string& text) {
  QJsonObject object = Event("failure", game);
  object.insert(QStringLiteral("text"), Text(WithoutPaths(text)));
  return Json(object);
}

std::string GameOver(const std::string& game, const std::string& year) {
  QJsonObject object = Event("game-over", game);
  object.insert(QStringLiteral("year"), Text(year));
  return Json(object);
}

std::string News(const std::string& game, const std::string& text) {
  QJsonObject object = Event("news", game);
  object.insert(QStringLiteral("text"), Text(text));
  return Json(object);
}

}  // namespace ventari::events
