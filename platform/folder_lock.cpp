#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

namespace {

int ReadHolderPid(int fd) {
  char buffer[32] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  return n > 0 ? std::atoi(buffer) : 0;
}

bool TryLock(int fd, int operation) {
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

std::string LockFilePath(const std::string& folder) { return folder + "/ventari.lock"; }

FolderLock FolderLock::Acquire(const std::string& folder, Held* heldBy) {
  const std::string path = NativePath(LockFilePath(folder));
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) RaiseLastIoError();
  // A --check looks with a shared lock for an instant: a robot starting then waits it out.
  for (int attempt = 0;; ++attempt) {
    if (TryLock(fd.get(), LOCK_EX)) break;
    if (errno != EWOULDBLOCK || attempt == 10) {
      if (heldBy) *heldBy = Held{path, ReadHolderPid(fd.get())};
      return FolderLock();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd.get(), 0) != 0 ||
      ::pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
    RaiseLastIoError();
  return FolderLock(folder, std::move(fd));
}

std::optional<FolderLock::Held> FolderLock::Holder(const std::string& folder) {
  const std::string path = NativePath(LockFilePath(folder));
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;                 // no robot ever ran here
  if (TryLock(fd.get(), LOCK_SH)) return std::nullopt;  // dropped with the descriptor
  return Held{path, ReadHolderPid(fd.get())};
}

}  // namespace ventari
