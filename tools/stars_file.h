#pragma once
// The file header that starts every Stars! game file: one block of 18 bytes.
//
// Bytes 0-1: a little-endian word, block type (word >> 10) 8 and block size (word & 0x3FF) 16.
// Bytes 2-17, the block's data:
//   0-3   magic "J3J3"
//   4-7   game id (little-endian)
//   8-9   version word
//   10-11 turn (little-endian, unsigned); the year is 2400 + turn
//   12-13 a little-endian word whose low 5 bits are the player index (turn and order files);
//         the other bits are kept as found
//   14    file type: 0 order file (.x<n>), 2 host file (.hst), 3 turn file (.m<n>)
//   15    flags, kept as found

#include <cstdint>
#include <string>
#include <string_view>

namespace ventari::stars {

inline constexpr std::size_t kHeaderBlockBytes = 18;
inline constexpr int kHeaderBlockType = 8;
inline constexpr int kHeaderDataBytes = 16;
inline constexpr int kFirstYear = 2400;

inline constexpr std::uint8_t kOrderFile = 0;
inline constexpr std::uint8_t kHostFile = 2;
inline constexpr std::uint8_t kTurnFile = 3;

struct FileHeader {
  std::uint32_t gameId = 0;
  std::uint16_t version = 0;
  std::uint16_t turn = 0;
  std::uint16_t playerWord = 0;
  std::uint8_t fileType = 0;
  std::uint8_t flags = 0;

  int playerIndex() const { return playerWord & 0x1F; }
  // Keeps the word's upper bits; the index is taken modulo 32.
  void setPlayerIndex(int index) {
    playerWord = static_cast<std::uint16_t>((playerWord & ~0x1F) | (index & 0x1F));
  }
  int year() const { return kFirstYear + turn; }
};

enum class HeaderError { kNone, kTooShort, kNotHeaderBlock, kBadMagic };

// Reads the header block at the start of `bytes`; only the first 18 bytes are looked at.
HeaderError ParseFileHeader(std::string_view bytes, FileHeader& header);

// The 18 bytes of the header block.
std::string EncodeFileHeader(const FileHeader& header);

// "too short for a Stars! file", ...
const char* HeaderErrorText(HeaderError error);

}  // namespace ventari::stars
