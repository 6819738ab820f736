#include "ui/unit_picture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <optional>

namespace talkgate::ui {
namespace {

const QString kPictureName = QStringLiteral("Lumesk.jpg");
std::optional<QStringList> g_fallbackFolders;

QStringList defaultFallbackFolders() {
  const QDir programDir(QCoreApplication::applicationDirPath());
  return {programDir.path(),
          QDir::cleanPath(programDir.filePath(QStringLiteral("../share/talkgate-utility")))};
}

}  // namespace

QString unitPicturePath() {
  const QString current = QDir::current().filePath(kPictureName);
  if (QFileInfo::exists(current)) return current;
  for (const QString& folder : g_fallbackFolders.value_or(defaultFallbackFolders())) {
    const QString candidate = QDir(folder).filePath(kPictureName);
    if (QFileInfo::exists(candidate)) return candidate;
  }
  return current;
}

void setUnitPictureFallbackFolders(const QStringList& folders) {
  g_fallbackFolders = folders;
}

void resetUnitPictureFallbackFolders() {
  g_fallbackFolders.reset();
}

void showPicture(QLabel* box, const QString& path) {
  QPixmap picture;
  if (!picture.load(path)) {
    box->clear();
    return;
  }
  box->setPixmap(picture.scaled(box->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace talkgate::ui
