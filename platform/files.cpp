#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/unique_fd.h"

namespace ventari {

std::string NativePath(std::string_view path) {
  std::string result(path);
  for (char& c : result)
    if (c == '\\') c = '/';
  return result;
}

bool DirectoryExists(std::string_view path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(std::string_view path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string GetCurrentDir() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) RaiseLastIoError();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

void SetCurrentDir(std::string_view path) {
  const std::string native = NativePath(path);
  if (native.empty()) throw EInOutError(3);
  if (::chdir(native.c_str()) != 0) RaiseLastIoError();
}

bool CreateDir(std::string_view path) {
  return !path.empty() && ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ScopedWorkingFolder::ScopedWorkingFolder(std::string saved, std::string_view folder)
    : m_saved(std::move(saved)) {
  SetCurrentDir(folder);
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
  // Nowhere to report from a destructor: the next step that needs the folder says it.
  if (m_inside && ::chdir(NativePath(m_saved).c_str()) != 0) {
  }
}

void ScopedWorkingFolder::Back() {
  m_inside = false;
  SetCurrentDir(m_saved);
}

bool CopyFileOver(std::string_view source, std::string_view target) {
  UniqueFd in(::open(NativePath(source).c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return false;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Write beside the target and rename over it, so a failed copy never leaves a torn file.
  const std::string finalPath = NativePath(target);
  const std::string tempPath = finalPath + ".ventari-copy";
  UniqueFd out(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out.valid()) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || !WriteAll(out.get(), buffer, static_cast<std::size_t>(n))) {
      const int error = errno;
      ::unlink(tempPath.c_str());
      errno = error;
      return false;
    }
    if (n == 0) break;
  }
  if (::fsync(out.get()) != 0 || ::close(out.release()) != 0 ||
      ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempPath.c_str());
    errno = error;
    return false;
  }
  return true;
}

bool DeleteFileQuiet(std::string_view path) {
  return !path.empty() && ::unlink(NativePath(path).c_str()) == 0;
}

namespace {

// Opens a file for reading; a folder cannot be opened as a file. Raises EInOutError.
UniqueFd OpenForReading(std::string_view path) {
  UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) RaiseLastIoError();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) RaiseLastIoError();
  if (S_ISDIR(st.st_mode)) throw EInOutError(5);
  return fd;
}

std::string ReadAll(const UniqueFd& fd) {
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseLastIoError();
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

}  // namespace

std::string ReadWholeFile(std::string_view path) { return ReadAll(OpenForReading(path)); }

void ReplaceFileContents(std::string_view path, std::string_view bytes) {
  const std::string finalPath = NativePath(path);
  const std::string tempPath = finalPath + ".ventari-new";
  UniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) RaiseLastIoError();
  if (!WriteAll(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0 ||
      ::close(fd.release()) != 0 || ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempPath.c_str());
    errno = error;
    RaiseLastIoError();
  }
  // The rename itself reaches the disk with its folder.
  const std::size_t slash = finalPath.rfind('/');
  UniqueFd folder(::open(slash == std::string::npos ? "." : finalPath.substr(0, slash + 1).c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
}

void WriteWholeFile(std::string_view path, std::string_view bytes) {
  UniqueFd fd(::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) RaiseLastIoError();
  if (!WriteAll(fd.get(), bytes.data(), bytes.size())) RaiseLastIoError();
  if (::close(fd.release()) != 0) RaiseLastIoError();
}

bool TextFileReader::open(std::string_view path) {
  close();
  UniqueFd fd;
  try {
    fd = OpenForReading(path);
  } catch (const EInOutError& error) {
    m_errorCode = error.code();
    return false;
  }
  m_text = ReadAll(fd);  // a file that opens but cannot be read raises its I/O error
  m_errorCode = 0;
  m_open = true;
  return true;
}

void TextFileReader::openText(std::string text) {
  close();
  m_text = std::move(text);
  m_open = true;
}

std::string TextFileReader::readLine() {
  std::string line;
  while (m_pos < m_text.size()) {
    const char c = m_text[m_pos];
    if (c == '\x1a') {
      m_pos = m_text.size();  // Ctrl-Z ends the text for good
      break;
    }
    ++m_pos;
    if (c == '\r') {
      if (m_pos < m_text.size() && m_text[m_pos] == '\n') ++m_pos;
      break;
    }
    if (c == '\n') break;
    line.push_back(c);
  }
  return line;
}

void TextFileReader::close() {
  m_text.clear();
  m_pos = 0;
  m_open = false;
}

}  // namespace ventari
