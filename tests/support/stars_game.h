#pragma once
// Stars! game files with real header blocks, and what the game does to them when it generates,
// for tests that play the game's part themselves.

#include <cstdint>
#include <string>

#include "stars/stars_file.h"

namespace ventari::test {

inline constexpr std::uint32_t kGameId = 0x5EED0A1F;

// The header of a file of the test game: its id, the turn, the type and the player index.
stars::FileHeader GameHeader(std::uint8_t fileType, std::uint16_t turn, int playerIndex,
                             std::uint32_t gameId = kGameId);

// A complete file: the header, `rest` in data blocks, the footer of the header's file type.
std::string GameFileBytes(const stars::FileHeader& header, const std::string& rest = "");
// Writes GameFileBytes.
void WriteGameFile(const std::string& path, const stars::FileHeader& header,
                   const std::string& rest = "");

// <stem>.hst at `turn`, followed by `rest`.
void WriteHostFile(const std::string& stem, std::uint16_t turn, const std::string& rest = "");

// Row n's order file, submitted, for the turn and generation of the host file <stem>.hst; `rest`
// makes other orders.
void WriteOrderFile(const std::string& stem, int row, const std::string& rest = "");

// The turn in the header of a game file; fails the test when there is none.
int TurnOf(const std::string& path);

// What the game does on "-g": the host file one turn on, a turn file "<stem>.m<n>" for rows 1 to
// `players` (header, then "turn <n>"), and this turn's order files deleted.
void GenerateTurn(const std::string& stem, int players);

}  // namespace ventari::test
