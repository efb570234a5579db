// How the tool shows a plan of the update run (`strata update --dry-run`,
// and the update column of `strata tables`): per table the level of work
// ("create", "nothing", "header-only", "index-only", "full rebuild"), the
// fields dropped or converted, what may be lost and the bytes to rewrite.
#pragma once

#include <ostream>
#include <span>
#include <string>

#include "update/update_plan.h"

namespace strata::tools {

std::string PlanLevelName(const TablePlan& plan);
// Whether any table of the plan may lose values.
bool PlanLosesValues(std::span<const TablePlan> plans);
void PrintUpdatePlan(std::span<const TablePlan> plans, std::ostream& out);

}  // namespace strata::tools
