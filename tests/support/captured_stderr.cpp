#include "tests/support/captured_stderr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ventari::test {

CapturedStderr::CapturedStderr() {
  char name[] = "/tmp/ventari-stderr-XXXXXX";
  m_file = ::mkstemp(name);
  if (m_file < 0) {
    ADD_FAILURE() << "no temporary file for standard error";
    return;
  }
  ::unlink(name);
  std::fflush(stderr);
  m_saved = ::dup(STDERR_FILENO);
  ::dup2(m_file, STDERR_FILENO);
}

CapturedStderr::~CapturedStderr() {
  std::fflush(stderr);
  if (m_saved >= 0) {
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
  }
  if (m_file >= 0) ::close(m_file);
}

std::string CapturedStderr::TakeLines() {
  std::fflush(stderr);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::pread(m_file, buffer, sizeof buffer, m_read);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    m_read += got;
  }
  // "YYYY-MM-DD HH:MM:SS " is 20 characters.
  std::istringstream lines(text);
  std::string result;
  for (std::string line; std::getline(lines, line);)
    result += (line.size() > 20 ? line.substr(20) : line) + "\n";
  return result;
}

}  // namespace ventari::test
