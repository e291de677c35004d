// Makes the desktop icon from the about box's logo: make_icon <logo.jpg> <size> <output.png>.
// The logo's centre square is scaled down by area averaging to size x size pixels and written
// as an RGB PNG file. The PNG writer is our own: deflate "stored" blocks need no compression
// library, and an icon of 48 x 48 pixels stays under 7 KB uncompressed.

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // rows top to bottom, 3 bytes a pixel
};

// A build tool: the library's default error handler reports and exits, which is what we want.
Picture ReadJpeg(std::FILE* file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  Picture picture;
  picture.width = static_cast<int>(info.output_width);
  picture.height = static_cast<int>(info.output_height);
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &picture.rgb[static_cast<size_t>(info.output_scanline) * picture.width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture;
}

// How much of each of `count` source pixels falls into each of `size` equal cells that together
// cover them; each cell's weights sum to 1.
std::vector<std::vector<double>> CellWeights(int count, int size) {
  std::vector<std::vector<double>> weights(size, std::vector<double>(count, 0.0));
  const double cell = static_cast<double>(count) / size;
  for (int c = 0; c < size; ++c) {
    const double from = c * cell;
    const double to = from + cell;
    for (int s = 0; s < count; ++s) {
      const double overlap = std::min<double>(to, s + 1) - std::max<double>(from, s);
      if (overlap > 0) weights[c][s] = overlap / cell;
    }
  }
  return weights;
}

// The centre square of the picture, averaged down to size x size.
Picture SquareIcon(const Picture& logo, int size) {
  const int side = std::min(logo.width, logo.height);
  const int left = (logo.width - side) / 2;
  const int top = (logo.height - side) / 2;
  const auto weights = CellWeights(side, size);
  Picture icon;
  icon.width = icon.height = size;
  icon.rgb.resize(static_cast<size_t>(size) * size * 3);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      std::array<double, 3> sum{};
      for (int sy = 0; sy < side; ++sy) {
        const double wy = weights[y][sy];
        if (wy == 0) continue;
        for (int sx = 0; sx < side; ++sx) {
          const double w = wy * weights[x][sx];
          if (w == 0) continue;
          const unsigned char* p =
              &logo.rgb[(static_cast<size_t>(top + sy) * logo.width + left + sx) * 3];
          for (int k = 0; k < 3; ++k) sum[k] += w * p[k];
        }
      }
      unsigned char* out = &icon.rgb[(static_cast<size_t>(y) * size + x) * 3];
      for (int k = 0; k < 3; ++k)
        out[k] = static_cast<unsigned char>(std::clamp(sum[k] + 0.5, 0.0, 255.0));
    }
  }
  return icon;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const std::string& bytes) {
  uint32_t a = 1;
  uint32_t b = 0;
  for (const unsigned char byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  PutBigEndian(out, Crc32(typed));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each).
std::string StoredZlib(const std::string& raw) {
  std::string out("\x78\x01", 2);
  size_t pos = 0;
  do {
    const size_t length = std::min<size_t>(raw.size() - pos, 65535);
    const bool last = pos + length == raw.size();
    out.push_back(last ? '\x01' : '\x00');
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(~length & 0xFF));
    out.push_back(static_cast<char>((~length >> 8) & 0xFF));
    out.append(raw, pos, length);
    pos += length;
  } while (pos < raw.size());
  PutBigEndian(out, Adler32(raw));
  return out;
}

std::string EncodePng(const Picture& picture) {
  std::string header;
  PutBigEndian(header, static_cast<uint32_t>(picture.width));
  PutBigEndian(header, static_cast<uint32_t>(picture.height));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace

  std::string raw;
  const size_t stride = static_cast<size_t>(picture.width) * 3;
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back('\0');  // filter type "none" for each row
    raw.append(reinterpret_cast<const char*>(&picture.rgb[y * stride]), stride);
  }

  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", std::string());
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  const int size = argc == 4 ? std::atoi(argv[2]) : 0;
  if (size < 1 || size > 1024) {
    std::fprintf(stderr, "usage: make_icon <logo.jpg> <size> <output.png>\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  const Picture logo = ReadJpeg(in);
  std::fclose(in);

  const std::string png = EncodePng(SquareIcon(logo, size));
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::perror(argv[3]);
    return 1;
  }
  const bool written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
