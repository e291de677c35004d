#pragma once
// The file functions of the program. "\" and "/" are both separators: every path is read with
// its backslashes as slashes. Failures carry the runtime's I/O error numbers.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace ventari {

// The path with every "\" read as "/".
std::string NativePath(std::string_view path);

// A folder of that name exists.
bool DirectoryExists(std::string_view path);
// A plain file of that name exists (a folder does not count).
bool FileExists(std::string_view path);

std::string GetCurrentDir();
// Raises EInOutError when the folder cannot be made the working folder.
void SetCurrentDir(std::string_view path);

// Enters a folder and goes back to the folder it was in on every way out. Back() goes back at
// once and raises EInOutError; the destructor goes back quietly.
class ScopedWorkingFolder {
 public:
  // Raises EInOutError when the folder cannot be entered (nothing changed then).
  ScopedWorkingFolder(std::string saved, std::string_view folder);
  ~ScopedWorkingFolder();
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;
  void Back();

 private:
  std::string m_saved;
  bool m_inside = true;
};

// Runs `act` (a mail: a mail client may move the working folder) and goes back to the folder it
// was run in, raising EInOutError when it cannot; thrown through, it goes back quietly.
template <class Act>
decltype(auto) KeepingWorkingFolder(Act&& act) {
  ScopedWorkingFolder kept(GetCurrentDir(), ".");
  if constexpr (std::is_void_v<decltype(act())>) {
    act();
    kept.Back();
  } else {
    auto result = act();
    kept.Back();
    return result;
  }
}

// Creates one folder; false when it could not be made.
bool CreateDir(std::string_view path);
// Copies a file over an existing target, whole or not at all; false on any failure, with errno
// telling why.
bool CopyFileOver(std::string_view source, std::string_view target);
// Deletes a file; false when it is missing or cannot be deleted.
bool DeleteFileQuiet(std::string_view path);

// The whole content of a file; raises EInOutError.
std::string ReadWholeFile(std::string_view path);
// Creates (or empties) the file and writes the bytes; raises EInOutError.
void WriteWholeFile(std::string_view path, std::string_view bytes);
// Writes the bytes beside the file, flushes them to the disk and renames them over it: the file
// holds its old content or the new one, never a part. Raises EInOutError, leaving no new file.
void ReplaceFileContents(std::string_view path, std::string_view bytes);

// Reads a text file line by line. A line ends at CR LF, at a CR alone or at an LF alone; Ctrl-Z
// or the end of the file ends the text, and every line read after that is empty.
class TextFileReader {
 public:
  TextFileReader() = default;
  // Opens and reads the file; false (with errorCode() set) when it cannot be opened. Raises
  // EInOutError when it opens but cannot be read.
  bool open(std::string_view path);
  // Takes the text from memory, as if read from a file.
  void openText(std::string text);
  bool isOpen() const { return m_open; }
  int errorCode() const { return m_errorCode; }
  std::string readLine();
  void close();

 private:
  std::string m_text;
  std::size_t m_pos = 0;
  bool m_open = false;
  int m_errorCode = 0;
};

}  // namespace ventari
