#pragma once
// Real file-system faults for tests that need them: a small disk that fills up, and a file that
// even root cannot delete. The disk needs CAP_SYS_ADMIN (a mount), the file CAP_LINUX_IMMUTABLE
// and a file system with the immutable flag; without them a test skips, and the test command
// fails on that skip unless tests/allowed-skips.txt names the test.

#include <string>

#include "tests/support/temp_dir.h"

namespace ventari::test {

// A tmpfs of `bytes` mounted on a temporary folder for the lifetime of the object.
class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return m_mounted; }
  // Why the disk is not there, for the test's skip message.
  const std::string& why() const { return m_why; }
  const std::string& path() const { return m_dir.path(); }
  // Writes a file that takes every free block.
  void Fill();

 private:
  TempDir m_dir;
  bool m_mounted = false;
  std::string m_why;
};

// Marks a file immutable (no write, no delete, no rename) until the object ends or Release().
class ImmutableFile {
 public:
  explicit ImmutableFile(std::string path);
  ~ImmutableFile();
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;

  bool held() const { return m_held; }
  // Why the flag could not be set, for the test's skip message.
  const std::string& why() const { return m_why; }
  void Release();

 private:
  std::string m_path;
  bool m_held = false;
  std::string m_why;
};

}  // namespace ventari::test
