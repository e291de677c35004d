#pragma once
// The host's Maildir as the robot sees it: the messages in new/ and cur/, known by the unique
// part of their names, and filed into cur/ with flags added to those a mail client set.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventari {

// VENTARI_MAILDIR; nothing when unset or empty (no orders by mail).
std::optional<std::string> MaildirFromEnvironment();
// Why the robot cannot take messages from the folder (not a Maildir with new/, cur/ and tmp/
// it may read and write); nothing when it can.
std::optional<std::string> MaildirProblem(const std::string& maildir);

struct MaildirEntry {
  bool inNew = false;       // in new/, else in cur/
  std::string name;         // the file's name in its folder
  std::string key;          // the name without its flags: the same in new/ and cur/
  std::string flags;        // after ":2," in cur/
  long long arrivedAt = 0;  // the file's date, seconds since the epoch; 0 until Stat()
  std::int64_t arrivedNs = 0;

  std::string Path(const std::string& maildir) const;
  // Reads the date; false when the entry is gone or no plain file (a link reads nothing).
  bool Stat(const std::string& maildir);
};

// Every message of new/ and cur/, by their names alone (no file is opened).
std::vector<MaildirEntry> ListMaildir(const std::string& maildir);

// Moves the message into cur/ (from new/, or within cur/) with `flag` added to its flags;
// nothing when it is there already. False with errno when it could not be moved.
bool FileWithFlag(const std::string& maildir, const MaildirEntry& entry, char flag);

}  // namespace ventari
