#pragma once
// The lock a robot holds on its game folder for its whole life: an exclusive flock on
// <folder>/ventari.lock, which holds the holder's process id. The kernel drops it when the
// process dies, however it dies, so a killed robot never leaves it stuck.

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace ventari {

class FolderLock {
 public:
  struct Held {
    std::string path;
    int pid = 0;  // 0 when the holder's id could not be read
  };

  // Takes the lock, or says who holds it. Raises EInOutError when the lock file cannot be made.
  static FolderLock Acquire(const std::string& folder, Held* heldBy);
  // Who holds the lock on the folder, without taking it; nothing when nobody does.
  static std::optional<Held> Holder(const std::string& folder);

  FolderLock() = default;
  bool held() const { return m_fd.valid(); }
  const std::string& folder() const { return m_folder; }

 private:
  FolderLock(std::string folder, UniqueFd fd) : m_folder(std::move(folder)), m_fd(std::move(fd)) {}
  std::string m_folder;
  UniqueFd m_fd;
};

std::string LockFilePath(const std::string& folder);

}  // namespace ventari
