// The displays the update run drives: the overall and the restructure
// progress bars, and the label that names the table in work. The window
// implements them with its own controls; the run only sees these
// interfaces, and any of them may be absent (a null pointer).
//
// A bar has a range [Minimum, Maximum] and a position inside it. Setting a
// position outside the range clamps it to the nearer end. StepIt advances
// the position by the bar's step (1 unless said otherwise) with the wrap of
// the progress-bar control the design was made for: a step that would pass
// the maximum starts the bar over at its minimum (for a 0..63 bar standing
// at 63, one step gives 0), and a negative step that would pass the minimum
// starts it over at the maximum. Every change is shown at once, because the
// run does not return to the window's event loop until it ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace strata {

class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;

  virtual std::int32_t Minimum() const = 0;
  virtual std::int32_t Maximum() const = 0;
  // A new maximum below the position moves the position down to it.
  virtual void SetMaximum(std::int32_t maximum) = 0;
  virtual std::int32_t Position() const = 0;
  virtual void SetPosition(std::int32_t position) = 0;
  virtual void StepIt() = 0;
};

// The text display that names the table in work.
class TextDisplay {
 public:
  virtual ~TextDisplay() = default;

  // `text` is Windows-1252, like every table text.
  virtual void SetText(std::string_view text) = 0;
  // Redraws the display at once.
  virtual void Repaint() = 0;
};

// The position after a step of `step` from `position` in [minimum, maximum].
constexpr std::int32_t SteppedPosition(std::int32_t position, std::int32_t step,
                                       std::int32_t minimum, std::int32_t maximum) {
  const std::int64_t next = std::int64_t{position} + step;
  if (next > maximum) return minimum;
  if (next < minimum) return maximum;
  return static_cast<std::int32_t>(next);
}

constexpr std::int32_t ClampedPosition(std::int32_t position, std::int32_t minimum,
                                       std::int32_t maximum) {
  return std::clamp(position, minimum, std::max(minimum, maximum));
}

// A bar without a display, from 0 to its maximum, under the rules above:
// the command-line tool counts with it, and a subclass that shows the
// position overrides SetPosition (StepIt goes through it).
class ProgressCounter : public ProgressDisplay {
 public:
  explicit ProgressCounter(std::int32_t maximum) : maximum_(maximum) {}
  std::int32_t Minimum() const override { return 0; }
  std::int32_t Maximum() const override { return maximum_; }
  void SetMaximum(std::int32_t maximum) override {
    maximum_ = maximum;
    position_ = ClampedPosition(position_, 0, maximum_);
  }
  std::int32_t Position() const override { return position_; }
  void SetPosition(std::int32_t position) override {
    position_ = ClampedPosition(position, 0, maximum_);
  }
  void StepIt() override { SetPosition(SteppedPosition(position_, 1, 0, maximum_)); }

 private:
  std::int32_t maximum_;
  std::int32_t position_ = 0;
};

}  // namespace strata
