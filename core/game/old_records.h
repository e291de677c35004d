#pragma once
// The record files a game kept before its store: read once into the store, in the transaction
// that makes it, then renamed "<name>.moved" and deleted once the next turn is generated.

#include <string>
#include <vector>

namespace ventari {

class GameStore;

// Every old record file of the game, whether it is there or not; the one of the host's messages
// lies in the games folder, above the per-game folder.
std::vector<std::string> OldRecordPaths(const std::string& gameDir);

// Reads each old file there into the store's tables, inside the caller's transaction. Raises
// StoreError when one cannot be read.
void ImportOldRecords(GameStore& store, const std::string& gameDir);
// Renames each old file still there "<name>.moved"; one that cannot be renamed is tried again
// at the next opening of the store.
void MoveOldRecordsAside(const std::string& gameDir);
// Deletes the renamed ones.
void DropMovedRecords(const std::string& gameDir);

}  // namespace ventari
