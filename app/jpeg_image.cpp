#include "app/jpeg_image.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>

namespace ventari {

namespace {

// Larger pictures are refused: nothing this program shows comes near, and a forged header
// must not make it allocate gigabytes.
constexpr JDIMENSION kMaxSide = 8192;

// libjpeg reports a fatal error by calling error_exit, which must not return. It jumps back to
// the decoder's recovery point; the frames it skips hold only plain values, so nothing is lost.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf recovery;
  int warnings;
};

extern "C" void JumpOnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(manager->recovery, 1);
}

// Warnings mean damaged data (a truncated file, bad Huffman codes): counted, never printed.
extern "C" void CountWarning(j_common_ptr info, int level) {
  if (level < 0) ++reinterpret_cast<ErrorManager*>(info->err)->warnings;
}

extern "C" void Silent(j_common_ptr) {}

// Owns one decompressor; destroying it releases everything libjpeg allocated.
class Decompressor {
 public:
  Decompressor() {
    m_info.err = jpeg_std_error(&m_error.pub);
    m_error.pub.error_exit = JumpOnError;
    m_error.pub.emit_message = CountWarning;
    m_error.pub.output_message = Silent;
    m_error.warnings = 0;
  }
  ~Decompressor() {
    if (m_created) jpeg_destroy_decompress(&m_info);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Decodes into *image. Only plain values live in this frame, so a jump from inside libjpeg
  // back to the setjmp below skips no destructor.
  bool Run(const unsigned char* data, unsigned long size, QImage* image) {
    if (setjmp(m_error.recovery) != 0) return false;

    jpeg_create_decompress(&m_info);
    m_created = true;
    jpeg_mem_src(&m_info, data, size);
    if (jpeg_read_header(&m_info, TRUE) != JPEG_HEADER_OK) return false;
    if (m_info.image_width > kMaxSide || m_info.image_height > kMaxSide) return false;
    m_info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&m_info);
    if (m_info.output_components != 3) return false;

    *image = QImage(static_cast<int>(m_info.output_width), static_cast<int>(m_info.output_height),
                    QImage::Format_RGB888);
    if (image->isNull()) return false;
    while (m_info.output_scanline < m_info.output_height) {
      JSAMPROW row = image->scanLine(static_cast<int>(m_info.output_scanline));
      jpeg_read_scanlines(&m_info, &row, 1);
    }
    jpeg_finish_decompress(&m_info);
    return m_error.warnings == 0;
  }

 private:
  jpeg_decompress_struct m_info{};
  ErrorManager m_error{};
  bool m_created = false;
};

}  // namespace

std::optional<QImage> DecodeJpeg(const QByteArray& bytes) {
  if (bytes.isEmpty()) return std::nullopt;
  QImage image;
  Decompressor decompressor;
  if (!decompressor.Run(reinterpret_cast<const unsigned char*>(bytes.constData()),
                        static_cast<unsigned long>(bytes.size()), &image))
    return std::nullopt;
  return image;
}

}  // namespace ventari
