#include "tools/update_command.h"

#include "engine/locale/windows1252.h"
#include "update/catalogue.h"
#include "update/progress.h"
#include "update/restructure_database.h"

namespace strata::tools {

namespace {

// The overall bar: counts the entries.
class EntryCounter : public ProgressDisplay {
 public:
  explicit EntryCounter(std::int32_t maximum) : maximum_(maximum) {}
  std::int32_t Minimum() const override { return 0; }
  std::int32_t Maximum() const override { return maximum_; }
  void SetMaximum(std::int32_t maximum) override { maximum_ = maximum; }
  std::int32_t Position() const override { return position_; }
  void SetPosition(std::int32_t position) override {
    position_ = ClampedPosition(position, 0, maximum_);
  }
  void StepIt() override { position_ = SteppedPosition(position_, 1, 0, maximum_); }

 private:
  std::int32_t maximum_;
  std::int32_t position_ = 0;
};

// The restructure bar: prints each new percentage after the table's line.
class PercentPrinter : public ProgressDisplay {
 public:
  explicit PercentPrinter(std::ostream& out) : out_(out) {}
  std::int32_t Minimum() const override { return 0; }
  std::int32_t Maximum() const override { return 100; }
  void SetMaximum(std::int32_t) override {}
  std::int32_t Position() const override { return position_; }
  void SetPosition(std::int32_t position) override {
    position_ = ClampedPosition(position, 0, 100);
    if (lineOpen_) out_ << ' ' << position_ << '%' << std::flush;
  }
  void StepIt() override { SetPosition(SteppedPosition(position_, 1, 0, 100)); }
  void EndLine() {
    if (lineOpen_) out_ << '\n';
    lineOpen_ = false;
  }
  void StartLine() { lineOpen_ = true; }

 private:
  std::ostream& out_;
  std::int32_t position_ = 0;
  bool lineOpen_ = false;
};

// The table label: one line per table, numbered by the overall bar.
class TableLines : public TextDisplay {
 public:
  TableLines(std::ostream& out, const EntryCounter& counter, PercentPrinter& percent)
      : out_(out), counter_(counter), percent_(percent) {}
  void SetText(std::string_view text) override {
    percent_.EndLine();
    const std::string shown = Windows1252ToUtf8(text);
    if (text == "Restructure done.") {
      out_ << shown << '\n';
      return;
    }
    out_ << '[' << counter_.Position() << '/' << counter_.Maximum() << "] " << shown << std::flush;
    percent_.StartLine();
  }
  void Repaint() override {}

 private:
  std::ostream& out_;
  const EntryCounter& counter_;
  PercentPrinter& percent_;
};

}  // namespace

void RunUpdate(const std::string& directory, std::ostream& out) {
  EntryCounter overall(static_cast<std::int32_t>(Catalogue().size()));
  PercentPrinter percent(out);
  TableLines label(out, overall, percent);
  try {
    RestructureDatabase(directory, &overall, &percent, &label);
  } catch (...) {
    percent.EndLine();
    throw;
  }
  out << "Your data has been updated.  Close this\n"
         "popup and the Update Utility and you\n"
         "can start your Program.\n";
}

}  // namespace strata::tools
