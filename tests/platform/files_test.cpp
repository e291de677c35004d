#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errors.h"
#include "tests/support/fs_faults.h"
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

TEST(Files, ReplacedContentsAreWholeOrNotThereEvenOnAFullDisk) {
  test::SmallDisk disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const std::string cache = disk.path() + "/nextdl.txt";
  ReplaceFileContents(cache, "2030-07-30 18:00:00\r\n");
  EXPECT_EQ(ReadFile(cache), "2030-07-30 18:00:00\r\n");
  disk.Fill();
  try {
    ReplaceFileContents(cache, std::string(8192, 'x'));
    ADD_FAILURE() << "a full disk took the file";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.code(), 101);
    EXPECT_STREQ(error.what(), "Disk full");
  }
  EXPECT_EQ(ReadFile(cache), "2030-07-30 18:00:00\r\n") << "the old content stays whole";
  ::unlink(cache.c_str());
  EXPECT_THROW(ReplaceFileContents(cache, std::string(8192, 'x')), EInOutError);
  EXPECT_FALSE(FileExists(cache)) << "no empty or torn file is left";
  EXPECT_FALSE(FileExists(cache + ".ventari-new"));
}

TEST(Files, ATextFileThatOpensButCannotBeReadRaisesItsError) {
  TempDir dir;
  TextFileReader reader;
  EXPECT_FALSE(reader.open(dir.file("missing")));
  EXPECT_EQ(reader.errorCode(), 2);
  ASSERT_TRUE(CreateDir(dir.file("folder")));
  EXPECT_FALSE(reader.open(dir.file("folder")));  // a folder cannot be opened as a file
  // The kernel's memory file of a process opens, and its first page cannot be read.
  ASSERT_EQ(::symlink("/proc/self/mem", dir.file("ventari.def").c_str()), 0);
  EXPECT_THROW(reader.open(dir.file("ventari.def")), EInOutError);
}

}  // namespace
}  // namespace ventari
