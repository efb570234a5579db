#include "tools/update_plan_output.h"

#include "components/field_type.h"
#include "engine/locale/windows1252.h"
#include "tools/reported_field_type.h"

namespace strata::tools {

namespace {

std::string TypeText(std::uint8_t engineType, std::uint16_t physicalSize) {
  return std::string(FieldTypeName(ReportedFieldType(engineType, 0))) + "(" +
         std::to_string(physicalSize) + " bytes)";
}

void PrintFieldChange(const FieldChangePreview& change, std::ostream& out) {
  out << "    field " << Windows1252ToUtf8(change.Name) << ": ";
  if (change.Dropped) {
    out << "dropped, " << change.Lost << " of " << change.Values << " values lost\n";
    return;
  }
  out << "converted from " << TypeText(change.OldType, change.OldSize) << " to "
      << TypeText(change.NewType, change.NewSize) << ", " << change.Lost << " of "
      << change.Values << " values would not convert";
  if (change.Cut > 0) out << ", " << change.Cut << " cut to the new size";
  out << '\n';
}

}  // namespace

std::string PlanLevelName(const TablePlan& plan) {
  if (!plan.Preview) return "create";
  switch (plan.Preview->Level) {
    case RestructureLevel::HeaderOnly: return plan.Preview->HeaderChanges ? "header-only" : "nothing";
    case RestructureLevel::IndexOnly: return "index-only";
    case RestructureLevel::Full: return "full rebuild";
  }
  return "full rebuild";
}

bool PlanLosesValues(std::span<const TablePlan> plans) {
  for (const TablePlan& plan : plans) {
    if (plan.Preview && plan.Preview->LosesValues()) return true;
  }
  return false;
}

void PrintUpdatePlan(std::span<const TablePlan> plans, std::ostream& out) {
  std::size_t losing = 0;
  std::int64_t bytes = 0;
  for (const TablePlan& plan : plans) {
    out << plan.Entry->FileName << ": " << PlanLevelName(plan);
    if (!plan.Preview) {
      out << '\n';
      continue;
    }
    const RestructurePreview& preview = *plan.Preview;
    bytes += preview.BytesToRewrite;
    out << ", " << preview.Records << " records, " << preview.BytesToRewrite
        << " bytes to rewrite\n";
    for (const FieldChangePreview& change : preview.Fields) PrintFieldChange(change, out);
    if (preview.KeyViolations > 0) {
      out << "    " << preview.KeyViolations << " records would break a unique index and be dropped\n";
    }
    if (preview.ValidityFailures > 0) {
      out << "    " << preview.ValidityFailures
          << " records would break a required field, minimum or maximum and be dropped\n";
    }
    if (preview.LosesValues()) ++losing;
  }
  out << plans.size() << " tables, " << bytes << " bytes to rewrite; "
      << (losing == 0 ? std::string("no values would be lost")
                      : "values may be lost in " + std::to_string(losing) + " tables")
      << "\n";
}

}  // namespace strata::tools
