// `strata tables DIR [--json]`: every table of the folder with its record
// count, file sizes, structure version (user major.minor and the format
// version) and whether it is encrypted; in a database of the home
// organiser (the folder holds the catalogue's first table) also the update
// each table needs, as the dry run of the update finds it ("nothing" when
// it already matches the catalogue), and the catalogue tables the update
// would create. Reads only.
#pragma once

#include <ostream>
#include <string>

namespace strata {
class TDataSession;
}

namespace strata::tools {

void RunTables(TDataSession& session, const std::string& folder, bool json, std::ostream& out);

}  // namespace strata::tools
