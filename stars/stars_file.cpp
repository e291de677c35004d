#include "stars/stars_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

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

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

HeaderRead ReadFileHeader(const std::string& path, FileHeader& header) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return HeaderRead::kMissing;
  if (error) return HeaderRead::kUnreadable;
  if (!std::filesystem::is_regular_file(status)) return HeaderRead::kNotPlainFile;

  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return HeaderRead::kUnreadable;
  // Unbuffered: the header is all that is read, whatever the file's size.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  char bytes[kHeaderBlockBytes];
  const std::size_t count = std::fread(bytes, 1, sizeof bytes, file.get());
  if (std::ferror(file.get())) return HeaderRead::kUnreadable;
  switch (ParseFileHeader(std::string_view(bytes, count), header)) {
    case HeaderError::kNone:
      return HeaderRead::kOk;
    case HeaderError::kTooShort:
      return HeaderRead::kTooShort;
    case HeaderError::kNotHeaderBlock:
      return HeaderRead::kNotHeaderBlock;
    case HeaderError::kBadMagic:
      return HeaderRead::kBadMagic;
  }
  return HeaderRead::kUnreadable;
}

const char* HeaderReadText(HeaderRead result) {
  switch (result) {
    case HeaderRead::kOk:
      return "no error";
    case HeaderRead::kMissing:
      return "missing";
    case HeaderRead::kNotPlainFile:
      return "not a plain file";
    case HeaderRead::kUnreadable:
      return "cannot be read";
    case HeaderRead::kTooShort:
      return HeaderErrorText(HeaderError::kTooShort);
    case HeaderRead::kNotHeaderBlock:
      return HeaderErrorText(HeaderError::kNotHeaderBlock);
    case HeaderRead::kBadMagic:
      return HeaderErrorText(HeaderError::kBadMagic);
  }
  return "cannot be read";
}

int FooterDataBytes(std::uint8_t fileType) {
  switch (fileType) {
    case kOrderFile:
    case kHistoryFile:
      return 0;
    case kHostFile:
    case kTurnFile:
    case kRaceFile:
      return 2;
    default:
      return -1;
  }
}

ChainEnd WalkBlockChain(std::string_view bytes, int footerDataBytes) {
  std::size_t at = 0;
  while (at + 2 <= bytes.size()) {
    const std::uint16_t word = Word(bytes, at);
    const std::size_t size = word & kLargestBlockData;
    if (size > bytes.size() - at - 2) return ChainEnd::kIncomplete;  // a block cut short
    at += 2 + size;
    if ((word >> 10) != kFooterBlockType) continue;
    if (at != bytes.size()) return ChainEnd::kIncomplete;
    return static_cast<int>(size) == footerDataBytes ? ChainEnd::kComplete : ChainEnd::kWrongFooter;
  }
  return ChainEnd::kIncomplete;
}

std::string EncodeBlock(int type, std::string_view data) {
  std::string bytes;
  const std::size_t size = std::min(data.size(), kLargestBlockData);
  PutWord(bytes, static_cast<std::uint16_t>((type << 10) | size));
  bytes.append(data.substr(0, size));
  return bytes;
}

std::string EncodeFooter(std::uint8_t fileType) {
  return EncodeBlock(
      kFooterBlockType,
      std::string(static_cast<std::size_t>(std::max(0, FooterDataBytes(fileType))), '\0'));
}

GameFileRead ParseGameFile(std::string_view bytes) {
  GameFileRead result;
  switch (ParseFileHeader(bytes, result.header)) {
    case HeaderError::kNone:
      result.read = HeaderRead::kOk;
      break;
    case HeaderError::kTooShort:
      result.read = HeaderRead::kTooShort;
      return result;
    case HeaderError::kNotHeaderBlock:
      result.read = HeaderRead::kNotHeaderBlock;
      return result;
    case HeaderError::kBadMagic:
      result.read = HeaderRead::kBadMagic;
      return result;
  }
  result.chain = WalkBlockChain(bytes, FooterDataBytes(result.header.fileType));
  return result;
}

GameFileRead ReadGameFile(const std::string& path, std::string* bytesRead) {
  GameFileRead result;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return result;
  result.read = HeaderRead::kUnreadable;
  if (error) return result;
  if (!std::filesystem::is_regular_file(status)) {
    result.read = HeaderRead::kNotPlainFile;
    return result;
  }
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return result;
  constexpr std::size_t kLargestGameFile = 16u << 20;
  std::string bytes;
  char buffer[65536];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes.append(buffer, count);
    if (bytes.size() > kLargestGameFile) return result;
  }
  if (std::ferror(file.get())) return result;
  result = ParseGameFile(bytes);
  if (bytesRead) *bytesRead = std::move(bytes);
  return result;
}

OrderJudgement JudgeOrder(const GameFileRead& file, const FileHeader& host, int row) {
  const FileHeader& order = file.header;
  auto verdict = [](OrderVerdict v) { return OrderJudgement{v, false}; };
  if (file.read == HeaderRead::kMissing || file.read == HeaderRead::kNotPlainFile)
    return verdict(OrderVerdict::kMissing);
  if (file.read != HeaderRead::kOk || order.fileType != kOrderFile ||
      file.chain == ChainEnd::kWrongFooter)
    return verdict(OrderVerdict::kNotOrderFile);
  if (order.gameId != host.gameId) return verdict(OrderVerdict::kOtherGame);
  if (order.turn != host.turn) return verdict(OrderVerdict::kOtherTurn);
  if (order.playerIndex() != row - 1) return verdict(OrderVerdict::kOtherPlayer);
  if (file.chain != ChainEnd::kComplete) return verdict(OrderVerdict::kIncomplete);
  if (order.generation() != host.generation()) return verdict(OrderVerdict::kOtherGeneration);
  return OrderJudgement{OrderVerdict::kIn, !order.submitted()};
}

OrderJudgement JudgeOrderFile(const std::string& path, const FileHeader& host, int row,
                              std::string* bytesRead) {
  return JudgeOrder(ReadGameFile(path, bytesRead), host, row);
}

const char* OrderVerdictText(OrderVerdict verdict) {
  switch (verdict) {
    case OrderVerdict::kIn:
      return "in";
    case OrderVerdict::kMissing:
      return "missing";
    case OrderVerdict::kNotOrderFile:
      return "not an order file";
    case OrderVerdict::kOtherGame:
      return "other game";
    case OrderVerdict::kOtherTurn:
      return "other turn";
    case OrderVerdict::kOtherPlayer:
      return "other player";
    case OrderVerdict::kIncomplete:
      return "incomplete";
    case OrderVerdict::kOtherGeneration:
      return "other generation";
  }
  return "not an order file";
}

bool ReadHostHeader(const std::string& path, FileHeader& host) {
  return ReadFileHeader(path, host) == HeaderRead::kOk && host.fileType == kHostFile;
}

bool ReadCompleteHostHeader(const std::string& path, FileHeader& host) {
  const GameFileRead file = ReadGameFile(path);
  if (!file.complete() || file.header.fileType != kHostFile) return false;
  host = file.header;
  return true;
}

bool IsTurnFileFor(const FileHeader& turnFile, const FileHeader& host, int row) {
  return turnFile.fileType == kTurnFile && turnFile.gameId == host.gameId &&
         turnFile.turn == host.turn && turnFile.playerIndex() == row - 1 &&
         turnFile.generation() == host.generation();
}

}  // namespace ventari::stars
