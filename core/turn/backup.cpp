#include "core/turn/backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/unique_fd.h"
#include "stars/stars_file.h"

namespace ventari {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, const std::error_code& e) {
  throw BackupError("Stars! " + what + " " + path + ": " + e.message() + " !!!");
}

std::error_code LastError() { return {errno, std::generic_category()}; }

// Flushes a file or a folder to the disk.
std::error_code Sync(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || ::fsync(fd.get()) != 0) return LastError();
  return {};
}

// Copies `source` to `target` through a temporary name, flushed, then renamed over it.
void CopyDurably(const std::string& source, const std::string& target, const char* what,
                 const std::string& folder) {
  const std::string temp = target + ".ventari-new";
  std::error_code error;
  fs::copy_file(source, temp, fs::copy_options::overwrite_existing, error);
  if (!error) error = Sync(temp);
  if (!error) fs::rename(temp, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    Fail(what, folder, error);
  }
}

bool IsGameFile(const fs::directory_entry& entry, const std::string& gameName) {
  std::error_code error;
  const std::string name = entry.path().filename().string();
  return entry.is_regular_file(error) && name.size() > gameName.size() + 1 &&
         name.compare(0, gameName.size() + 1, gameName + ".") == 0 &&
         !name.ends_with(".ventari-new") && !name.ends_with(".ventari-copy");
}

}  // namespace

std::vector<std::string> GameFileNames(const std::string& gameDir, const std::string& gameName) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(gameDir, error))
    if (IsGameFile(entry, gameName)) names.push_back(entry.path().filename().string());
  if (error) Fail("game folder unreadable:", gameDir, error);
  std::sort(names.begin(), names.end());
  return names;
}

std::string MakeGameBackup(const std::string& gameDir, const std::string& gameName,
                           const std::string& year) {
  const std::string root = gameDir + "/backup";
  std::error_code error;
  fs::create_directories(root, error);
  if (error) Fail("backup not made in", root, error);

  std::string name = year;
  for (int n = 2; fs::exists(root + "/" + name, error) || error; ++n) {
    if (error) Fail("backup not made in", root, error);
    name = year + "-" + std::to_string(n);
  }
  const std::string final = root + "/" + name;
  const std::string partial = root + "/." + name + ".partial";
  fs::remove_all(partial, error);
  if (!error) fs::create_directory(partial, error);
  if (error) Fail("backup not made in", final, error);
  try {
    for (const std::string& file : GameFileNames(gameDir, gameName))
      CopyDurably(gameDir + "/" + file, partial + "/" + file, "backup not made in", final);
    if ((error = Sync(partial))) Fail("backup not made in", final, error);
    fs::rename(partial, final, error);
    if (!error) error = Sync(root);
    if (error) Fail("backup not made in", final, error);
  } catch (const BackupError&) {
    fs::remove_all(partial, error);
    throw;
  }
  return final;
}

bool IsOrderFileName(const std::string& name, const std::string& gameName) {
  const std::string prefix = gameName + ".x";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

namespace {

// The two files hold the same bytes; false when either cannot be read.
bool SameBytes(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  return first && second &&
         std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

// A live order file that is a player's latest word for the turn the backup puts back: of that
// game and that turn. One of another turn (the host going back years) is stale.
bool OrdersForTurn(const std::string& path, const stars::FileHeader& host) {
  stars::FileHeader orders;
  return stars::ReadFileHeader(path, orders) == stars::HeaderRead::kOk &&
         orders.fileType == stars::kOrderFile && orders.gameId == host.gameId &&
         orders.turn == host.turn;
}

}  // namespace

RestoredFiles RestoreGameBackup(const std::string& backupDir, const std::string& gameDir,
                                const std::string& gameName) {
  RestoredFiles result;
  const std::vector<std::string> inBackup = GameFileNames(backupDir, gameName);
  stars::FileHeader host;
  const bool hostRead = stars::ReadHostHeader(backupDir + "/" + gameName + ".hst", host);
  auto correction = [&](const std::string& file) {
    return hostRead && IsOrderFileName(file, gameName) && OrdersForTurn(gameDir + "/" + file, host);
  };
  for (const std::string& file : inBackup) {
    const std::string live = gameDir + "/" + file;
    // A correction uploaded after the backup is the player's latest word: it stays.
    if (correction(file) && !SameBytes(backupDir + "/" + file, live)) {
      result.kept.push_back(file);
      continue;
    }
    CopyDurably(backupDir + "/" + file, live, "files not restored in", gameDir);
    result.restored.push_back(file);
  }
  // What the game wrote beyond the backup (new turn files of a half-done turn) goes too; an
  // order file of the backup's turn that it lacks was uploaded after it, and stays.
  for (const std::string& file : GameFileNames(gameDir, gameName)) {
    if (std::binary_search(inBackup.begin(), inBackup.end(), file)) continue;
    if (correction(file)) {
      result.kept.push_back(file);
      continue;
    }
    std::error_code error;
    fs::remove(gameDir + "/" + file, error);
    if (error) Fail("files not restored in", gameDir, error);
  }
  if (const std::error_code error = Sync(gameDir)) Fail("files not restored in", gameDir, error);
  std::sort(result.kept.begin(), result.kept.end());
  return result;
}

std::vector<std::string> ListGameBackups(const std::string& gameDir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(gameDir + "/backup", error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory(error) && !name.starts_with(".")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ventari
