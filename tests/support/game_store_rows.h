#pragma once
// A test's look into a game's store, and the faults it can put there.

#include <string>
#include <vector>

namespace ventari::test {

// Each row of `sql` over the game's store, its columns joined by '|'.
std::vector<std::string> StoreRows(const std::string& gameDir, const std::string& sql);
// Every change to `table` fails from now on, as on a full disk.
void FailStoreWrites(const std::string& gameDir, const std::string& table);
// The store and its side files gone, as if never made.
void DropGameStore(const std::string& gameDir);

}  // namespace ventari::test
