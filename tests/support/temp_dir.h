#pragma once
// A real temporary folder, removed with everything in it when the test ends.

#include <map>
#include <string>

namespace ventari::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string m_path;
};

// Writes bytes to a file, creating it; fails the test on error.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void MakeExecutable(const std::string& path);
// The process id a helper program wrote as a line of its own into `path` ("echo $$ > path"),
// once that line is whole: the file exists, empty, before the number is in it. Fails the test
// and gives 0 when no whole line came within a long while; callers check for 0 before using it.
int PidFromFile(const std::string& path);

// Name and bytes of every plain file of a folder whose name starts with `prefix`.
std::map<std::string, std::string> FolderFiles(const std::string& dir,
                                               const std::string& prefix = "");

// Sets the working folder for the lifetime of the object, then restores it.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& path);
  ~ScopedCurrentDir();

 private:
  std::string m_saved;
};

// The folder of the built programs (build/bin), from the test environment.
std::string BinDir();
std::string SourceDir();

}  // namespace ventari::test
