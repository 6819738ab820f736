#include "app/about.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

#include "app/product_strings.h"

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

about::about(QWidget* parent) : QWidget(parent, Qt::Window) {
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
  connect(aboutText, &QTextBrowser::anchorClicked, this,
          [](const QUrl& link) { QDesktopServices::openUrl(link); });

  closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setGeometry(246, 266, 87, 30);
  connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

  versionLabel->setText(QStringLiteral("Version ") + talkgate::app::productString("Version"));
  partNumberLabel->setText(talkgate::app::productString("Part_Number"));
}

}  // namespace dorrin_usb_encoder
