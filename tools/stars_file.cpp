#include "tools/stars_file.h"

namespace ventari::stars {

namespace {

std::uint16_t Word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

void PutWord(std::string& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

}  // namespace

HeaderError ParseFileHeader(std::string_view bytes, FileHeader& header) {
  if (bytes.size() < kHeaderBlockBytes) return HeaderError::kTooShort;
  const std::uint16_t blockWord = Word(bytes, 0);
  if ((blockWord >> 10) != kHeaderBlockType || (blockWord & 0x3FF) != kHeaderDataBytes)
    return HeaderError::kNotHeaderBlock;
  const std::string_view data = bytes.substr(2, kHeaderDataBytes);
  if (data.substr(0, 4) != "J3J3") return HeaderError::kBadMagic;
  header.gameId =
      static_cast<std::uint32_t>(Word(data, 4)) | (static_cast<std::uint32_t>(Word(data, 6)) << 16);
  header.version = Word(data, 8);
  header.turn = Word(data, 10);
  header.playerWord = Word(data, 12);
  header.fileType = static_cast<std::uint8_t>(data[14]);
  header.flags = static_cast<std::uint8_t>(data[15]);
  return HeaderError::kNone;
}

std::string EncodeFileHeader(const FileHeader& header) {
  std::string bytes;
  bytes.reserve(kHeaderBlockBytes);
  PutWord(bytes, static_cast<std::uint16_t>((kHeaderBlockType << 10) | kHeaderDataBytes));
  bytes += "J3J3";
  PutWord(bytes, static_cast<std::uint16_t>(header.gameId & 0xFFFF));
  PutWord(bytes, static_cast<std::uint16_t>(header.gameId >> 16));
  PutWord(bytes, header.version);
  PutWord(bytes, header.turn);
  PutWord(bytes, header.playerWord);
  bytes.push_back(static_cast<char>(header.fileType));
  bytes.push_back(static_cast<char>(header.flags));
  return bytes;
}

const char* HeaderErrorText(HeaderError error) {
  switch (error) {
    case HeaderError::kNone:
      return "no error";
    case HeaderError::kTooShort:
      return "too short for a Stars! file";
    case HeaderError::kNotHeaderBlock:
      return "not a Stars! file (no file header block)";
    case HeaderError::kBadMagic:
      return "not a Stars! file (bad magic)";
  }
  return "not a Stars! file";
}

}  // namespace ventari::stars
