#include "core/mail_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/errors.h"
#include "platform/unique_fd.h"

namespace ventari {

std::string MailRecordPath(const std::string& gameDir) { return gameDir + "/ventari-mail.txt"; }

void MailRecord::Load(const std::string& path, long long now, bool mark) {
  *this = MailRecord();
  m_path = path;
  std::ifstream file(m_path);
  std::string line;
  while (std::getline(file, line)) Apply(line);
  if (m_since == 0 && !mark) m_since = now;
  if (m_since == 0) {
    Append("#since " + std::to_string(now));
    m_since = now;
  }
}

void MailRecord::Apply(const std::string& line) {
  std::istringstream fields(line);
  std::string key, verb;
  if (!(fields >> key >> verb)) return;
  if (key == "#since") {
    m_since = std::atoll(verb.c_str());
    return;
  }
  MessageSteps& steps = m_steps[key];
  int row = 0;
  long long when = 0;
  if (verb == "id" && fields >> steps.identity) {
    m_identities.emplace(steps.identity, key);
  } else if (verb == "place" && fields >> row >> when) {
    steps.placing[row] = when;
  } else if (verb == "placed" && fields >> row) {
    steps.placed.insert(row);
    MailedPlacement placement;
    // A line of an older robot has no time: that file is known by its date in the folder.
    if (fields >> placement.sentAt >> placement.hash) m_lastPlacement[row] = placement;
  } else if (verb == "answered") {
    steps.answered = true;
  } else if (verb == "turn" && fields >> row >> when) {
    steps.turnSent.insert(row);
    m_turnsSent[row].push_back(when);
  } else if (verb == "done") {
    std::string flags;
    fields >> flags;
    steps.done = flags == "-" ? std::string() : flags;
  }
}

void MailRecord::Append(const std::string& line) {
  // Appended and on the disk before the act it announces.
  UniqueFd fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  const std::string text = line + "\n";
  if (!fd.valid() ||
      ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::fsync(fd.get()) != 0)
    RaiseLastIoError();
  Apply(line);
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
  Append(key + " id " + identity);
}

void MailRecord::BeginPlacing(const std::string& key, int row, long long now) {
  Append(key + " place " + std::to_string(row) + " " + std::to_string(now));
}

void MailRecord::Placed(const std::string& key, int row, const MailedPlacement& placement) {
  Append(key + " placed " + std::to_string(row) + " " + std::to_string(placement.sentAt) + " " +
         placement.hash);
}

void MailRecord::Answered(const std::string& key) { Append(key + " answered"); }

void MailRecord::TurnSent(const std::string& key, int row, long long now) {
  Append(key + " turn " + std::to_string(row) + " " + std::to_string(now));
}

void MailRecord::Done(const std::string& key, const std::string& flags) {
  Append(key + " done " + (flags.empty() ? std::string("-") : flags));
}

}  // namespace ventari
