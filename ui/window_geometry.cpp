#include "ui/window_geometry.h"

#include <QRect>
#include <QWidget>

namespace talkgate::ui {

QSize sizeShowingEveryControl(const QWidget& window, int margin) {
  const QRect controls = window.childrenRect();
  return {controls.right() + 1 + margin, controls.bottom() + 1 + margin};
}

void keepEveryControlInView(QWidget& window) {
  window.setMinimumSize(window.minimumSize().expandedTo(sizeShowingEveryControl(window)));
}

}  // namespace talkgate::ui
