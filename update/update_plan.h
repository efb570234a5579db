// PlanDatabaseUpdate: what the update run would do to each catalogue table
// of a directory, worked out without writing anything. Each table present
// is previewed through the table component exactly as the run restructures
// it (the same definitions and arguments, the level decided by the same
// engine code); a missing table is one the run creates. The directory is
// opened for reading only: no file of it changes and no lock file appears.
// The first error (a damaged table, a table another program holds
// exclusively) is raised unchanged, unless the plan is asked to go on.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/schema/restructure_preview.h"
#include "update/catalogue.h"

namespace strata {

struct TablePlan {
  const CatalogueEntry* Entry = nullptr;
  // None: the table is missing and the run creates it, or (with Error) it
  // could not be previewed.
  std::optional<RestructurePreview> Preview;
  // Why the table could not be previewed, when the plan goes on past such
  // tables.
  std::exception_ptr Error;
};

// Called before each table with its entry, and with the table's progress
// in whole percent while it is read.
struct PlanProgress {
  std::function<void(std::size_t index, const CatalogueEntry& entry)> OnTable;
  std::function<void(std::uint16_t percent)> OnPercent;
};

// keepGoing: a table that cannot be previewed gets its error in its plan
// and the plan goes on with the next (the update itself would stop there);
// otherwise the first error is raised.
std::vector<TablePlan> PlanDatabaseUpdate(const std::string& directory,
                                          const PlanProgress& progress = {},
                                          bool keepGoing = false);

}  // namespace strata
