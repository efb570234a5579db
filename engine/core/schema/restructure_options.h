// RestructureOptions: the table properties a restructure brings a table to
// (see TableProperties). SuppressBackups deletes the previous files of a
// full rebuild (and the index copy of an index-only rebuild) instead of
// keeping them under the backup extensions.
#pragma once

#include "engine/core/schema/table_create_options.h"

namespace strata {

struct RestructureOptions : TableProperties {
  bool SuppressBackups = false;
};

}  // namespace strata
