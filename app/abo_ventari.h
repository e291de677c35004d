#pragma once
// The about box: version and history, the logo, a link to the maker's site and a link that opens
// a mail to the author. Created hidden at start-up, shown modally on F1 in the main window.

#include <QDialog>
#include <QUrl>

#include <functional>

class QByteArray;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ventari {

class Dialogs;
class Mailer;

// What the box says and where its links lead.
inline constexpr const char* kMakerName = "L'Atelier Ventari";
inline constexpr const char* kMakerSite = "https://atelier-ventari.example.org/";
inline constexpr const char* kAuthorName = "Tavrin";
inline constexpr const char* kAuthorAddress = "tavrin@atelier-ventari.example.org";
inline constexpr const char* kMailSubject = "au sujet de Ventari v 1.3 du 30/07/2002";

class TAPropos : public QDialog {
  Q_OBJECT

 public:
  // Opens a web address; the desktop's own by default. Its result is not looked at.
  using UrlOpener = std::function<void(const QUrl&)>;

  TAPropos(Mailer& mailer, Dialogs& dialogs, QWidget* parent = nullptr,
           UrlOpener openUrl = DesktopOpener());
  ~TAPropos() override;

  static UrlOpener DesktopOpener();

  // Shows the picture held in these JPEG bytes in Image1, or an empty picture when they cannot
  // be decoded. The constructor loads the built-in logo.
  void LoadLogo(const QByteArray& jpegBytes);

  // Event handlers, named after the control and the event.
  void Image1Click();  // also Label5's click: the maker's site
  void Label7Click();  // compose a mail to the author
  void Panel1MouseMove();
  void FormMouseMove();
  void Button1Click();

  QPlainTextEdit* Memo1 = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QPushButton* Button1 = nullptr;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QLabel* MakeLink(const char* text, int left, int top);
  template <typename Handler>
  void Guarded(Handler&& handler);
  void SetHandCursor(bool hand);
  void KeepAboveCaller();
  void FitFrame();

  Mailer& m_mailer;
  Dialogs& m_dialogs;
  UrlOpener m_openUrl;
  bool m_handCursor = false;  // our override cursor is on the application's stack
  bool m_frameFitted = false;
};

}  // namespace ventari
