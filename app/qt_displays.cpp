#include "app/qt_displays.h"

#include "engine/locale/windows1252.h"

namespace strata {

// QProgressBar forgets its position (to minimum - 1) when the range no
// longer holds it, and ignores positions outside the range; the display
// clamps instead, as the bars of the design do. The bar paints a change
// itself only when it deems it large enough; the display always repaints.
void QtProgressDisplay::SetMaximum(std::int32_t maximum) {
  const std::int32_t position = ClampedPosition(Position(), Minimum(), maximum);
  bar_->setRange(Minimum(), std::max(Minimum(), maximum));
  bar_->setValue(position);
  bar_->repaint();
}

void QtProgressDisplay::SetPosition(std::int32_t position) {
  bar_->setValue(ClampedPosition(position, Minimum(), Maximum()));
  bar_->repaint();
}

void QtProgressDisplay::StepIt() {
  bar_->setValue(SteppedPosition(Position(), step_, Minimum(), Maximum()));
  bar_->repaint();
}

void QtLabelDisplay::SetText(std::string_view text) {
  label_->setText(QString::fromStdString(Windows1252ToUtf8(text)));
}

}  // namespace strata
