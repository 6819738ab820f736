#include "app/about.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

#include "app/product_strings.h"
#include "ui/dialogs.h"

namespace dorrin_usb_encoder {
namespace {

constexpr QSize kClientSize(345, 308);
const QString kOwnershipNotice = QStringLiteral("\u00A9 Velkor Ltd. All rights reserved.");
const QString kWebAddress = QStringLiteral("https://www.velkor.example/talkgate");
const QString kSupportAddress = QStringLiteral("support@velkor.example");

QString aboutHtml() {
  const auto line = [](const QString& text) { return text.toHtmlEscaped() + "<br>"; };
  return line(QStringLiteral("This software works with Velkor's Talkgate.")) +
         line(kOwnershipNotice) +
         line(QStringLiteral("For more information visit Velkor's Website:")) +
         QStringLiteral("<br>") +
         QStringLiteral("<a href=\"%1\">%1</a><br>").arg(kWebAddress.toHtmlEscaped()) +
         QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(kSupportAddress.toHtmlEscaped());
}

}  // namespace

about::about(QWidget* parent)
    // A dialog-type window, so that the window manager keeps it in front of its owner; a fixed
    // size, and a close box beside its own "Close".
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("about"));
  setWindowTitle(QStringLiteral("About Talkgate Configuration Utility"));
  setWindowIcon(QIcon());
  setFixedSize(kClientSize);

  headingLabel = new QLabel(QStringLiteral("USB Talkgate Configuration Utility"), this);
  QFont heading = headingLabel->font();
  heading.setBold(true);
  heading.setPointSize(heading.pointSize() + 2);
  headingLabel->setFont(heading);
  headingLabel->setGeometry(12, 10, 321, 26);

  pictureBox = new QLabel(this);
  pictureBox->setPixmap(QPixmap(QStringLiteral(":/pictures/about_logo.png")));
  pictureBox->setGeometry(12, 44, 115, 55);

  versionLabel = new QLabel(this);
  versionLabel->setGeometry(140, 46, 193, 22);
  partNoLabel = new QLabel(QStringLiteral("Part No "), this);
  partNoLabel->setGeometry(140, 72, 60, 22);
  partNumberLabel = new QLabel(this);
  partNumberLabel->setGeometry(200, 72, 133, 22);

  ownershipLabel = new QLabel(kOwnershipNotice, this);
  ownershipLabel->setGeometry(12, 108, 321, 22);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(12, 134, 321, 4);

  aboutText = new QTextBrowser(this);
  aboutText->setGeometry(15, 146, 314, 91);
  aboutText->setOpenLinks(false);
  // Six short lines fit the box without a scroll bar.
  aboutText->document()->setDocumentMargin(2);
  QFont small = aboutText->font();
  small.setPointSizeF(small.pointSizeF() - 1);
  aboutText->setFont(small);
  aboutText->setHtml(aboutHtml());
  // The link goes to the desktop's own browser or mail program.
  connect(aboutText, &QTextBrowser::anchorClicked, this, &about::openLink);

  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setGeometry(246, 266, 87, 30);
  connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

  versionLabel->setText(QStringLiteral("Version ") + talkgate::app::productString("Version"));
  partNumberLabel->setText(talkgate::app::productString("Part_Number"));
}

void about::openLink(const QUrl& link) {
  const bool opened = linkOpener ? linkOpener(link) : QDesktopServices::openUrl(link);
  if (opened) return;
  // Nothing on this desktop handles the link: the operator gets the address to use elsewhere.
  const bool mail = link.scheme() == QLatin1String("mailto");
  const QString address = mail ? link.path() : link.toString();
  QGuiApplication::clipboard()->setText(address);
  const QString text =
      (mail ? QStringLiteral("No mail program could be opened.")
            : QStringLiteral("No web browser could be opened.")) +
      QStringLiteral(" The address %1 has been copied to the clipboard.\n").arg(address);
  talkgate::ui::dialogs().message(this, text, windowTitle(), talkgate::ui::Buttons::Ok,
                                  talkgate::ui::Icon::Information);
}

}  // namespace dorrin_usb_encoder
