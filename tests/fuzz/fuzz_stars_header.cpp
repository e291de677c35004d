// The start of any file handed to the year tool. ParseFileHeader must give the verdict the block
// layout calls for, and a header it accepts must encode back to the very 18 bytes it came from.
// The walk of the block chain must end where the bytes say: a complete chain ends in a footer of
// the expected size exactly at the end, and one byte more or less makes it incomplete.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "stars/stars_file.h"

namespace {

namespace stars = ventari::stars;

unsigned Byte(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

unsigned Word(std::string_view bytes, std::size_t at) {
  return Byte(bytes, at) + 256 * Byte(bytes, at + 1);
}

stars::HeaderError ExpectedVerdict(std::string_view bytes) {
  if (bytes.size() < 18) return stars::HeaderError::kTooShort;
  // Block type 8 in the upper six bits, size 16 in the lower ten: 0x2010.
  if (Word(bytes, 0) != 0x2010) return stars::HeaderError::kNotHeaderBlock;
  if (bytes.substr(2, 4) != "J3J3") return stars::HeaderError::kBadMagic;
  return stars::HeaderError::kNone;
}

void CheckChain(std::string_view bytes, int footerBytes) {
  const stars::ChainEnd end = stars::WalkBlockChain(bytes, footerBytes);
  if (end == stars::ChainEnd::kIncomplete) return;
  // Whatever ends in a footer is cut without its last byte.
  if (stars::WalkBlockChain(bytes.substr(0, bytes.size() - 1), footerBytes) !=
      stars::ChainEnd::kIncomplete)
    __builtin_trap();
  if (end != stars::ChainEnd::kComplete) return;
  // A footer of type 0 and that size ends the bytes, and nothing may follow it.
  if (Word(bytes, bytes.size() - 2 - static_cast<std::size_t>(footerBytes)) !=
      static_cast<unsigned>(footerBytes))
    __builtin_trap();
  if (stars::WalkBlockChain(std::string(bytes) + '\0', footerBytes) != stars::ChainEnd::kIncomplete)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckChain(bytes, 0);
  CheckChain(bytes, 2);
  stars::FileHeader header;
  const stars::HeaderError verdict = stars::ParseFileHeader(bytes, header);
  if (verdict != ExpectedVerdict(bytes)) __builtin_trap();
  const char* text = stars::HeaderErrorText(verdict);
  if (text == nullptr || std::strlen(text) == 0) __builtin_trap();
  if (verdict != stars::HeaderError::kNone) return 0;

  if (stars::EncodeFileHeader(header) != bytes.substr(0, stars::kHeaderBlockBytes))
    __builtin_trap();
  if (header.gameId != Word(bytes, 6) + 65536u * Word(bytes, 8) ||
      header.version != Word(bytes, 10) || header.turn != Word(bytes, 12) ||
      header.playerWord != Word(bytes, 14) || header.fileType != Byte(bytes, 16) ||
      header.flags != Byte(bytes, 17))
    __builtin_trap();
  if (header.year() != 2400 + static_cast<int>(Word(bytes, 12))) __builtin_trap();
  if (header.playerIndex() != static_cast<int>(Byte(bytes, 14) % 32)) __builtin_trap();

  // A new player index changes the low five bits only (turn files get theirs this way).
  stars::FileHeader renumbered = header;
  const int index = static_cast<int>(Byte(bytes, 16)) - 64;  // negative ones too
  renumbered.setPlayerIndex(index);
  if (renumbered.playerIndex() != ((index % 32) + 32) % 32 ||
      (renumbered.playerWord & ~0x1F) != (header.playerWord & ~0x1F))
    __builtin_trap();
  return 0;
}
