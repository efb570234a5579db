// PlanDatabaseUpdate: what the update run would do to each catalogue table
// of a directory, worked out without writing anything. Each table present
// is previewed through the table component exactly as the run restructures
// it (the same definitions and arguments, the level decided by the same
// engine code); a missing table is one the run creates. The directory is
// opened for reading only: no file of it changes and no lock file appears.
// The first error (a damaged table, a table another program holds
// exclusively) is raised unchanged.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/schema/restructure_preview.h"
#include "update/catalogue.h"

namespace strata {

struct TablePlan {
  const CatalogueEntry* Entry = nullptr;
  // None: the table is missing and the run creates it.
  std::optional<RestructurePreview> Preview;
};

// Called before each table with its entry, and with the table's progress
// in whole percent while it is read.
struct PlanProgress {
  std::function<void(std::size_t index, const CatalogueEntry& entry)> OnTable;
  std::function<void(std::uint16_t percent)> OnPercent;
};

std::vector<TablePlan> PlanDatabaseUpdate(const std::string& directory,
                                          const PlanProgress& progress = {});

}  // namespace strata
