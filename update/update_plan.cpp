#include "update/update_plan.h"

#include "components/default_components.h"
#include "components/strata_table.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "update/catalogue_definitions.h"

namespace strata {

namespace {

// The directory held open for reading while the plan runs: the table
// component's database for the same path shares it, so nothing the
// component does can create or change a file there.
class ReadingScope {
 public:
  ReadingScope(TDataSession& session, const std::string& directory)
      : session_(session), directory_(session.OpenDirectoryForReading(directory)) {}
  ~ReadingScope() { session_.CloseDirectory(directory_); }
  ReadingScope(const ReadingScope&) = delete;
  ReadingScope& operator=(const ReadingScope&) = delete;

 private:
  TDataSession& session_;
  TDataDirectory& directory_;
};

}  // namespace

std::vector<TablePlan> PlanDatabaseUpdate(const std::string& directory,
                                          const PlanProgress& progress, bool keepGoing) {
  DefaultSession().SetActive(true);
  ReadingScope reading(DefaultSession().DataSession(), directory);
  TStrataTable table;
  table.OnAlterProgress = [&progress](TStrataTable&, std::uint16_t percent) {
    if (progress.OnPercent) progress.OnPercent(percent);
  };
  const std::optional<std::vector<std::string>> noStopWords;
  std::vector<TablePlan> plans;
  const auto catalogue = Catalogue();
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const CatalogueEntry& entry = catalogue[i];
    if (progress.OnTable) progress.OnTable(i, entry);
    table.SetDatabaseName(directory);
    table.SetTableName(entry.FileName);
    TablePlan plan;
    plan.Entry = &entry;
    try {
      if (table.Exists()) {
        TakeCatalogueDefinitions(table, entry);
        plan.Preview = table.PreviewAlterTable(
            static_cast<std::int32_t>(entry.LocaleId), entry.UserMajorVersion, 0, false, "",
            entry.Description, kIndexPageSize, kBlobBlockSize, kNoAutoIncValue, "", noStopWords,
            "", "");
      }
    } catch (const std::exception&) {
      if (!keepGoing) throw;
      // Kept for the caller, who reports it with the other tables' plans.
      plan.Error = std::current_exception();
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

}  // namespace strata
