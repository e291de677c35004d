#pragma once
// Sets the machine's time zone for the lifetime of the object, for tests of local times across
// daylight-saving changes.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace ventari::test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (m_old)
      ::setenv("TZ", m_old->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> m_old;
};

}  // namespace ventari::test
