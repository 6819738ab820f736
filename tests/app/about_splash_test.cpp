// The About window opened from the main window, the product strings and the splash window.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include "app/about.h"
#include "app/product_strings.h"
#include "app/splash.h"
#include "tests/app/app_fixture.h"
#include "ui/dialogs.h"
#include "ui/scripted_dialogs.h"

using dorrin_usb_encoder::about;
using dorrin_usb_encoder::Form1;
using dorrin_usb_encoder::velkor_splash_form;

namespace {

QList<about*> openAboutWindows() {
  QList<about*> found;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<about*>(top); window && window->isVisible()) {
      found << window;
    }
  }
  return found;
}

}  // namespace

class AboutSplashTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }
  void cleanup() {
    for (about* window : openAboutWindows()) delete window;
  }

  void productStringsAreReadByName();
  void aboutTwiceGivesTwoWindowsAtTheMainWindowsPlace();
  void aboutShowsVersionPartNumberAndLinks();
  void splashHasItsSizePictureAndClosesOnFirstTick();
  void aLinkNothingOpensIsCopiedAndShown_data();
  void aLinkNothingOpensIsCopiedAndShown();
  void aShortMessageBoxHasRoomForItsCaption();

 private:
  QTemporaryDir userFolder_;
};

void AboutSplashTest::productStringsAreReadByName() {
  QCOMPARE(talkgate::app::productString("Version"), QString("2.1"));
  QCOMPARE(talkgate::app::productString("Part_Number"), QString("Talkgate Sensor"));
  QVERIFY(talkgate::app::productString("NoSuchString").isEmpty());
  QVERIFY(talkgate::app::productString("").isEmpty());
}

void AboutSplashTest::aboutTwiceGivesTwoWindowsAtTheMainWindowsPlace() {
  apptest::Desk desk;
  Form1& w = desk.start();
  w.move(137, 91);
  w.aboutAction->trigger();
  w.aboutAction->trigger();

  const QList<about*> windows = openAboutWindows();
  QCOMPARE(windows.size(), 2);
  QVERIFY(windows[0] != windows[1]);
  for (about* window : windows) {
    QCOMPARE(window->pos(), w.pos());
    QVERIFY(!window->isModal());
  }
  QVERIFY(w.isVisible());
}

void AboutSplashTest::aboutShowsVersionPartNumberAndLinks() {
  about window;
  QCOMPARE(window.windowTitle(), QString("About Talkgate Configuration Utility"));
  QCOMPARE(window.size(), QSize(345, 308));
  QCOMPARE(window.minimumSize(), window.maximumSize());
  QVERIFY(window.windowIcon().isNull());
  QCOMPARE(window.headingLabel->text(), QString("USB Talkgate Configuration Utility"));
  QCOMPARE(window.versionLabel->text(), QString("Version 2.1"));
  QCOMPARE(window.partNoLabel->text(), QString("Part No "));
  QCOMPARE(window.partNumberLabel->text(), QString("Talkgate Sensor"));
  QCOMPARE(window.pictureBox->size(), QSize(115, 55));
  QVERIFY(!window.pictureBox->pixmap().isNull());
  QCOMPARE(window.aboutText->size(), QSize(314, 91));
  QCOMPARE(window.closeButton->text(), QString("Close"));

  const QStringList lines = window.aboutText->toPlainText().split('\n');
  QCOMPARE(lines.size(), 6);
  QCOMPARE(lines[0], QString("This software works with Velkor's Talkgate."));
  QCOMPARE(lines[1], window.ownershipLabel->text());
  QCOMPARE(lines[2], QString("For more information visit Velkor's Website:"));
  QVERIFY(lines[3].isEmpty());
  // The web and e-mail addresses are links the desktop opens, not pages the box follows.
  const QString html = window.aboutText->toHtml();
  QVERIFY(html.contains("href=\"" + lines[4] + "\""));
  QVERIFY(html.contains("href=\"mailto:" + lines[5] + "\""));
  QVERIFY(!window.aboutText->openLinks());
}

