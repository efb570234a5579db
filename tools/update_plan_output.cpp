#include "tools/update_plan_output.h"

#include "components/field_type.h"
#include "engine/locale/windows1252.h"
#include "engine/values/field_types.h"
#include "tools/reported_field_type.h"

namespace strata::tools {

namespace {

std::string TypeText(std::uint8_t engineType, std::uint16_t physicalSize) {
  return std::string(FieldTypeName(ReportedFieldType(engineType, 0))) + "(" +
         std::to_string(physicalSize) + " bytes)";
}

bool IsIntegerType(std::uint8_t type) {
  return type == kTypeSmallint || type == kTypeInteger || type == kTypeWord ||
         type == kTypeLargeint;
}

// What the conversion does to the values it changes, by the two types.
std::string ChangeKind(const FieldChangePreview& change) {
  const std::uint8_t from = change.OldType;
  const std::uint8_t to = change.NewType;
  if (from == kTypeTimestamp && to == kTypeDate) return "the time of day is dropped";
  if (from == kTypeTimestamp && to == kTypeTime) return "the date is dropped";
  if ((from == kTypeFloat || from == kTypeBcd) && IsIntegerType(to)) {
    return "the fraction is cut, or the number is beyond the new range";
  }
  if (IsIntegerType(from) && IsIntegerType(to)) return "the number is beyond the new range";
  if (to == kTypeBoolean) return "every value but 0 becomes true";
  if (to == kTypeFloat || to == kTypeBcd) return "the number is rounded";
  if (to == kTypeString) return "the text holds less than the value";
  return "the value is not the same after the conversion";
}

bool FieldLoses(const FieldChangePreview& change) {
  return change.Lost > 0 || change.Cut > 0 || change.Changed > 0;
}

void PrintFieldChange(const FieldChangePreview& change, std::ostream& out) {
  out << "    field " << Windows1252ToUtf8(change.Name) << ": ";
  if (change.Dropped) {
    out << "dropped, " << change.Lost << " of " << change.Values << " values lost\n";
    return;
  }
  out << "converted from " << TypeText(change.OldType, change.OldSize) << " to "
      << TypeText(change.NewType, change.NewSize) << ", " << change.Lost << " of "
      << change.Values << " values do not convert";
  if (change.Cut > 0) out << ", " << change.Cut << " are cut to the new size";
  if (change.Changed > 0) out << ", " << change.Changed << " change (" << ChangeKind(change) << ")";
  out << '\n';
}

void PrintDroppedRecords(const RestructurePreview& preview, std::ostream& out) {
  if (preview.KeyViolations > 0) {
    out << "    " << preview.KeyViolations
        << " records break a unique index and are dropped\n";
  }
  if (preview.ValidityFailures > 0) {
    out << "    " << preview.ValidityFailures
        << " records break a required field, minimum or maximum and are dropped\n";
  }
}

void PrintTableLine(const TablePlan& plan, std::ostream& out) {
  out << plan.Entry->FileName << ": " << PlanLevelName(plan);
  if (plan.Preview) {
    out << ", " << plan.Preview->Records << " records, " << plan.Preview->BytesToRewrite
        << " bytes to rewrite";
  }
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

std::vector<std::string> TablesLosingValues(std::span<const TablePlan> plans) {
  std::vector<std::string> names;
  for (const TablePlan& plan : plans) {
    if (plan.Preview && plan.Preview->LosesValues()) names.emplace_back(plan.Entry->FileName);
  }
  return names;
}

bool PlanLosesValues(std::span<const TablePlan> plans) {
  return !TablesLosingValues(plans).empty();
}

void PrintUpdatePlan(std::span<const TablePlan> plans, std::ostream& out) {
  std::int64_t bytes = 0;
  for (const TablePlan& plan : plans) {
    PrintTableLine(plan, out);
    if (!plan.Preview) continue;
    bytes += plan.Preview->BytesToRewrite;
    for (const FieldChangePreview& change : plan.Preview->Fields) PrintFieldChange(change, out);
    PrintDroppedRecords(*plan.Preview, out);
  }
  const std::vector<std::string> losing = TablesLosingValues(plans);
  out << plans.size() << " tables, " << bytes << " bytes to rewrite; ";
  if (losing.empty()) {
    out << "no values would be lost\n";
    return;
  }
  out << "values may be lost or changed in " << losing.size() << " tables:";
  for (const std::string& name : losing) out << ' ' << name;
  out << '\n';
}

void PrintPlanLosses(std::span<const TablePlan> plans, std::ostream& out) {
  for (const TablePlan& plan : plans) {
    if (!plan.Preview || !plan.Preview->LosesValues()) continue;
    PrintTableLine(plan, out);
    for (const FieldChangePreview& change : plan.Preview->Fields) {
      if (FieldLoses(change)) PrintFieldChange(change, out);
    }
    PrintDroppedRecords(*plan.Preview, out);
  }
}

}  // namespace strata::tools
