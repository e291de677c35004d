#pragma once
// The game store's record of what the robot did with each message of its game: one row per
// step, committed before the step is done, so that a robot killed in the middle places nothing
// twice and answers nothing twice. Messages are known by the unique part of their file
// name ("key") and by what they are (their Message-ID, or their bytes without one).

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventari {

// The file an older robot kept what was done with each message in; the store lies beside it.
std::string MailRecordPath(const std::string& gameDir);

struct MessageSteps {
  std::string identity;              // what the message is; empty before its handling began
  std::map<int, long long> placing;  // row -> when its placement began
  std::set<int> placed;
  bool answered = false;            // a refusal went
  std::set<int> turnSent;           // rows whose turn file went again
  std::optional<std::string> done;  // the flags it was filed with
};

// The last order file placed from a message for a row: when the message was sent, and the start
// of the file's hash, to know it again in the folder.
struct MailedPlacement {
  long long sentAt = 0;
  std::string hash;
};

class MailRecord {
 public:
  // Reads the record at `path` (none yet: empty). A record made before the robot took messages
  // moved to cur/ by a mail client starts that from now on.
  // `mark`: the first look writes when it began; --check only reads.
  void Load(const std::string& path, long long now, bool mark = true);
  const std::string& path() const { return m_path; }

  const MessageSteps* Steps(const std::string& key) const;
  // The message already handled under another file name with this identity; empty when none.
  std::string KeyOf(const std::string& identity) const;
  std::optional<MailedPlacement> LastPlacement(int row) const;
  // When each turn file sent again to `row` went, seconds since the epoch.
  std::vector<long long> TurnsSent(int row) const;
  // Messages in cur/ delivered before this (seconds) were there before the robot looked.
  long long since() const { return m_since; }

  // Each raises EInOutError when the step cannot be recorded.
  void Begin(const std::string& key, const std::string& identity);
  void BeginPlacing(const std::string& key, int row, long long now);
  void Placed(const std::string& key, int row, const MailedPlacement& placement);
  void Answered(const std::string& key);
  void TurnSent(const std::string& key, int row, long long now);
  void Done(const std::string& key, const std::string& flags);

 private:
  struct Step {
    std::string message;
    std::string step;  // id, place, placed, answered, turn, done
    std::optional<int> row;
    std::optional<long long> at;
    std::string detail;
  };
  void Append(const Step& step);
  void Apply(const Step& step);
  std::string GameDir() const;

  std::string m_path;
  std::map<std::string, MessageSteps> m_steps;
  std::map<std::string, std::string> m_identities;  // identity -> key
  std::map<int, MailedPlacement> m_lastPlacement;
  std::map<int, std::vector<long long>> m_turnsSent;
  long long m_since = 0;
};

}  // namespace ventari
