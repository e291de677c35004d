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

std::string GameFileBytes(const stars::FileHeader& header, const std::string& rest) {
  std::string bytes = stars::EncodeFileHeader(header);
  for (std::size_t at = 0; at < rest.size(); at += stars::kLargestBlockData)
    bytes += stars::EncodeBlock(6, std::string_view(rest).substr(at, stars::kLargestBlockData));
  return bytes + stars::EncodeFooter(header.fileType);
}

void WriteGameFile(const std::string& path, const stars::FileHeader& header,
                   const std::string& rest) {
  WriteFile(path, GameFileBytes(header, rest));
}

void WriteHostFile(const std::string& stem, std::uint16_t turn, const std::string& rest) {
  WriteGameFile(stem + ".hst", GameHeader(stars::kHostFile, turn, stars::kHostPlayerIndex), rest);
}

void WriteOrderFile(const std::string& stem, int row, const std::string& rest) {
  stars::FileHeader host;
  ASSERT_EQ(stars::ReadFileHeader(stem + ".hst", host), stars::HeaderRead::kOk) << stem;
  stars::FileHeader orders = GameHeader(stars::kOrderFile, host.turn, row - 1, host.gameId);
  orders.setGeneration(host.generation());
  WriteGameFile(stem + ".x" + std::to_string(row), orders, rest);
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
  host.setGeneration(host.generation() + 1);
  for (int n = 1; n <= players; ++n) {
    stars::FileHeader turnFile = host;
    turnFile.fileType = stars::kTurnFile;
    turnFile.setPlayerIndex(n - 1);
    WriteGameFile(stem + ".m" + std::to_string(n), turnFile, "turn " + std::to_string(n));
  }
  const std::string rest = ReadFile(stem + ".hst").substr(stars::kHeaderBlockBytes);
  WriteFile(stem + ".hst", stars::EncodeFileHeader(host) + rest);  // the rest of its chain kept
  for (int n = 1; n <= players; ++n) {
    const std::string order = stem + ".x" + std::to_string(n);
    if (stars::JudgeOrderFile(order, before, n).verdict == stars::OrderVerdict::kIn)
      std::remove(order.c_str());
  }
}

}  // namespace ventari::test
