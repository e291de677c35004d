#pragma once
// Real file-system faults for tests that need them: a small disk that fills up, and a file that
// even root cannot delete. Both need the rights of root; without them a test skips.

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
  const std::string& path() const { return m_dir.path(); }
  // Writes a file that takes every free block.
  void Fill();

 private:
  TempDir m_dir;
  bool m_mounted = false;
};

// Marks a file immutable (no write, no delete, no rename) until the object ends or Release().
class ImmutableFile {
 public:
  explicit ImmutableFile(std::string path);
  ~ImmutableFile();
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;

  bool held() const { return m_held; }
  void Release();

 private:
  std::string m_path;
  bool m_held = false;
};

}  // namespace ventari::test
