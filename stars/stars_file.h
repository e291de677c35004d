#pragma once
// The file header that starts every Stars! game file: one block of 18 bytes. Shared by the year
// tool, the stand-in game and the robot, which judges order and turn files by it.
//
// Bytes 0-1: a little-endian word, block type (word >> 10) 8 and block size (word & 0x3FF) 16.
// Bytes 2-17, the block's data:
//   0-3   magic "J3J3"
//   4-7   game id (little-endian)
//   8-9   version word
//   10-11 turn (little-endian, unsigned); the year is 2400 + turn
//   12-13 a little-endian word whose low 5 bits are the player index, from 0 (31 in the host
//         file); the other bits are kept as found
//   14    file type: 0 universe (.xy), 1 order file (.x<n>), 2 host file (.hst),
//         3 turn file (.m<n>), 4 history (.h<n>), 5 race (.r<n>)
//   15    flags; bit 0: the player has submitted his orders

#include <cstdint>
#include <string>
#include <string_view>

namespace ventari::stars {

inline constexpr std::size_t kHeaderBlockBytes = 18;
inline constexpr int kHeaderBlockType = 8;
inline constexpr int kHeaderDataBytes = 16;
inline constexpr int kFirstYear = 2400;
inline constexpr int kHostPlayerIndex = 31;

inline constexpr std::uint8_t kUniverseFile = 0;
inline constexpr std::uint8_t kOrderFile = 1;
inline constexpr std::uint8_t kHostFile = 2;
inline constexpr std::uint8_t kTurnFile = 3;
inline constexpr std::uint8_t kHistoryFile = 4;
inline constexpr std::uint8_t kRaceFile = 5;

inline constexpr std::uint8_t kSubmittedFlag = 0x01;

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

// Reading the header of a file on disk: only its first 18 bytes are read.
enum class HeaderRead {
  kOk,
  kMissing,       // no such file
  kNotPlainFile,  // a folder or another kind of entry
  kUnreadable,    // it exists but cannot be opened or read
  kTooShort,
  kNotHeaderBlock,
  kBadMagic,
};

HeaderRead ReadFileHeader(const std::string& path, FileHeader& header);

// "missing", "not a plain file", "cannot be read", or the header error's text.
const char* HeaderReadText(HeaderRead result);

// Whether an order file counts for a player of the game whose host file has `host`.
enum class OrderVerdict {
  kIn,
  kMissing,
  kNotOrderFile,  // unreadable, cut short, not a Stars! file, or another kind of game file
  kOtherGame,
  kOtherTurn,
  kOtherPlayer,
};

// Row `row` (from 1) of the game whose host file's header is `host`: its order file is in only
// when it is an order file of that game, that turn and that player.
OrderVerdict JudgeOrderFile(const std::string& path, const FileHeader& host, int row);

// "in", "missing", "not an order file", "other game", "other turn", "other player".
const char* OrderVerdictText(OrderVerdict verdict);

// The header of a host file, or false when the file cannot be read or is no host file.
bool ReadHostHeader(const std::string& path, FileHeader& host);

// A turn file for row `row` of the game `host` describes, at the turn `host` carries.
bool IsTurnFileFor(const FileHeader& turnFile, const FileHeader& host, int row);

}  // namespace ventari::stars
