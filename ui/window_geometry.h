#pragma once
// Sizes that keep a window's controls in view.

#include <QSize>

class QWidget;

namespace talkgate::ui {

// The least client size at which every control of window is whole, with margin pixels to
// spare on the right and at the bottom.
QSize sizeShowingEveryControl(const QWidget& window, int margin = 10);

// Raises window's minimum size, where it is smaller, to sizeShowingEveryControl: a window made
// as small as it allows never cuts one of its buttons.
void keepEveryControlInView(QWidget& window);

}  // namespace talkgate::ui
