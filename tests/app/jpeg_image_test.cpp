// The libjpeg decoder: pictures come out whole and right way round; damaged files come out as
// nothing, without aborting.

#include "app/jpeg_image.h"

#include <gtest/gtest.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::BinDir;
using test::ReadFile;
using test::SourceDir;
using test::TempDir;

// Encodes an RGB picture (or its grey channel) with libjpeg, for the decoder to read back.
QByteArray EncodeJpeg(const QImage& picture, bool grey) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(rgb.width());
  info.image_height = static_cast<JDIMENSION>(rgb.height());
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::string row(static_cast<size_t>(rgb.width()) * 3, '\0');
  while (info.next_scanline < info.image_height) {
    const uchar* line = rgb.constScanLine(static_cast<int>(info.next_scanline));
    for (int x = 0; x < rgb.width(); ++x)
      row[static_cast<size_t>(x)] = static_cast<char>(line[x * 3 + 1]);  // green as grey
    JSAMPROW samples = grey ? reinterpret_cast<JSAMPROW>(row.data()) : const_cast<uchar*>(line);
    jpeg_write_scanlines(&info, &samples, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
  std::free(buffer);
  return bytes;
}

// Four flat quarters; an odd width makes the picture's rows padded in memory.
QImage Quarters(int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      image.setPixelColor(x, y,
                          !bottom ? (right ? QColor(230, 20, 20) : QColor(20, 200, 30))
                                  : (right ? QColor(30, 40, 220) : QColor(240, 240, 240)));
    }
  return image;
}

// Busy content, so that most of the file is picture data rather than tables.
QImage Noise(int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  unsigned state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      image.setPixel(x, y, state >> 8);
    }
  return image;
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) <= 12 && std::abs(a.green() - b.green()) <= 12 &&
         std::abs(a.blue() - b.blue()) <= 12;
}

TEST(DecodeJpeg, ColourAndGreyPicturesComeBackWithTheirSizeAndColours) {
  const QImage original = Quarters(37, 23);
  const std::optional<QImage> colour = DecodeJpeg(EncodeJpeg(original, false));
  ASSERT_TRUE(colour.has_value());
  ASSERT_EQ(colour->size(), QSize(37, 23));
  // Samples away from the quarter edges, where the compression is exact enough.
  for (const QPoint p : {QPoint(4, 4), QPoint(32, 4), QPoint(4, 19), QPoint(32, 19)})
    EXPECT_TRUE(Near(colour->pixelColor(p), original.pixelColor(p)))
        << p.x() << "," << p.y() << " " << colour->pixelColor(p).name().toStdString();

  const std::optional<QImage> grey = DecodeJpeg(EncodeJpeg(original, true));
  ASSERT_TRUE(grey.has_value());
  ASSERT_EQ(grey->size(), QSize(37, 23));
  const QColor g = grey->pixelColor(32, 19);
  EXPECT_TRUE(Near(g, QColor(40, 40, 40))) << g.name().toStdString();
}

TEST(DecodeJpeg, DamagedOrForgedFilesGiveNothing) {
  const QByteArray good = EncodeJpeg(Noise(64, 48), false);
  ASSERT_TRUE(DecodeJpeg(good).has_value());

  EXPECT_FALSE(DecodeJpeg(QByteArray()).has_value());
  EXPECT_FALSE(DecodeJpeg(QByteArray("not a picture at all")).has_value());
  EXPECT_FALSE(DecodeJpeg(good.left(good.size() / 2)).has_value()) << "truncated";
  EXPECT_FALSE(DecodeJpeg(good.left(good.size() - 40)).has_value()) << "end cut off";
  EXPECT_FALSE(DecodeJpeg(good.left(20)).has_value()) << "header only";

  QByteArray scrambled = good;
  for (qsizetype i = scrambled.size() / 3; i < scrambled.size() - 2; i += 7) scrambled[i] = '\xff';
  EXPECT_FALSE(DecodeJpeg(scrambled).has_value()) << "damaged data";

  // A frame header claiming 65535 x 65535 pixels.
  QByteArray huge = good;
  const qsizetype sof = huge.indexOf(QByteArray("\xff\xc0", 2));
  ASSERT_GT(sof, 0);
  for (int i = 5; i <= 8; ++i) huge[sof + i] = '\xff';
  EXPECT_FALSE(DecodeJpeg(huge).has_value()) << "forged size";
}

TEST(DecodeJpeg, TheCommittedLogoIsTheLogoToolsOutput) {
  const std::string committed = ReadFile(SourceDir() + "/app/resources/logo.jpg");
  const std::optional<QImage> logo = DecodeJpeg(QByteArray::fromStdString(committed));
  ASSERT_TRUE(logo.has_value());
  EXPECT_EQ(logo->size(), QSize(105, 97));

  TempDir dir;
  const std::string made = dir.file("logo.jpg");
  ASSERT_EQ(std::system((BinDir() + "/make_logo " + made).c_str()), 0);
  const std::optional<QImage> remade = DecodeJpeg(QByteArray::fromStdString(ReadFile(made)));
  ASSERT_TRUE(remade.has_value());
  ASSERT_EQ(remade->size(), logo->size());
  // Another libjpeg may round differently; the picture must still be the same one.
  long difference = 0;
  for (int y = 0; y < logo->height(); ++y)
    for (int x = 0; x < logo->width(); ++x) {
      const QColor a = logo->pixelColor(x, y);
      const QColor b = remade->pixelColor(x, y);
      difference += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                    std::abs(a.blue() - b.blue());
    }
  EXPECT_LT(difference / (logo->width() * logo->height() * 3), 3);
}

}  // namespace
}  // namespace ventari
