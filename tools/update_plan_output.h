// How the tool shows a plan of the update run (`strata update --dry-run`,
// the update column of `strata tables`, and the losses `strata update`
// reports when it finishes): per table the level of work ("create",
// "nothing", "header-only", "index-only", "full rebuild"), the fields
// dropped or converted with the values each loses or changes, the records
// dropped, and the bytes to rewrite.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "update/update_plan.h"

namespace strata::tools {

std::string PlanLevelName(const TablePlan& plan);
// Whether any table of the plan may lose or change values.
bool PlanLosesValues(std::span<const TablePlan> plans);
// The file names of the tables that may lose or change values.
std::vector<std::string> TablesLosingValues(std::span<const TablePlan> plans);
// The dry run: every table with its level and field changes, then a
// summary that names every table that may lose or change values.
void PrintUpdatePlan(std::span<const TablePlan> plans, std::ostream& out);
// The lines of the dry run that say what is lost or changed, for each table
// where something is: the table's line, then those of its fields and
// records. Nothing when nothing is.
void PrintPlanLosses(std::span<const TablePlan> plans, std::ostream& out);

}  // namespace strata::tools
