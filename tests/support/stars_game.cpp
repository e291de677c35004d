#include "tests/support/stars_game.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/temp_dir.h"

namespace ventari::test {

stars::FileHeader GameHeader(std::uint8_t fileType, std::uint16_t turn, int playerIndex,
                             std::uint32_t gameId) {
  stars::FileHeader header;
  header.gameId = gameId;
  header.turn = turn;
  header.fileType = fileType;
  header.setPlayerIndex(playerIndex);
  if (fileType == stars::kOrderFile) header.flags = stars::kSubmittedFlag;
  return header;
}

void WriteGameFile(const std::string& path, const stars::FileHeader& header,
                   const std::string& rest) {
  WriteFile(path, stars::EncodeFileHeader(header) + rest);
}

void WriteHostFile(const std::string& stem, std::uint16_t turn, const std::string& rest) {
  WriteGameFile(stem + ".hst", GameHeader(stars::kHostFile, turn, stars::kHostPlayerIndex), rest);
}

void WriteOrderFile(const std::string& stem, int row) {
  WriteGameFile(
      stem + ".x" + std::to_string(row),
      GameHeader(stars::kOrderFile, static_cast<std::uint16_t>(TurnOf(stem + ".hst")), row - 1));
}

int TurnOf(const std::string& path) {
  stars::FileHeader header;
  EXPECT_EQ(stars::ReadFileHeader(path, header), stars::HeaderRead::kOk) << path;
  return header.turn;
}

void GenerateTurn(const std::string& stem, int players) {
  stars::FileHeader host;
  ASSERT_TRUE(stars::ReadHostHeader(stem + ".hst", host)) << stem;
  const stars::FileHeader before = host;
  ++host.turn;
  for (int n = 1; n <= players; ++n) {
    stars::FileHeader turnFile = host;
    turnFile.fileType = stars::kTurnFile;
    turnFile.setPlayerIndex(n - 1);
    WriteGameFile(stem + ".m" + std::to_string(n), turnFile, "turn " + std::to_string(n));
  }
  const std::string rest = ReadFile(stem + ".hst").substr(stars::kHeaderBlockBytes);
  WriteGameFile(stem + ".hst", host, rest);
  for (int n = 1; n <= players; ++n) {
    const std::string order = stem + ".x" + std::to_string(n);
    if (stars::JudgeOrderFile(order, before, n) == stars::OrderVerdict::kIn)
      std::remove(order.c_str());
  }
}

}  // namespace ventari::test
