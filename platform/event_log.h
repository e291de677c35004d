#pragma once
// The event log: one line per event on standard error, "YYYY-MM-DD HH:MM:SS level message", the
// local time. Under systemd the lines land in the journal as they are.

#include <string>

namespace ventari {

void LogEvent(const char* level, const std::string& message);

}  // namespace ventari
