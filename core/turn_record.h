#pragma once
// A small file of the per-game folder that remembers for which turn something was done (the
// host's reminder), so that neither a tick nor a restart does it again for the same turn.

#include <string>

namespace ventari {

// The per-game folder's record of the host's reminder.
std::string ReminderRecordPath(const std::string& gameDir);

// The record's first line is `turnKey`.
bool TurnRecordHolds(const std::string& path, const std::string& turnKey);
// Replaces the record whole; raises EInOutError.
void WriteTurnRecord(const std::string& path, const std::string& turnKey);

}  // namespace ventari
