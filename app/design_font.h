#pragma once
// The windows' design font: "MS Sans Serif" 8 point, 11 pixels high; where it is missing, a
// sans font of that height.

#include <QFont>

namespace ventari {

inline QFont DesignFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace ventari
