// What opening a table for a repair found of its index file: present, or
// missing or unreadable and therefore replaced by a fresh one (see
// TDataTable). The lost file held every index definition of the table.
#pragma once

namespace strata {

enum class LostIndexFile { None, Missing, Unreadable };

}  // namespace strata
