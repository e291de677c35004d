#pragma once
// A small record of the game's store that remembers for which turn something was done (the
// host's reminder, the late players reminded), so that neither a tick nor a restart does it
// again for the same turn. Each is named by the path its file had in the per-game folder: the
// store lies in that folder, and the record's name is the file's, without "ventari-" and ".txt".

#include <string>
#include <vector>

namespace ventari {

// The per-game folder's records of the host's reminders: a turn to generate by hand, a turn that
// may be forced by hand.
std::string ReminderRecordPath(const std::string& gameDir);
std::string ForcedReminderRecordPath(const std::string& gameDir);

// The record's turn is `turnKey`.
bool TurnRecordHolds(const std::string& path, const std::string& turnKey);
// Replaces the record whole; raises EInOutError.
void WriteTurnRecord(const std::string& path, const std::string& turnKey);

// The rows recorded with the turn, when it is `turnKey`; none for another turn or no record.
std::vector<int> TurnRecordRows(const std::string& path, const std::string& turnKey);
void WriteTurnRecord(const std::string& path, const std::string& turnKey,
                     const std::vector<int>& rows);
// Forgets the record; raises EInOutError.
void DropTurnRecord(const std::string& path);

}  // namespace ventari