void AboutSplashTest::splashHasItsSizePictureAndClosesOnFirstTick() {
  velkor_splash_form splash;
  QCOMPARE(splash.size(), QSize(722, 415));
  QCOMPARE(splash.minimumSize(), splash.maximumSize());
  QVERIFY(splash.windowTitle().isEmpty());
  QVERIFY(!(splash.windowFlags() & Qt::WindowTitleHint));
  QVERIFY(!(splash.windowFlags() & Qt::WindowCloseButtonHint));
  QCOMPARE(splash.pictureBox->geometry(), QRect(-2, -15, 720, 406));
  QVERIFY(!splash.pictureBox->pixmap().isNull());
  QCOMPARE(splash.pictureBox->pixmap().size(), QSize(720, 406));
  QVERIFY(splash.closeTimer->isActive());
  QCOMPARE(splash.closeTimer->interval(), 3000);

  splash.show();
  QVERIFY(splash.isVisible());
  // The timer's first tick, without waiting three seconds for it.
  QVERIFY(QMetaObject::invokeMethod(splash.closeTimer, "timeout"));
  QVERIFY(!splash.isVisible());
}

void AboutSplashTest::aLinkNothingOpensIsCopiedAndShown_data() {
  QTest::addColumn<int>("line");  // of the About text
  QTest::addColumn<bool>("opens");
  QTest::addColumn<QString>("shown");  // the message's start; empty: no message
  QTest::newRow("mail, no mail program") << 5 << false << "No mail program could be opened.";
  QTest::newRow("web, no browser") << 4 << false << "No web browser could be opened.";
  QTest::newRow("mail program opens it") << 5 << true << "";
}

void AboutSplashTest::aLinkNothingOpensIsCopiedAndShown() {
  QFETCH(int, line);
  QFETCH(bool, opens);
  QFETCH(QString, shown);
  talkgate::ui::ScriptedDialogs dialogs;
  talkgate::ui::ScopedDialogs scoped(dialogs);
  QList<QUrl> handed;
  about::linkOpener = [&](const QUrl& url) {
    handed << url;
    return opens;
  };
  about window;
  QGuiApplication::clipboard()->clear();
  const QString address = window.aboutText->toPlainText().split('\n').value(line);
  const QUrl link(line == 5 ? "mailto:" + address : address);
  emit window.aboutText->anchorClicked(link);
  about::linkOpener = nullptr;

  QCOMPARE(handed, QList<QUrl>{link});
  if (shown.isEmpty()) {
    QVERIFY(dialogs.messages.isEmpty());
    QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
    return;
  }
  // The operator learns the address, and has it to paste elsewhere.
  QCOMPARE(dialogs.messages.size(), 1);
  QVERIFY(dialogs.messages[0].text.startsWith(shown));
  QVERIFY(dialogs.messages[0].text.contains(address));
  QCOMPARE(QGuiApplication::clipboard()->text(), address);
}

void AboutSplashTest::aShortMessageBoxHasRoomForItsCaption() {
  // A real box: its width is what the title bar gets. The caption, in a bold title font, and
  // a window manager's icon and three buttons with their spacing (about 30 pixels each) must
  // fit: openbox cut "Velkor Talkgate" in a box of 188 pixels.
  int width = 0;
  QString caption;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    width = box->width();
    caption = box->windowTitle();
    box->accept();
  });
  talkgate::ui::dialogs().message(nullptr, "Please Click on Scan for.\n", "Velkor Talkgate",
                                  talkgate::ui::Buttons::Ok, talkgate::ui::Icon::Warning);
  QCOMPARE(caption, QString("Velkor Talkgate"));
  QFont title = QApplication::font();
  title.setBold(true);
  QVERIFY2(width >= QFontMetrics(title).horizontalAdvance(caption) + 4 * 30,
           qPrintable(QString::number(width)));
}

QTEST_MAIN(AboutSplashTest)
#include "about_splash_test.moc"
