#pragma once
// The windows' design font: "MS Sans Serif" 8 point, 11 pixels high. Where it is missing, the
// families of the same widths come next: the window's lines are laid out for those widths. A
// wider sans font (DejaVu, the one a bare Debian has) is drawn smaller by the main window, so
// that its texts still fit their boxes.

#include <QFont>
#include <QStringList>

namespace ventari {

inline QFont DesignFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace ventari
