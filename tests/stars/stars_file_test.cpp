// The Stars! file header block, read and written as bytes.

#include "stars/stars_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/stars_game.h"
#include "tests/support/temp_dir.h"

namespace ventari::stars {
namespace {

// Block word 0x2010 (type 8, size 16), "J3J3", game id 0x04030201, version 0x0605, turn 258,
// player word 0xA803 (player 3), file type 2, flags 0x81.
const std::string kHeader("\x10\x20J3J3\x01\x02\x03\x04\x05\x06\x02\x01\x03\xA8\x02\x81", 18);

TEST(FileHeader, ReadsEveryFieldInLittleEndianOrder) {
  FileHeader header;
  ASSERT_EQ(ParseFileHeader(kHeader + "the rest of the file", header), HeaderError::kNone);
  EXPECT_EQ(header.gameId, 0x04030201u);
  EXPECT_EQ(header.version, 0x0605);
  EXPECT_EQ(header.turn, 258);
  EXPECT_EQ(header.year(), 2658);
  EXPECT_EQ(header.playerIndex(), 3);
  EXPECT_EQ(header.fileType, kHostFile);
  EXPECT_EQ(header.flags, 0x81);

  FileHeader highTurn;
  std::string bytes = kHeader;
  bytes[12] = '\xFF';
  bytes[13] = '\xFF';
  ASSERT_EQ(ParseFileHeader(bytes, highTurn), HeaderError::kNone);
  EXPECT_EQ(highTurn.year(), 2400 + 65535);
}

TEST(FileHeader, RejectsShortAndForeignBytes) {
  FileHeader header;
  for (std::size_t size = 0; size < kHeaderBlockBytes; ++size)
    EXPECT_EQ(ParseFileHeader(kHeader.substr(0, size), header), HeaderError::kTooShort) << size;

  auto changed = [](std::size_t at, char value) {
    std::string bytes = kHeader;
    bytes[at] = value;
    return bytes;
  };
  EXPECT_EQ(ParseFileHeader(changed(1, '\x24'), header), HeaderError::kNotHeaderBlock);  // type 9
  EXPECT_EQ(ParseFileHeader(changed(1, '\x1C'), header), HeaderError::kNotHeaderBlock);  // type 7
  EXPECT_EQ(ParseFileHeader(changed(0, '\x0F'), header), HeaderError::kNotHeaderBlock);  // 15
  EXPECT_EQ(ParseFileHeader(changed(0, '\x11'), header), HeaderError::kNotHeaderBlock);  // 17
  EXPECT_EQ(ParseFileHeader(changed(1, '\x21'), header), HeaderError::kNotHeaderBlock);  // 272
  EXPECT_EQ(ParseFileHeader(changed(5, '4'), header), HeaderError::kBadMagic);
  EXPECT_EQ(ParseFileHeader(changed(2, 'j'), header), HeaderError::kBadMagic);
  EXPECT_EQ(ParseFileHeader("MZ" + kHeader.substr(2), header), HeaderError::kNotHeaderBlock);
}

TEST(FileHeader, WritesTheBytesItReads) {
  FileHeader header;
  ASSERT_EQ(ParseFileHeader(kHeader, header), HeaderError::kNone);
  EXPECT_EQ(EncodeFileHeader(header), kHeader);

  // The player index takes the low five bits and leaves the others alone.
  header.setPlayerIndex(12);
  EXPECT_EQ(header.playerIndex(), 12);
  EXPECT_EQ(header.playerWord & ~0x1F, 0xA800);
  const std::string written = EncodeFileHeader(header);
  EXPECT_EQ(written.substr(0, 14), kHeader.substr(0, 14));
  EXPECT_EQ(written[14], '\x0C');
  EXPECT_EQ(written[15], '\xA8');

  FileHeader fresh;
  fresh.turn = 41;
  fresh.fileType = kTurnFile;
  FileHeader back;
  ASSERT_EQ(ParseFileHeader(EncodeFileHeader(fresh), back), HeaderError::kNone);
  EXPECT_EQ(back.turn, 41);
  EXPECT_EQ(back.fileType, kTurnFile);
}

TEST(GameFiles, AnOrderFileIsInOnlyForItsGameTurnAndPlayer) {
  test::TempDir dir;
  const FileHeader host = test::GameHeader(kHostFile, 7, kHostPlayerIndex);
  const std::string valid = EncodeFileHeader(test::GameHeader(kOrderFile, 7, 2)) + "orders";
  auto verdict = [&](const std::string& bytes) {
    test::WriteFile(dir.file("alpha.x3"), bytes);
    return JudgeOrderFile(dir.file("alpha.x3"), host, 3);
  };
  EXPECT_EQ(verdict(valid), OrderVerdict::kIn);
  EXPECT_EQ(verdict(valid.substr(0, kHeaderBlockBytes)), OrderVerdict::kIn);
  EXPECT_EQ(verdict(EncodeFileHeader(test::GameHeader(kOrderFile, 7, 2, test::kGameId ^ 1))),
            OrderVerdict::kOtherGame);
  EXPECT_EQ(verdict(EncodeFileHeader(test::GameHeader(kOrderFile, 6, 2))),
            OrderVerdict::kOtherTurn);
  EXPECT_EQ(verdict(EncodeFileHeader(test::GameHeader(kOrderFile, 8, 2))),
            OrderVerdict::kOtherTurn);
  EXPECT_EQ(verdict(EncodeFileHeader(test::GameHeader(kOrderFile, 7, 3))),
            OrderVerdict::kOtherPlayer);
  EXPECT_EQ(verdict(EncodeFileHeader(test::GameHeader(kTurnFile, 7, 2))),
            OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict(""), OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict(valid.substr(0, 10)), OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict("orders of player 3\n"), OrderVerdict::kNotOrderFile);

  std::filesystem::remove(dir.file("alpha.x3"));
  EXPECT_EQ(JudgeOrderFile(dir.file("alpha.x3"), host, 3), OrderVerdict::kMissing);
  std::filesystem::create_directory(dir.file("alpha.x3"));
  EXPECT_EQ(JudgeOrderFile(dir.file("alpha.x3"), host, 3), OrderVerdict::kMissing);
  FileHeader header;
  EXPECT_EQ(ReadFileHeader(dir.file("alpha.x3"), header), HeaderRead::kNotPlainFile);
  EXPECT_EQ(ReadFileHeader(dir.file("none"), header), HeaderRead::kMissing);
  EXPECT_STREQ(OrderVerdictText(OrderVerdict::kOtherTurn), "other turn");
}

TEST(GameFiles, HostAndTurnFilesAreKnownByTheirHeader) {
  test::TempDir dir;
  const std::string stem = dir.file("alpha");
  FileHeader host;
  EXPECT_FALSE(ReadHostHeader(stem + ".hst", host));
  test::WriteGameFile(stem + ".hst", test::GameHeader(kTurnFile, 7, 0));
  EXPECT_FALSE(ReadHostHeader(stem + ".hst", host)) << "a turn file is no host file";
  test::WriteHostFile(stem, 7, "universe");
  ASSERT_TRUE(ReadHostHeader(stem + ".hst", host));
  EXPECT_EQ(host.turn, 7);

  EXPECT_TRUE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4), host, 4));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 6, 4), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4, 99), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kOrderFile, 7, 4), host, 5));
}

}  // namespace
}  // namespace ventari::stars
