#include "update/restructure_database.h"

#include <optional>
#include <vector>

#include "components/default_components.h"
#include "components/strata_table.h"
#include "update/catalogue.h"
#include "update/catalogue_definitions.h"
#include "update/progress_handler.h"
#include "update/run_folder.h"

namespace strata {

namespace {

void ShowText(TextDisplay* label, std::string_view text) {
  if (label == nullptr) return;
  label->SetText(text);
  label->Repaint();
}

}  // namespace

void RestructureDatabase(const std::string& directory, ProgressDisplay* overallBar,
                         ProgressDisplay* restructureBar, TextDisplay* tableLabel) {
  RunDatabaseUpdate(directory, overallBar, restructureBar, tableLabel, false);
}

void RunDatabaseUpdate(const std::string& directory, ProgressDisplay* overallBar,
                       ProgressDisplay* restructureBar, TextDisplay* tableLabel,
                       bool suppressBackups) {
  DefaultSession().SetActive(true);
  {
    const RunFolder folder(directory);
    TProgressHandler handler(restructureBar);
    TStrataTable table;
    table.OnAlterProgress = [&handler](TStrataTable& sender, std::uint16_t percentDone) {
      handler.AlterProgress(&sender, percentDone);
    };
    if (overallBar != nullptr) overallBar->StepIt();

    const auto catalogue = Catalogue();
    const std::optional<std::vector<std::string>> noStopWords;
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
      const CatalogueEntry& entry = catalogue[i];
      ShowText(tableLabel, entry.FileName);
      table.SetDatabaseName(directory);
      table.SetTableName(entry.FileName);
      table.SetExclusive(true);
      if (!table.Exists()) {
        // Created with whatever definitions the component holds now; the
        // restructure below gives the table its own.
        table.CreateTable(0, 1, 0, false, "", "", kIndexPageSize, kBlobBlockSize,
                          kNoAutoIncValue, "", noStopWords, "", "");
      }
      TakeCatalogueDefinitions(table, entry);
      table.AlterTable(static_cast<std::int32_t>(entry.LocaleId), entry.UserMajorVersion, 0,
                       false, "", entry.Description, kIndexPageSize, kBlobBlockSize,
                       kNoAutoIncValue, "", noStopWords, "", "", suppressBackups);
      if (i + 1 < catalogue.size() && overallBar != nullptr) overallBar->StepIt();
    }
  }
  ShowText(tableLabel, "Restructure done.");
  if (overallBar != nullptr) overallBar->SetPosition(0);
  if (restructureBar != nullptr) restructureBar->SetPosition(0);
}

}  // namespace strata
