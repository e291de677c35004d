#pragma once
// Turns the bytes of a JPEG file into a picture, through libjpeg.

#include <QByteArray>
#include <QImage>

#include <optional>

namespace ventari {

// The decoded picture, or nothing when the bytes are not a whole, sound JPEG file (a truncated
// or damaged file is refused rather than shown half grey). Never aborts the program.
std::optional<QImage> DecodeJpeg(const QByteArray& bytes);

}  // namespace ventari
