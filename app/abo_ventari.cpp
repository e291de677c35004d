#include "app/abo_ventari.h"
#include "app/design_font.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "app/jpeg_image.h"
#include "app/program_icon.h"
#include "mail/mailer.h"
#include "platform/dialogs.h"
#include "platform/files.h"

// The logo lives in this library's resources; a static library must register them itself.
static void RegisterAboutResources() { Q_INIT_RESOURCE(about); }

namespace ventari {

namespace {

constexpr int kLeft = 202;
constexpr int kTop = 295;
constexpr int kOuterWidth = 485;
constexpr int kOuterHeight = 215;
constexpr int kLabelHeight = 13;
constexpr int kLinksTop = 175;
constexpr int kEtLeft = 184;
constexpr int kAuthorLeft = 202;

const char* const kLogoResource = ":/ventari/logo.jpg";

// The version text, line by line, as the program has always shown it.
const char* const kMemoLines[] = {
    "Ventari.exe",
    "",
    "v. 1.3 du 30/07/2002",
    "",
    "Historique :",
    "1.0 du 07/03/2002 : création",
    "1.1 du 11/03/2002 : ajout génération forcée et avertissement ",
    "sinon, BUGFIX, this about screen on F1, etc",
    "1.11 du 14/03/2002 : BUGFIX : added use of repJeu for handling ",
    "different games",
    "1.2 du 27/03/2002 : BUGFIX : erreur après SendEmail(\"géné ",
    "manuelle prête\")",
    "1.3 du 30/07/2002 : ajout liens HTTP/@mail en About, ajout son ",
    "lorsque prêt à générer",
    "",
};

void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

QString MemoText() {
  // One line per entry; the last entry is empty, so the text ends with a line break.
  QStringList lines;
  for (const char* line : kMemoLines) lines << QString::fromUtf8(line);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

QIcon ProgramIcon() {
  RegisterAboutResources();
  QFile logo(QString::fromLatin1(kLogoResource));
  const std::optional<QImage> image =
      DecodeJpeg(logo.open(QIODevice::ReadOnly) ? logo.readAll() : QByteArray());
  return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

TAPropos::TAPropos(Mailer& mailer, Dialogs& dialogs, QWidget* parent, UrlOpener openUrl)
    : QDialog(parent), m_mailer(mailer), m_dialogs(dialogs), m_openUrl(std::move(openUrl)) {
  RegisterAboutResources();
  setObjectName(QStringLiteral("APropos"));
  setWindowTitle(QStringLiteral("A propos"));
  setWindowIcon(ProgramIcon());
  setFont(DesignFont());
  setAutoFillBackground(true);
  SetColour(this, QPalette::Window, QPalette().color(QPalette::Button));
  setMouseTracking(true);
  // Without a frame the client area is the whole box; once the window manager has framed it,
  // FitFrame shrinks the client so that the outer size is the design's.
  setGeometry(kLeft, kTop, kOuterWidth, kOuterHeight);
  move(kLeft, kTop);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 8, 321, 169);
  Memo1->setReadOnly(true);
  Memo1->setPlainText(MemoText());

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(344, 6, 121, 113);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(1);
  Panel1->setAutoFillBackground(true);
  SetColour(Panel1, QPalette::Window, QColor(0xff, 0x00, 0xff));
  Panel1->setMouseTracking(true);
  Panel1->installEventFilter(this);
  auto* caption = new QLabel(QStringLiteral("Panel1"), Panel1);
  caption->setAlignment(Qt::AlignCenter);
  caption->setGeometry(Panel1->rect());
  // Drawn on the panel: the panel, not its caption, sees the mouse.
  caption->setAttribute(Qt::WA_TransparentForMouseEvents);

  Image1 = new QLabel(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(9, 8, 105, 97);
  Image1->installEventFilter(this);

  Label6 = new QLabel(QStringLiteral("et"), this);
  Label6->setTextFormat(Qt::PlainText);
  Label6->setObjectName(QStringLiteral("Label6"));
  Label6->move(kEtLeft, kLinksTop);
  Label6->adjustSize();
  Label6->setFixedHeight(kLabelHeight);

  Label7 = MakeLink(kAuthorName, kAuthorLeft, kLinksTop);
  Label7->setObjectName(QStringLiteral("Label7"));

  // The maker's link ends as far left of "et" as "Tavrin" starts right of it.
  Label5 = MakeLink(kMakerName, 0, kLinksTop);
  Label5->setObjectName(QStringLiteral("Label5"));
  const int gap = std::max(3, kAuthorLeft - (kEtLeft + Label6->width()));
  Label5->move(kEtLeft - gap - Label5->width(), kLinksTop);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  QFont bold = DesignFont();
  bold.setBold(true);
  bold.setPixelSize(19);
  Button1->setFont(bold);
  Button1->setGeometry(384, 136, 65, 41);
  connect(Button1, &QPushButton::clicked, this, &TAPropos::Button1Click);

  QFile logo(QString::fromLatin1(kLogoResource));
  LoadLogo(logo.open(QIODevice::ReadOnly) ? logo.readAll() : QByteArray());
}

TAPropos::~TAPropos() { SetHandCursor(false); }

TAPropos::UrlOpener TAPropos::DesktopOpener() {
  return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

QLabel* TAPropos::MakeLink(const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  label->setTextFormat(Qt::PlainText);
  SetColour(label, QPalette::WindowText, QColor(0x80, 0x00, 0x80));
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  label->move(left, top);
  label->adjustSize();
  label->setFixedHeight(kLabelHeight);
  label->installEventFilter(this);
  return label;
}

void TAPropos::LoadLogo(const QByteArray& jpegBytes) {
  const std::optional<QImage> image = DecodeJpeg(jpegBytes);
  if (image)
    Image1->setPixmap(QPixmap::fromImage(*image));
  else
    Image1->clear();
}

template <typename Handler>
void TAPropos::Guarded(Handler&& handler) {
  // As the application's default handler: show the error, the box stays open.
  try {
    handler();
  } catch (const std::exception& error) {
    m_dialogs.ShowError(error.what());
  }
}

void TAPropos::Image1Click() { m_openUrl(QUrl(QString::fromLatin1(kMakerSite))); }

void TAPropos::Label7Click() {
  Guarded([this] {
    // The mail client may change the working folder; the robot's files are found through it.
    const std::string saved = GetCurrentDir();
    try {
      m_mailer.ComposeEmail(kAuthorName, kAuthorAddress, kMailSubject, std::nullopt);
    } catch (...) {
      SetCurrentDir(saved);
      throw;
    }
    SetCurrentDir(saved);
  });
}

void TAPropos::Panel1MouseMove() { SetHandCursor(true); }

void TAPropos::FormMouseMove() { SetHandCursor(false); }

void TAPropos::Button1Click() { accept(); }

void TAPropos::keyPressEvent(QKeyEvent* event) {
  // Only the OK button closes the box; a dialog would otherwise close itself on Escape.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TAPropos::SetHandCursor(bool hand) {
  // One entry of ours at most on the application's override stack.
  if (hand == m_handCursor) return;
  if (hand)
    QGuiApplication::setOverrideCursor(QCursor(Qt::PointingHandCursor));
  else
    QGuiApplication::restoreOverrideCursor();
  m_handCursor = hand;
}

void TAPropos::KeepAboveCaller() {
  // The box belongs to the application, not to a window; tied to the window that opens it, it
  // is kept by the window manager above that always-on-top window, which it blocks.
  QWindow* window = windowHandle();
  QWidget* caller = QApplication::activeWindow();
  if (window && caller && caller != this && caller->windowHandle())
    window->setTransientParent(caller->windowHandle());
}

void TAPropos::FitFrame() {
  if (m_frameFitted || !isVisible()) return;
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  if (frame == client) return;  // not framed (yet)
  m_frameFitted = true;
  resize(kOuterWidth - (frame.width() - client.width()),
         kOuterHeight - (frame.height() - client.height()));
}

bool TAPropos::event(QEvent* event) {
  if (event->type() == QEvent::Show) KeepAboveCaller();
  const bool handled = QDialog::event(event);
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
      FitFrame();
      break;
    default:
      break;
  }
  return handled;
}

bool TAPropos::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel1 && event->type() == QEvent::MouseMove) {
    Panel1MouseMove();
    // Handled here: passed on, the move would reach the box's background and undo the hand.
    event->accept();
    return true;
  }
  if (event->type() == QEvent::MouseButtonRelease) {
    // A click: the left button released over the control it was pressed on.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (mouse->button() == Qt::LeftButton && widget &&
        widget->rect().contains(mouse->position().toPoint())) {
      if (watched == Image1 || watched == Label5) Image1Click();
      if (watched == Label7) Label7Click();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TAPropos::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove();
  QDialog::mouseMoveEvent(event);
}

void TAPropos::hideEvent(QHideEvent* event) {
  // The hand belongs to the box: closing it with the mouse still over the picture must not
  // leave the whole application with a hand cursor.
  SetHandCursor(false);
  QDialog::hideEvent(event);
}

}  // namespace ventari
