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

TEST(GameFiles, AnOrderFileIsInOnlyWhenTheGameWouldReadIt) {
  test::TempDir dir;
  FileHeader host = test::GameHeader(kHostFile, 7, kHostPlayerIndex);
  host.setGeneration(5);
  auto orders = [&](std::uint16_t turn, int index, std::uint32_t game = test::kGameId) {
    FileHeader header = test::GameHeader(kOrderFile, turn, index, game);
    header.setGeneration(5);
    return header;
  };
  const std::string valid = test::GameFileBytes(orders(7, 2), "orders");
  auto judge = [&](const std::string& bytes) {
    test::WriteFile(dir.file("alpha.x3"), bytes);
    return JudgeOrderFile(dir.file("alpha.x3"), host, 3);
  };
  auto verdict = [&](const std::string& bytes) { return judge(bytes).verdict; };
  EXPECT_EQ(verdict(valid), OrderVerdict::kIn);
  EXPECT_FALSE(judge(valid).savedOnly);
  EXPECT_EQ(verdict(test::GameFileBytes(orders(7, 2))), OrderVerdict::kIn) << "no data block";
  // Cut anywhere after the header, or one byte too long: the game would not read it.
  for (std::size_t size = kHeaderBlockBytes; size < valid.size(); ++size)
    EXPECT_EQ(verdict(valid.substr(0, size)), OrderVerdict::kIncomplete) << size;
  EXPECT_EQ(verdict(valid + "x"), OrderVerdict::kIncomplete);
  EXPECT_EQ(verdict(EncodeFileHeader(orders(7, 2)) + EncodeBlock(6, "orders")),
            OrderVerdict::kIncomplete)
      << "footer missing";
  EXPECT_EQ(
      verdict(EncodeFileHeader(orders(7, 2)) + EncodeBlock(6, "orders") + EncodeFooter(kTurnFile)),
      OrderVerdict::kNotOrderFile)
      << "a turn file's footer";
  FileHeader old = orders(7, 2);
  old.setGeneration(4);
  EXPECT_EQ(verdict(test::GameFileBytes(old, "orders")), OrderVerdict::kOtherGeneration);
  FileHeader saved = orders(7, 2);
  saved.flags &= static_cast<std::uint8_t>(~kSubmittedFlag);
  EXPECT_EQ(verdict(test::GameFileBytes(saved, "orders")), OrderVerdict::kIn);
  EXPECT_TRUE(judge(test::GameFileBytes(saved, "orders")).savedOnly);

  EXPECT_EQ(verdict(test::GameFileBytes(orders(7, 2, test::kGameId ^ 1))),
            OrderVerdict::kOtherGame);
  EXPECT_EQ(verdict(test::GameFileBytes(orders(6, 2))), OrderVerdict::kOtherTurn);
  EXPECT_EQ(verdict(test::GameFileBytes(orders(8, 2))), OrderVerdict::kOtherTurn);
  EXPECT_EQ(verdict(test::GameFileBytes(orders(7, 3))), OrderVerdict::kOtherPlayer);
  EXPECT_EQ(verdict(test::GameFileBytes(test::GameHeader(kTurnFile, 7, 2))),
            OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict(""), OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict(valid.substr(0, 10)), OrderVerdict::kNotOrderFile);
  EXPECT_EQ(verdict("orders of player 3\n"), OrderVerdict::kNotOrderFile);

  std::filesystem::remove(dir.file("alpha.x3"));
  EXPECT_EQ(JudgeOrderFile(dir.file("alpha.x3"), host, 3).verdict, OrderVerdict::kMissing);
  std::filesystem::create_directory(dir.file("alpha.x3"));
  EXPECT_EQ(JudgeOrderFile(dir.file("alpha.x3"), host, 3).verdict, OrderVerdict::kMissing);
  FileHeader header;
  EXPECT_EQ(ReadFileHeader(dir.file("alpha.x3"), header), HeaderRead::kNotPlainFile);
  EXPECT_EQ(ReadFileHeader(dir.file("none"), header), HeaderRead::kMissing);
  EXPECT_STREQ(OrderVerdictText(OrderVerdict::kOtherTurn), "other turn");
  EXPECT_STREQ(OrderVerdictText(OrderVerdict::kIncomplete), "incomplete");
  EXPECT_STREQ(OrderVerdictText(OrderVerdict::kOtherGeneration), "other generation");
}

TEST(GameFiles, TheBlockChainEndsAtTheFooterOfItsKind) {
  const std::string body = EncodeFileHeader(test::GameHeader(kHostFile, 1, kHostPlayerIndex)) +
                           EncodeBlock(6, std::string(1023, 'u')) + EncodeBlock(13, "");
  EXPECT_EQ(WalkBlockChain(body + EncodeFooter(kHostFile), 2), ChainEnd::kComplete);
  EXPECT_EQ(WalkBlockChain(body + EncodeFooter(kOrderFile), 2), ChainEnd::kWrongFooter);
  EXPECT_EQ(WalkBlockChain(body, 2), ChainEnd::kIncomplete);
  EXPECT_EQ(WalkBlockChain(body + EncodeFooter(kHostFile).substr(0, 3), 2), ChainEnd::kIncomplete);
  EXPECT_EQ(WalkBlockChain(body + EncodeFooter(kHostFile) + std::string(1, '\0'), 2),
            ChainEnd::kIncomplete)
      << "one byte too long";
  EXPECT_EQ(WalkBlockChain("", 0), ChainEnd::kIncomplete);
  EXPECT_EQ(FooterDataBytes(kOrderFile), 0);
  EXPECT_EQ(FooterDataBytes(kHistoryFile), 0);
  EXPECT_EQ(FooterDataBytes(kTurnFile), 2);
  EXPECT_EQ(FooterDataBytes(kRaceFile), 2);
  EXPECT_EQ(FooterDataBytes(kUniverseFile), -1);

  // The flags byte: submitted, game over and the generation counter, each on its own.
  FileHeader header;
  header.flags = kSubmittedFlag;
  header.setGeneration(9);
  EXPECT_EQ(header.generation(), 1);
  EXPECT_TRUE(header.submitted());
  EXPECT_FALSE(header.gameOver());
  header.flags |= kGameOverFlag;
  header.setGeneration(7);
  EXPECT_EQ(header.flags, 0xE9);
  EXPECT_TRUE(header.gameOver());
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
  EXPECT_TRUE(ReadCompleteHostHeader(stem + ".hst", host));
  const std::string whole = test::ReadFile(stem + ".hst");
  test::WriteFile(stem + ".hst", whole.substr(0, whole.size() - 1));
  EXPECT_TRUE(ReadHostHeader(stem + ".hst", host));
  EXPECT_FALSE(ReadCompleteHostHeader(stem + ".hst", host)) << "a host file cut short";

  EXPECT_TRUE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4), host, 4));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 6, 4), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kTurnFile, 7, 4, 99), host, 5));
  EXPECT_FALSE(IsTurnFileFor(test::GameHeader(kOrderFile, 7, 4), host, 5));
  FileHeader otherGeneration = test::GameHeader(kTurnFile, 7, 4);
  otherGeneration.setGeneration(host.generation() + 1);
  EXPECT_FALSE(IsTurnFileFor(otherGeneration, host, 5));
}

}  // namespace
}  // namespace ventari::stars
