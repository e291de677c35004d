#pragma once
// Standard error sent to a temporary file for the lifetime of the object, for tests of what the
// program writes to its event log.

#include <string>

namespace ventari::test {

class CapturedStderr {
 public:
  CapturedStderr();
  ~CapturedStderr();
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;

  // What was written since the start or the last call, each line without its time stamp.
  std::string TakeLines();

 private:
  int m_saved = -1;
  int m_file = -1;
  long m_read = 0;
};

}  // namespace ventari::test
