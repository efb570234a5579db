#include "tools/update_command.h"

#include <vector>

#include "engine/locale/windows1252.h"
#include "tools/progress_line.h"
#include "tools/update_plan_output.h"
#include "update/catalogue.h"
#include "update/progress.h"
#include "update/restructure_database.h"
#include "update/run_folder.h"
#include "update/update_plan.h"

namespace strata::tools {

namespace {

// The restructure bar and the table label of the window on one terminal
// line: "[k/63] <table> <percent>%".
class TerminalProgress : public ProgressCounter, public TextDisplay {
 public:
  TerminalProgress(std::ostream* terminal, const ProgressCounter& overall)
      : ProgressCounter(100), line_(terminal), overall_(overall) {}
  void SetPosition(std::int32_t position) override {
    ProgressCounter::SetPosition(position);
    Show();
  }
  void SetText(std::string_view text) override {
    // The run's last label: the line is blanked instead.
    done_ = text == "Restructure done.";
    table_ = Windows1252ToUtf8(text);
    ProgressCounter::SetPosition(0);
    Show();
  }
  void Repaint() override {}
  void Clear() { line_.Clear(); }

 private:
  void Show() {
    if (done_) return;
    line_.Show('[' + std::to_string(overall_.Position()) + '/' +
                   std::to_string(overall_.Maximum()) + "] " + table_,
               static_cast<std::uint16_t>(Position()));
  }

  ProgressLine line_;
  const ProgressCounter& overall_;
  std::string table_;
  bool done_ = false;
};

}  // namespace

void RunUpdate(const std::string& directory, bool suppressBackups, std::ostream& out,
               std::ostream* progress) {
  // What each table loses, counted as the dry run counts it, on the tables
  // as the run will find them: with every interrupted change recovered.
  { const RunFolder recovered(directory); }
  ProgressLine previewLine(progress);
  std::string previewed;
  PlanProgress planProgress;
  planProgress.OnTable = [&](std::size_t, const CatalogueEntry& entry) {
    previewed = "reading " + std::string(entry.FileName);
  };
  planProgress.OnPercent = [&](std::uint16_t percent) { previewLine.Show(previewed, percent); };
  const std::vector<TablePlan> plans = PlanDatabaseUpdate(directory, planProgress);
  previewLine.Clear();

  ProgressCounter overall(static_cast<std::int32_t>(Catalogue().size()));
  TerminalProgress display(progress, overall);
  RunDatabaseUpdate(directory, &overall, &display, &display, suppressBackups);
  display.Clear();
  PrintPlanLosses(plans, out);
  out << "Your data has been updated. You can start your program.\n";
}

}  // namespace strata::tools
