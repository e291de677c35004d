// Writes the ready sound "pret.wav": two short rising tones, 16-bit mono PCM at 22050 Hz.
// Usage: make_wav <output file>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

void PutLe(std::ofstream& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_wav <output file>\n");
    return 2;
  }
  constexpr std::uint32_t kRate = 22050;
  std::vector<std::int16_t> samples;
  for (double frequency : {660.0, 880.0}) {
    const int count = static_cast<int>(kRate * 0.18);
    for (int i = 0; i < count; ++i) {
      // A short fade in and out keeps the tone free of clicks.
      const double envelope = std::min({1.0, i / 400.0, (count - i) / 400.0});
      const double value = 0.4 * envelope * std::sin(2 * std::numbers::pi * frequency * i / kRate);
      samples.push_back(static_cast<std::int16_t>(value * 32767));
    }
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  out.write("RIFF", 4);
  PutLe(out, 36 + dataSize, 4);
  out.write("WAVEfmt ", 8);
  PutLe(out, 16, 4);
  PutLe(out, 1, 2);  // PCM
  PutLe(out, 1, 2);  // mono
  PutLe(out, kRate, 4);
  PutLe(out, kRate * 2, 4);
  PutLe(out, 2, 2);
  PutLe(out, 16, 2);
  out.write("data", 4);
  PutLe(out, dataSize, 4);
  for (std::int16_t s : samples) PutLe(out, static_cast<std::uint16_t>(s), 2);
  return out.good() ? 0 : 1;
}
