#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/errors.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(Files, BackslashAndSlashAreBothSeparators) {
  TempDir dir;
  ASSERT_TRUE(CreateDir(dir.path() + "\\sub"));
  EXPECT_TRUE(DirectoryExists(dir.path() + "/sub"));
  WriteFile(dir.file("sub/f.txt"), "x");
  EXPECT_TRUE(FileExists(dir.path() + "\\sub\\f.txt"));
  EXPECT_FALSE(FileExists(dir.path() + "\\sub"));  // a folder is no file
  EXPECT_FALSE(DirectoryExists(dir.path() + "\\sub\\f.txt"));
  EXPECT_FALSE(FileExists(""));
}

TEST(Files, CopyReplacesTheTargetAndFailsQuietly) {
  TempDir dir;
  WriteFile(dir.file("a"), std::string("new\0bytes", 9));
  WriteFile(dir.file("b"), "old content that is longer");
  EXPECT_TRUE(CopyFileOver(dir.file("a"), dir.path() + "\\b"));
  EXPECT_EQ(ReadFile(dir.file("b")), std::string("new\0bytes", 9));
  EXPECT_FALSE(CopyFileOver(dir.file("missing"), dir.file("b")));
  EXPECT_EQ(ReadFile(dir.file("b")), std::string("new\0bytes", 9));  // untouched
  EXPECT_FALSE(CopyFileOver(dir.file("a"), dir.file("nofolder/b")));
}

TEST(Files, WorkingFolderChangesRaiseTheRuntimeNumbers) {
  TempDir dir;
  const std::string saved = GetCurrentDir();
  SetCurrentDir(dir.path());
  EXPECT_EQ(GetCurrentDir(), dir.path());
  try {
    SetCurrentDir(dir.file("missing"));
    FAIL();
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.code(), 2);
    EXPECT_STREQ(error.what(), "File not found");
  }
  SetCurrentDir(saved);
}

TEST(Files, TextReaderReadsPastTheEndAsEmptyLines) {
  TextFileReader reader;
  TempDir dir;
  EXPECT_FALSE(reader.open(dir.file("missing")));
  EXPECT_EQ(reader.errorCode(), 2);
  WriteFile(dir.file("t"), "one\r\ntwo");
  ASSERT_TRUE(reader.open(dir.file("t")));
  EXPECT_EQ(reader.readLine(), "one");
  EXPECT_EQ(reader.readLine(), "two");
  EXPECT_EQ(reader.readLine(), "");
  EXPECT_EQ(reader.readLine(), "");
  EXPECT_FALSE(reader.open(dir.path()));  // a folder cannot be read as a text
}

TEST(Files, WriteWholeFileReportsAFolderThatIsNotThere) {
  TempDir dir;
  EXPECT_THROW(WriteWholeFile(dir.file("no/such/file"), "x"), EInOutError);
  WriteWholeFile(dir.file("w"), "abc\r\n");
  EXPECT_EQ(ReadFile(dir.file("w")), "abc\r\n");
}

}  // namespace
}  // namespace ventari
