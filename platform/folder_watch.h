#pragma once
// Watches a few folders for files that change in them (inotify): created, written, closed,
// renamed in or out, deleted. The caller reads the descriptor when it is readable and asks which
// of the names it saw matter.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace ventari {

class FolderWatch {
 public:
  // A watch that cannot be made at all (no inotify: too many instances) has no descriptor;
  // `error()` says why.
  FolderWatch();
  // A watch that watches nothing, as the host asked.
  static FolderWatch Off() { return FolderWatch(UniqueFd(), "turned off"); }

  bool valid() const { return m_fd.valid(); }
  int fd() const { return m_fd.get(); }
  const std::string& error() const { return m_error; }

  struct Refused {
    std::string folder;
    std::string why;
  };
  // Watches exactly these folders from now on. Those that cannot be watched, or whose changes
  // from other machines would not be seen (a network file system), are returned with why.
  std::vector<Refused> WatchOnly(const std::vector<std::string>& folders);

  // Reads every event waiting; true when one names a file for which `matters` is true (or the
  // kernel dropped events, so that anything may have changed). `folder` is the watched folder
  // the file is in, as given to WatchOnly (empty for one no longer watched).
  bool Drain(const std::function<bool(std::string_view folder, std::string_view name)>& matters);

 private:
  FolderWatch(UniqueFd fd, std::string error) : m_fd(std::move(fd)), m_error(std::move(error)) {}
  struct Watched {
    std::string folder;
    int wd;
  };
  UniqueFd m_fd;
  std::string m_error;
  std::vector<Watched> m_watched;
};

}  // namespace ventari
