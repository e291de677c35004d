#include "core/players/mail_record.h"

#include <cstdlib>
#include <filesystem>

#include "core/game/game_store.h"

namespace ventari {

std::string MailRecordPath(const std::string& gameDir) { return gameDir + "/ventari-mail.txt"; }

std::string MailRecord::GameDir() const {
  return std::filesystem::path(m_path).parent_path().string();
}

void MailRecord::Load(const std::string& path, long long now, bool mark) {
  *this = MailRecord();
  m_path = path;
  {
    GameStore store(GameDir(), GameStore::Access::kRead);
    GameStore::Query since = store.Select("SELECT value FROM note WHERE name = 'mail-since'");
    if (since.Step()) m_since = std::atoll(since.Text(0).c_str());
    GameStore::Query steps =
        store.Select("SELECT message, step, row, at, detail FROM mail_step ORDER BY id");
    while (steps.Step()) {
      Step step{steps.Text(0), steps.Text(1), std::nullopt, std::nullopt, steps.Text(4)};
      if (!steps.IsNull(2)) step.row = static_cast<int>(steps.Int(2));
      if (!steps.IsNull(3)) step.at = steps.Int(3);
      Apply(step);
    }
  }
  if (m_since == 0 && !mark) m_since = now;
  if (m_since == 0) {
    GameStore store(GameDir(), GameStore::Access::kWrite);
    store.Run("INSERT OR REPLACE INTO note(name, value) VALUES('mail-since', ?)",
              std::to_string(now));
    m_since = now;
  }
}

void MailRecord::Apply(const Step& step) {
  MessageSteps& steps = m_steps[step.message];
  const int row = step.row.value_or(0);
  if (step.step == "id") {
    steps.identity = step.detail;
    m_identities.emplace(steps.identity, step.message);
  } else if (step.step == "place" && step.row && step.at) {
    steps.placing[row] = *step.at;
  } else if (step.step == "placed" && step.row) {
    steps.placed.insert(row);
    // A step of an older robot has no time: that file is known by its date in the folder.
    if (step.at) m_lastPlacement[row] = MailedPlacement{*step.at, step.detail};
  } else if (step.step == "answered") {
    steps.answered = true;
  } else if (step.step == "turn" && step.row && step.at) {
    steps.turnSent.insert(row);
    m_turnsSent[row].push_back(*step.at);
  } else if (step.step == "done") {
    steps.done = step.detail;
  }
}

void MailRecord::Append(const Step& step) {
  // Committed before the act it announces.
  GameStore store(GameDir(), GameStore::Access::kWrite);
  GameStore::Query insert =
      store.Select("INSERT INTO mail_step(message, step, row, at, detail) VALUES(?, ?, ?, ?, ?)");
  insert.Bind(step.message).Bind(step.step);
  if (step.row)
    insert.Bind(*step.row);
  else
    insert.Bind(std::nullopt);
  if (step.at)
    insert.Bind(*step.at);
  else
    insert.Bind(std::nullopt);
  insert.Bind(step.detail);
  while (insert.Step()) {
  }
  Apply(step);
}

const MessageSteps* MailRecord::Steps(const std::string& key) const {
  const auto found = m_steps.find(key);
  return found == m_steps.end() ? nullptr : &found->second;
}

std::string MailRecord::KeyOf(const std::string& identity) const {
  const auto found = m_identities.find(identity);
  return found == m_identities.end() ? std::string() : found->second;
}

std::optional<MailedPlacement> MailRecord::LastPlacement(int row) const {
  const auto found = m_lastPlacement.find(row);
  if (found == m_lastPlacement.end()) return std::nullopt;
  return found->second;
}

std::vector<long long> MailRecord::TurnsSent(int row) const {
  const auto found = m_turnsSent.find(row);
  return found == m_turnsSent.end() ? std::vector<long long>() : found->second;
}

void MailRecord::Begin(const std::string& key, const std::string& identity) {
  Append({key, "id", std::nullopt, std::nullopt, identity});
}

void MailRecord::BeginPlacing(const std::string& key, int row, long long now) {
  Append({key, "place", row, now, {}});
}

void MailRecord::Placed(const std::string& key, int row, const MailedPlacement& placement) {
  Append({key, "placed", row, placement.sentAt, placement.hash});
}

void MailRecord::Answered(const std::string& key) {
  Append({key, "answered", std::nullopt, std::nullopt, {}});
}

void MailRecord::TurnSent(const std::string& key, int row, long long now) {
  Append({key, "turn", row, now, {}});
}

void MailRecord::Done(const std::string& key, const std::string& flags) {
  Append({key, "done", std::nullopt, std::nullopt, flags});
}

}  // namespace ventari
