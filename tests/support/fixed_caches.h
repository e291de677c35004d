#pragma once
// The refresh cycle's cache makers for tests: a missing cache is rebuilt with a fixed content,
// and the calls are counted.

#include <string>

#include "core/game/cache_makers.h"
#include "tests/support/game_folder.h"
#include "tests/support/temp_dir.h"

namespace ventari::test {

class FixedCaches : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  explicit FixedCaches(const GameFolder& folder) : m_folder(folder) {}
  bool FetchDeadlineCache() override {
    ++deadlineCalls;
    WriteFile(m_folder.gameDir() + "/nextdl.txt", nextDeadline + "\r\n");
    return true;
  }
  bool RunYearTool() override {
    ++yearCalls;
    WriteFile(m_folder.gameDir() + "/curyear.txt", nextYear + "\r\n");
    return true;
  }
  int deadlineCalls = 0;
  int yearCalls = 0;
  std::string nextDeadline = "2030-01-01 12:00:00";
  std::string nextYear = "2406";

 private:
  const GameFolder& m_folder;
};

}  // namespace ventari::test
