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
//   15    flags; bit 0: the player has submitted his orders (not only saved them), bit 3: the
//         game is over, bits 5-7: the generation counter, the same in every file one
//         generation writes and copied into the order files made from them
//
// The header block starts a chain of blocks that runs to the file's very end: each block is a
// little-endian word (type in the upper 6 bits, data size in the lower 10) and its data. The
// last block is the footer, type 0, with 0 bytes of data in order and history files and 2 in
// turn, host and race files. A file cut short (an upload in progress) has no footer yet.

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
inline constexpr std::uint8_t kGameOverFlag = 0x08;
inline constexpr int kGenerationShift = 5;
inline constexpr int kFooterBlockType = 0;
inline constexpr std::size_t kLargestBlockData = 0x3FF;

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
  bool submitted() const { return (flags & kSubmittedFlag) != 0; }
  bool gameOver() const { return (flags & kGameOverFlag) != 0; }
  int generation() const { return flags >> kGenerationShift; }
  // Keeps the other flags; the counter is taken modulo 8.
  void setGeneration(int counter) {
    flags = static_cast<std::uint8_t>((flags & 0x1F) | ((counter & 7) << kGenerationShift));
  }
};

enum class HeaderError { kNone, kTooShort, kNotHeaderBlock, kBadMagic };

// Reads the header block at the start of `bytes`; only the first 18 bytes are looked at.
HeaderError ParseFileHeader(std::string_view bytes, FileHeader& header);

// The 18 bytes of the header block.
std::string EncodeFileHeader(const FileHeader& header);

// "too short for a Stars! file", ...
const char* HeaderErrorText(HeaderError error);

// The footer's data size that ends a complete file of that type; -1 for a universe file, which
// carries more bytes after its last block and is not judged by its chain.
int FooterDataBytes(std::uint8_t fileType);

// How a file's block chain ends.
enum class ChainEnd {
  kComplete,     // a footer block of the expected size, exactly at the end
  kIncomplete,   // no footer at the end: cut short, still being written, or bytes past it
  kWrongFooter,  // a footer of another kind of file
};

// Walks the chain from the header block at the start of `bytes`.
ChainEnd WalkBlockChain(std::string_view bytes, int footerDataBytes);

// One block: its word, then `data` (at most 1023 bytes).
std::string EncodeBlock(int type, std::string_view data);
// The footer block a complete file of that type ends with.
std::string EncodeFooter(std::uint8_t fileType);

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

// A whole game file read from disk: its header and how its chain ends.
struct GameFileRead {
  HeaderRead read = HeaderRead::kMissing;
  FileHeader header;
  ChainEnd chain = ChainEnd::kIncomplete;
  bool complete() const { return read == HeaderRead::kOk && chain == ChainEnd::kComplete; }
};

// Reads the whole file (a game file is small; one past 16 MiB counts as unreadable) and walks
// its chain against the footer of its own type. `bytesRead`, when given, gets the bytes judged.
GameFileRead ReadGameFile(const std::string& path, std::string* bytesRead = nullptr);
// The same for bytes already in memory.
GameFileRead ParseGameFile(std::string_view bytes);

// Whether an order file counts for a player of the game whose host file has `host`.
enum class OrderVerdict {
  kIn,
  kMissing,
  kNotOrderFile,  // unreadable, not a Stars! file, or another kind of game file
  kOtherGame,
  kOtherTurn,
  kOtherPlayer,
  kIncomplete,       // no footer at its end: an upload in progress or cut short
  kOtherGeneration,  // made from another generation's turn file: the game would refuse it
};

struct OrderJudgement {
  OrderVerdict verdict = OrderVerdict::kMissing;
  bool savedOnly = false;  // in, but saved and not submitted
};

// Row `row` (from 1) of the game whose host file's header is `host`: its order file is in only
// when it is a complete order file of that game, turn, player and generation.
// `bytesRead`, when given, gets the bytes judged.
OrderJudgement JudgeOrderFile(const std::string& path, const FileHeader& host, int row,
                              std::string* bytesRead = nullptr);
// The same judgement of a game file already read.
OrderJudgement JudgeOrder(const GameFileRead& file, const FileHeader& host, int row);

// "in", "missing", "not an order file", "other game", "other turn", "other player",
// "incomplete", "other generation".
const char* OrderVerdictText(OrderVerdict verdict);

// The header of a host file, or false when the file cannot be read or is no host file.
bool ReadHostHeader(const std::string& path, FileHeader& host);
// The same for a host file that is also complete: the game reads nothing else.
bool ReadCompleteHostHeader(const std::string& path, FileHeader& host);

// A turn file for row `row` of the game `host` describes, at the turn and generation `host`
// carries.
bool IsTurnFileFor(const FileHeader& turnFile, const FileHeader& host, int row);

}  // namespace ventari::stars
