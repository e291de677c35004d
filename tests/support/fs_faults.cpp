#include "tests/support/fs_faults.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace ventari::test {

namespace {

// Empty when done, else why not.
std::string SetImmutable(const std::string& path, bool on) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return path + ": " + std::strerror(errno);
  int flags = 0;
  if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0)
    return std::string("the file system has no file flags: ") + std::strerror(errno);
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  if (::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0) return {};
  const int error = errno;
  if (error == EPERM) return "the immutable flag needs CAP_LINUX_IMMUTABLE";
  return std::string("the file system refused the immutable flag: ") + std::strerror(error);
}

}  // namespace

SmallDisk::SmallDisk(std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes);
  m_mounted = ::mount("tmpfs", path().c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (m_mounted) return;
  const int error = errno;
  m_why = error == EPERM
              ? "mounting a small disk needs CAP_SYS_ADMIN"
              : std::string("a small disk could not be mounted: ") + std::strerror(error);
}

SmallDisk::~SmallDisk() {
  if (m_mounted) ::umount2(path().c_str(), MNT_DETACH);
}

void SmallDisk::Fill() {
  UniqueFd fd(::open((path() + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  const std::string block(4096, 'f');
  while (fd.valid() && ::write(fd.get(), block.data(), block.size()) > 0) {
  }
  // The last partial block: byte by byte until nothing more fits.
  while (fd.valid() && ::write(fd.get(), "f", 1) == 1) {
  }
}

ImmutableFile::ImmutableFile(std::string path) : m_path(std::move(path)) {
  m_why = SetImmutable(m_path, true);
  m_held = m_why.empty();
}

ImmutableFile::~ImmutableFile() { Release(); }

void ImmutableFile::Release() {
  if (m_held) (void)SetImmutable(m_path, false);
  m_held = false;
}

}  // namespace ventari::test
