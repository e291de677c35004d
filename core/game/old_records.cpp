#include "core/game/old_records.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/game/game_store.h"
#include "platform/files.h"

namespace ventari {

namespace {

std::string GamesFolderOf(const std::string& gameDir) {
  return std::filesystem::path(gameDir).parent_path().string();
}

// The lines of an old file; nothing when it is not there.
std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  if (!FileExists(path)) return lines;
  std::string text;
  try {
    text = ReadWholeFile(path);
  } catch (const EInOutError& error) {
    throw StoreError("the old record " + path + " cannot be read: " + error.what());
  }
  std::string line;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The files that said for which turn something was done: their first line, then rows.
void ImportTurnNotes(GameStore& store, const std::string& gameDir) {
  for (const char* name : {"reminder", "forced-reminder", "late-players", "journal-told"}) {
    const std::vector<std::string> lines =
        Lines(gameDir + "/ventari-" + std::string(name) + ".txt");
    if (lines.empty()) continue;
    std::string rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      int row = 0;
      std::istringstream field(lines[i]);
      if (field >> row && field.eof()) rows += (rows.empty() ? "" : " ") + std::to_string(row);
    }
    store.Run("INSERT INTO turn_note(name, turn_key, rows) VALUES(?, ?, ?)", name, lines[0], rows);
  }
}

void ImportReceipts(GameStore& store, const std::string& gameDir) {
  // "<row> turn <turn> sha256 <hash> at <seconds> in|out"; lines of another shape matched
  // nothing, and the first line of a row was the one read.
  for (const std::string& line : Lines(gameDir + "/ventari-receipts.txt")) {
    std::istringstream fields(line);
    int row = 0, turn = -1;
    long long at = 0;
    std::string turnWord, hashWord, hash, atWord, verdict;
    if (!(fields >> row >> turnWord >> turn >> hashWord >> hash) || turnWord != "turn" ||
        hashWord != "sha256")
      continue;
    const bool timed = static_cast<bool>(fields >> atWord >> at >> verdict) && atWord == "at";
    store.Run("INSERT OR IGNORE INTO receipt(row, turn, hash, at, accepted) VALUES(?, ?, ?, ?, ?)",
              row, turn, hash, timed ? at : 0LL, timed && verdict == "in" ? 1 : 0);
  }
}

void ImportMailSteps(GameStore& store, const std::string& gameDir) {
  for (const std::string& line : Lines(gameDir + "/ventari-mail.txt")) {
    std::istringstream fields(line);
    std::string key, verb;
    if (!(fields >> key >> verb)) continue;
    if (key == "#since") {
      store.Run("INSERT OR REPLACE INTO note(name, value) VALUES('mail-since', ?)", verb);
      continue;
    }
    const std::string sql =
        "INSERT INTO mail_step(message, step, row, at, detail) VALUES(?, ?, ?, ?, ?)";
    int row = 0;
    long long when = 0;
    std::string text;
    if (verb == "id" && fields >> text) {
      store.Run(sql, key, verb, std::nullopt, std::nullopt, text);
    } else if ((verb == "place" || verb == "turn") && fields >> row >> when) {
      store.Run(sql, key, verb, row, when, std::nullopt);
    } else if (verb == "placed" && fields >> row) {
      // A line of an older robot has no time: that file is known by its date in the folder.
      if (fields >> when >> text)
        store.Run(sql, key, verb, row, when, text);
      else
        store.Run(sql, key, verb, row, std::nullopt, std::nullopt);
    } else if (verb == "answered") {
      store.Run(sql, key, verb, std::nullopt, std::nullopt, std::nullopt);
    } else if (verb == "done") {
      fields >> text;
      store.Run(sql, key, verb, std::nullopt, std::nullopt, text == "-" ? std::string() : text);
    }
  }
}

void ImportGenerations(GameStore& store, const std::string& gameDir) {
  const std::vector<std::string> last = Lines(gameDir + "/ventari-last-generation.txt");
  int turn = 0;
  long long at = 0;
  if (last.size() >= 2 && std::sscanf(last[0].c_str(), "turn %d", &turn) == 1 &&
      std::istringstream(last[1]) >> at)
    store.Run("INSERT INTO generation(turn, ended_at) VALUES(?, ?)", turn, at);

  std::map<std::string, std::string> forced;
  std::string rows;
  for (const std::string& line : Lines(gameDir + "/ventari-forced.txt")) {
    std::istringstream fields(line);
    std::string label, value;
    fields >> label >> value;
    if (label == "row")
      rows += (rows.empty() ? "" : " ") + value;
    else
      forced[label] = value;
  }
  if (forced.count("turn") != 0)
    store.Run("INSERT INTO forced_turn(turn, hours, rows) VALUES(?, ?, ?)",
              std::atoi(forced["turn"].c_str()), forced["hours"], rows);
}

void ImportNotes(GameStore& store, const std::string& gameDir) {
  const std::vector<std::string> stale = Lines(gameDir + "/ventari-stale-deadline.txt");
  if (FileExists(gameDir + "/ventari-stale-deadline.txt"))
    store.Run("INSERT INTO note(name, value) VALUES('stale-deadline', ?)",
              stale.empty() ? std::string() : stale[0]);
  for (const std::string& line : Lines(GamesFolderOf(gameDir) + "/ventari-news-sent.txt")) {
    long long id = 0;
    std::istringstream field(line);
    if (field >> id && field.eof()) store.Run("INSERT OR IGNORE INTO news_sent(id) VALUES(?)", id);
  }
}

void ImportFirstTurn(GameStore& store, const std::string& gameDir) {
  const std::vector<std::string> lines = Lines(gameDir + "/ventari-first-turn.txt");
  int turn = -1;
  if (lines.empty() || std::sscanf(lines[0].c_str(), "turn %d", &turn) != 1) return;
  const std::string sql = "INSERT INTO first_turn(turn, row, step, at) VALUES(?, ?, ?, ?)";
  store.Run(sql, turn, 0, "begun", 0LL);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::istringstream fields(lines[i]);
    std::string word;
    int row = 0;
    long long at = 0;
    if (!(fields >> word >> row)) continue;
    if (word == "mailed")
      store.Run(sql, turn, row, word, 0LL);
    else if (word == "failed" && fields >> at)
      store.Run(sql, turn, row, word, at);
  }
}

}  // namespace

std::vector<std::string> OldRecordPaths(const std::string& gameDir) {
  std::vector<std::string> paths;
  for (const char* name :
       {"receipts", "mail", "reminder", "forced-reminder", "late-players", "last-generation",
        "forced", "journal-told", "stale-deadline", "first-turn"})
    paths.push_back(gameDir + "/ventari-" + name + ".txt");
  paths.push_back(GamesFolderOf(gameDir) + "/ventari-news-sent.txt");
  return paths;
}

void ImportOldRecords(GameStore& store, const std::string& gameDir) {
  ImportTurnNotes(store, gameDir);
  ImportReceipts(store, gameDir);
  ImportMailSteps(store, gameDir);
  ImportGenerations(store, gameDir);
  ImportNotes(store, gameDir);
  ImportFirstTurn(store, gameDir);
}

void MoveOldRecordsAside(const std::string& gameDir) {
  for (const std::string& path : OldRecordPaths(gameDir)) {
    std::error_code error;
    if (std::filesystem::exists(path, error)) std::filesystem::rename(path, path + ".moved", error);
  }
}

void DropMovedRecords(const std::string& gameDir) {
  for (const std::string& path : OldRecordPaths(gameDir)) DeleteFileQuiet(path + ".moved");
}

}  // namespace ventari
