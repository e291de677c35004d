// The program's message boxes, offscreen: texts shown as they are, whatever they hold.

#include "app/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace ventari {
namespace {

struct SeenBox {
  QString caption;
  QString text;
  Qt::TextFormat format = Qt::AutoText;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs `show`, reading the box it opens and closing it with OK.
SeenBox Seen(const std::function<void()>& show) {
  SeenBox seen;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      ADD_FAILURE() << "no box";
      return;
    }
    seen = {box->windowTitle(), box->text(), box->textFormat(), box->icon()};
    box->button(QMessageBox::Ok)->click();
  });
  show();
  return seen;
}

TEST(QtDialogs, TextsAreShownAsPlainText) {
  QtDialogs dialogs;
  const SeenBox message =
      Seen([&] { dialogs.ShowMessage("Cookie:\r\n<b>session</b>=<i>abc</i>"); });
  EXPECT_EQ(message.caption, QStringLiteral("Ventari"));
  EXPECT_EQ(message.text, QStringLiteral("Cookie:\r\n<b>session</b>=<i>abc</i>"));
  EXPECT_EQ(message.format, Qt::PlainText);
  EXPECT_EQ(message.icon, QMessageBox::NoIcon);

  const SeenBox error = Seen([&] { dialogs.ShowError("'<u>2030</u>' is not a valid date"); });
  EXPECT_EQ(error.text, QStringLiteral("'<u>2030</u>' is not a valid date."));
  EXPECT_EQ(error.format, Qt::PlainText);
  EXPECT_EQ(error.icon, QMessageBox::Critical);

  const SeenBox mail = Seen([&] { dialogs.ShowMailError(2); });
  EXPECT_EQ(mail.caption, QStringLiteral("Error"));
  EXPECT_EQ(mail.text, QStringLiteral("2"));
}

}  // namespace
}  // namespace ventari
