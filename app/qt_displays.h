// The window's controls seen through the update run's display interfaces:
// a QProgressBar as a ProgressDisplay and a QLabel as a TextDisplay. Both
// hold a pointer to a control owned by the window and redraw it at once on
// every change, since the run keeps the event loop waiting until it ends.
#pragma once

#include <QLabel>
#include <QProgressBar>

#include "update/progress.h"

namespace strata {

class QtProgressDisplay : public ProgressDisplay {
 public:
  explicit QtProgressDisplay(QProgressBar* bar, std::int32_t step = 1) : bar_(bar), step_(step) {}

  std::int32_t Minimum() const override { return bar_->minimum(); }
  std::int32_t Maximum() const override { return bar_->maximum(); }
  void SetMaximum(std::int32_t maximum) override;
  std::int32_t Position() const override { return bar_->value(); }
  void SetPosition(std::int32_t position) override;
  void StepIt() override;

 private:
  QProgressBar* bar_;
  std::int32_t step_;
};

class QtLabelDisplay : public TextDisplay {
 public:
  explicit QtLabelDisplay(QLabel* label) : label_(label) {}

  // Converts the Windows-1252 text for display.
  void SetText(std::string_view text) override;
  void Repaint() override { label_->repaint(); }

 private:
  QLabel* label_;
};

}  // namespace strata
