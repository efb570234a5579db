// The two forms `strata info` prints a TableReport in: an aligned listing
// for people (header values, then the fields, then the indexes) and one
// JSON object for scripts. Both convert the table's Windows-1252 texts to
// UTF-8.
#pragma once

#include <ostream>

#include "tools/table_report.h"

namespace strata::tools {

void PrintTableReport(const TableReport& report, std::ostream& out);
void PrintTableReportJson(const TableReport& report, std::ostream& out);

}  // namespace strata::tools
