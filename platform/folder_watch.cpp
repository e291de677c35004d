#include "platform/folder_watch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace ventari {

namespace {

constexpr std::uint32_t kChanges = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

// File systems whose files other machines change without this kernel hearing of it.
bool IsNetworkFileSystem(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE (sshfs and the like)
    case 0x564C:        // NCP
    case 0x6B414653UL:  // AFS
      return true;
    default:
      return false;
  }
}

}  // namespace

FolderWatch::FolderWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (!m_fd.valid()) m_error = std::strerror(errno);
}

std::vector<FolderWatch::Refused> FolderWatch::WatchOnly(const std::vector<std::string>& folders) {
  std::vector<Refused> refused;
  if (!valid()) {
    for (const std::string& folder : folders) refused.push_back({folder, m_error});
    return refused;
  }
  // Folders no longer wanted are let go first: the kernel's watches are few.
  for (auto it = m_watched.begin(); it != m_watched.end();) {
    if (std::find(folders.begin(), folders.end(), it->folder) == folders.end()) {
      ::inotify_rm_watch(m_fd.get(), it->wd);
      it = m_watched.erase(it);
    } else {
      ++it;
    }
  }
  for (const std::string& folder : folders) {
    const auto known = std::find_if(m_watched.begin(), m_watched.end(),
                                    [&](const Watched& w) { return w.folder == folder; });
    // Adding again is cheap and follows a folder deleted and made anew.
    const int wd = ::inotify_add_watch(m_fd.get(), folder.c_str(), kChanges);
    if (wd < 0) {
      refused.push_back({folder, errno == ENOSPC ? "too many watches (fs.inotify.max_user_watches)"
                                                 : std::strerror(errno)});
      continue;
    }
    if (known == m_watched.end())
      m_watched.push_back({folder, wd});
    else
      known->wd = wd;
    if (IsNetworkFileSystem(folder))
      refused.push_back({folder,
                         "a network file system: changes made on other machines are "
                         "not seen"});
  }
  return refused;
}

bool FolderWatch::Drain(
    const std::function<bool(std::string_view folder, std::string_view name)>& matters) {
  if (!valid()) return false;
  bool found = false;
  alignas(inotify_event) std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t n = ::read(m_fd.get(), buffer.data(), buffer.size());
    if (n <= 0) break;  // EAGAIN: nothing more waits
    for (ssize_t at = 0; at < n;) {
      inotify_event event{};
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* name = buffer.data() + at + sizeof event;
      if ((event.mask & IN_Q_OVERFLOW) != 0) found = true;
      if (event.len > 0) {
        const int wd = event.wd;  // clang cannot capture a struct with a flexible array
        const auto watched = std::find_if(m_watched.begin(), m_watched.end(),
                                          [wd](const Watched& w) { return w.wd == wd; });
        const std::string_view folder =
            watched == m_watched.end() ? std::string_view() : std::string_view(watched->folder);
        if (matters(folder, std::string_view(name, ::strnlen(name, event.len)))) found = true;
      }
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  return found;
}

}  // namespace ventari
