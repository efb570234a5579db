#include "tools/update_command.h"

#include "engine/locale/windows1252.h"
#include "update/catalogue.h"
#include "update/progress.h"
#include "update/restructure_database.h"

namespace strata::tools {

namespace {

// The restructure bar: prints each new percentage after the table's line.
class PercentPrinter : public ProgressCounter {
 public:
  explicit PercentPrinter(std::ostream& out) : ProgressCounter(100), out_(out) {}
  void SetPosition(std::int32_t position) override {
    ProgressCounter::SetPosition(position);
    if (lineOpen_) out_ << ' ' << Position() << '%' << std::flush;
  }
  void EndLine() {
    if (lineOpen_) out_ << '\n';
    lineOpen_ = false;
  }
  void StartLine() { lineOpen_ = true; }

 private:
  std::ostream& out_;
  bool lineOpen_ = false;
};

// The table label: one line per table, numbered by the overall bar.
class TableLines : public TextDisplay {
 public:
  TableLines(std::ostream& out, const ProgressCounter& counter, PercentPrinter& percent)
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
  const ProgressCounter& counter_;
  PercentPrinter& percent_;
};

}  // namespace

void RunUpdate(const std::string& directory, std::ostream& out) {
  ProgressCounter overall(static_cast<std::int32_t>(Catalogue().size()));
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
