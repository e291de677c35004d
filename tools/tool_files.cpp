#include "tools/tool_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

// Plain C and C++ file calls only, so that the Windows build of the stand-in game compiles the
// same code; the one difference is the rename over an existing file.
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ventari::stars {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string ErrnoText() { return std::strerror(errno); }

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

bool RenameOver(const std::string& from, const std::string& to, std::string& error) {
#ifdef _WIN32
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = "cannot be renamed (Windows error " + std::to_string(::GetLastError()) + ")";
  return false;
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = ErrnoText();
  return false;
#endif
}

}  // namespace

std::string ToolPath(std::string path) {
#ifndef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() !=
             std::filesystem::file_type::not_found &&
         !error;
}

bool ReadFileStart(const std::string& path, std::size_t maxBytes, std::string& bytes,
                   std::string& error) {
  bytes.clear();
  std::error_code statusError;
  const auto status = std::filesystem::status(path, statusError);
  if (status.type() == std::filesystem::file_type::not_found) {
    error = "file not found";
    return false;
  }
  if (!statusError && !std::filesystem::is_regular_file(status)) {
    error = "not a plain file";
    return false;
  }
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = ErrnoText();
    return false;
  }
  char buffer[65536];
  while (bytes.size() < maxBytes) {
    const std::size_t want = std::min(sizeof buffer, maxBytes - bytes.size());
    const std::size_t n = std::fread(buffer, 1, want, file.get());
    bytes.append(buffer, n);
    if (n < want) break;
  }
  if (std::ferror(file.get())) {
    error = ErrnoText();
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string temp = path + ".tmp" + std::to_string(ProcessId());
  bool ok = true;
  {
    File file(std::fopen(temp.c_str(), "wb"));
    if (!file) {
      error = ErrnoText();
      return false;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fflush(file.get()) != 0) {
      error = ErrnoText();
      ok = false;
    }
    if (std::fclose(file.release()) != 0 && ok) {
      error = ErrnoText();
      ok = false;
    }
  }
  if (ok) ok = RenameOver(temp, path, error);
  if (!ok) std::remove(temp.c_str());
  return ok;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

}  // namespace ventari::stars
