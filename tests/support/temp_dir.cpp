#include "tests/support/temp_dir.h"

#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace ventari::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ventari-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& name) const { return m_path + "/" + name; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << path;
  out << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void MakeExecutable(const std::string& path) { ::chmod(path.c_str(), 0755); }

int PidFromFile(const std::string& path) {
  const auto limit = std::chrono::steady_clock::now() + Patience();
  std::string text;
  while (true) {
    text = ReadFile(path);
    const std::size_t end = text.find('\n');
    if (end != std::string::npos && end > 0 && end <= 9 &&
        text.find_first_not_of("0123456789") == end)
      return std::stoi(text.substr(0, end));
    if (std::chrono::steady_clock::now() > limit) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling the file
  }
  ADD_FAILURE() << "no whole process id in " << path << ": \"" << text << "\"";
  return 0;
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& path)
    : m_saved(std::filesystem::current_path().string()) {
  std::filesystem::current_path(path);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ignored;
  std::filesystem::current_path(m_saved, ignored);
}

std::string BinDir() {
  const char* dir = std::getenv("VENTARI_BIN_DIR");
  return dir ? dir : "build/bin";
}

std::string SourceDir() {
  const char* dir = std::getenv("VENTARI_SOURCE_DIR");
  return dir ? dir : ".";
}

std::map<std::string, std::string> FolderFiles(const std::string& dir, const std::string& prefix) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.starts_with(prefix))
      files[name] = ReadFile(entry.path().string());
  }
  return files;
}

}  // namespace ventari::test
