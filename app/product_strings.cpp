#include "app/product_strings.h"

#include <QFile>

namespace talkgate::app {

QString productString(const QString& name) {
  QFile file(QStringLiteral(":/product_strings/") + name);
  if (name.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace talkgate::app
