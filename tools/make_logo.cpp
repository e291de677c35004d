// Draws the about box's logo (a gold star behind a "V" on a night-blue gradient, 105 x 97
// pixels) and writes it as a JPEG file: make_logo <output.jpg>.
// The committed app/resources/logo.jpg is this program's output.

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kWidth = 105;
constexpr int kHeight = 97;
constexpr int kSamples = 4;  // supersampling per axis, for smooth edges

struct Point {
  double x;
  double y;
};

struct Colour {
  double r;
  double g;
  double b;
};

// Even-odd rule, so concave outlines (the star, the V) fill correctly.
bool Inside(const std::vector<Point>& polygon, Point p) {
  bool inside = false;
  for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const Point& a = polygon[i];
    const Point& b = polygon[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
      inside = !inside;
  }
  return inside;
}

std::vector<Point> Star(Point centre, double outer, double inner) {
  std::vector<Point> points;
  for (int k = 0; k < 10; ++k) {
    const double radius = k % 2 == 0 ? outer : inner;
    const double angle = -std::numbers::pi / 2 + k * std::numbers::pi / 5;
    points.push_back({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)});
  }
  return points;
}

Colour Background(Point p) {
  // Night blue at the top to a deep violet at the bottom.
  const double t = p.y / kHeight;
  return {20 + 90 * t, 30 + 10 * t, 90 + 60 * t};
}

Colour Sample(Point p, const std::vector<Point>& star, const std::vector<Point>& letter,
              const std::vector<Point>& sparkles) {
  if (Inside(letter, p)) return {25, 35, 110};
  if (Inside(star, p)) {
    // A light fall from the upper left gives the star some depth.
    const double t = (p.x + p.y) / (kWidth + kHeight);
    return {255, 225 - 60 * t, 60 - 40 * t};
  }
  for (const Point& s : sparkles) {
    const double dx = p.x - s.x;
    const double dy = p.y - s.y;
    if (dx * dx + dy * dy < 1.2) return {250, 250, 255};
  }
  return Background(p);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_logo <output.jpg>\n");
    return 2;
  }

  const std::vector<Point> star = Star({52.5, 51.0}, 46.0, 19.0);
  const std::vector<Point> letter = {{33, 30}, {43, 30}, {52.5, 60}, {62, 30},
                                     {72, 30}, {57, 74}, {48, 74}};
  const std::vector<Point> sparkles = {{8, 8}, {18, 84}, {95, 12}, {88, 88}, {98, 55}, {6, 50}};

  std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Colour sum{0, 0, 0};
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Point p{x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples};
          const Colour c = Sample(p, star, letter, sparkles);
          sum.r += c.r;
          sum.g += c.g;
          sum.b += c.b;
        }
      }
      constexpr double n = kSamples * kSamples;
      unsigned char* out = &pixels[(static_cast<size_t>(y) * kWidth + x) * 3];
      out[0] = static_cast<unsigned char>(std::lround(sum.r / n));
      out[1] = static_cast<unsigned char>(std::lround(sum.g / n));
      out[2] = static_cast<unsigned char>(std::lround(sum.b / n));
    }
  }

  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  // The library's default error handler reports and exits, which is right for a build tool.
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &pixels[static_cast<size_t>(info.next_scanline) * kWidth * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  if (std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
