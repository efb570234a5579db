// The decision a restructure takes on the table it has open: the table's
// stored structure and properties against the new ones, compared with
// ChooseRestructureLevel. The restructure itself and its preview both
// decide through DecideRestructure, so a preview names the level the
// restructure then takes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/core/schema/restructure_plan.h"
#include "engine/core/schema/structure_validation.h"
#include "engine/core/schema/table_create_options.h"
#include "engine/core/schema/table_definition.h"
#include "engine/formats/full_text_params.h"

namespace strata {

class TDataCursor;
class TDataTable;

struct RestructureDecision {
  RestructureLevel Level = RestructureLevel::HeaderOnly;
  // The table's full-text parameters and those the new structure gets.
  FullTextParams CurrentText;
  FullTextParams WantedText;
};

// table is open; the new definition has been validated with the rounded
// pageSize and blockSize. The password of the options is compared with the
// table's password check (a non-empty one given for a plain table counts as
// a difference). cursor reads the full-text parameters; errors name
// tableName.
RestructureDecision DecideRestructure(TDataTable& table, TDataCursor* cursor,
                                      const TableProperties& options,
                                      const TableDefinition& definition, std::int32_t pageSize,
                                      std::int32_t blockSize, std::string_view tableName);

}  // namespace strata
