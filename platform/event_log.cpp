#include "platform/event_log.h"

#include <cstdio>
#include <ctime>

#include "platform/sigpipe_guard.h"

namespace ventari {

void LogEvent(const char* level, const std::string& message) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  // A log reader that has gone (a pipe to a pager or a tee that quit) must not end the robot,
  // in the middle of a generation say; the line is lost, the robot goes on.
  const SigpipeGuard guard;
  std::fprintf(stderr, "%s %s %s\n", stamp, level, line.c_str());
  std::fflush(stderr);
  std::clearerr(stderr);
}

}  // namespace ventari
