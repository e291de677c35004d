#include "core/players/maildir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace ventari {

std::optional<std::string> MaildirFromEnvironment() {
  const char* text = std::getenv("VENTARI_MAILDIR");
  if (text == nullptr || *text == '\0') return std::nullopt;
  return std::string(text);
}

std::optional<std::string> MaildirProblem(const std::string& maildir) {
  for (const char* sub : {"new", "cur", "tmp"}) {
    const std::string folder = maildir + "/" + sub;
    if (!DirectoryExists(folder)) return folder + " is missing: no Maildir";
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
      return folder + ": " + std::strerror(errno);
  }
  return std::nullopt;
}

std::string MaildirEntry::Path(const std::string& maildir) const {
  return maildir + (inNew ? "/new/" : "/cur/") + name;
}

bool MaildirEntry::Stat(const std::string& maildir) {
  struct stat st {};
  if (::lstat(Path(maildir).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  arrivedAt = static_cast<long long>(st.st_mtim.tv_sec);
  arrivedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

std::vector<MaildirEntry> ListMaildir(const std::string& maildir) {
  std::vector<MaildirEntry> entries;
  for (const bool inNew : {true, false}) {
    DIR* dir = ::opendir((maildir + (inNew ? "/new" : "/cur")).c_str());
    if (dir == nullptr) continue;
    while (const dirent* found = ::readdir(dir)) {
      if (found->d_name[0] == '.') continue;
      if (found->d_type != DT_REG && found->d_type != DT_UNKNOWN) continue;
      MaildirEntry& entry = entries.emplace_back();
      entry.inNew = inNew;
      entry.name = found->d_name;
      const std::size_t colon = entry.name.find(':');
      entry.key = entry.name.substr(0, colon);
      if (colon != std::string::npos && entry.name.compare(colon, 3, ":2,") == 0)
        entry.flags = entry.name.substr(colon + 3);
    }
    ::closedir(dir);
  }
  return entries;
}

bool FileWithFlag(const std::string& maildir, const MaildirEntry& entry, char flag) {
  std::string flags = entry.flags;
  if (flag != '\0' && flags.find(flag) == std::string::npos) flags += flag;
  // Maildir readers expect the flags in ASCII order.
  std::sort(flags.begin(), flags.end());
  const std::string to = maildir + "/cur/" + entry.key + ":2," + flags;
  const std::string from = entry.Path(maildir);
  if (from == to) return true;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace ventari
