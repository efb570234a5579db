// `strata tables DIR [--json]`: every table of the folder with its record
// count, file sizes, structure version (user major.minor and the format
// version) and whether it is encrypted; in a database of the home
// organiser (the folder holds the catalogue's first table) also the update
// each table needs, as the dry run of the update finds it ("nothing" when
// it already matches the catalogue), and the catalogue tables the update
// would create. Reads only.
//
// A table that cannot be opened (encrypted without its password, a change
// interrupted, a damaged file) is listed all the same, with the values its
// data file's first 512 bytes give (they are never enciphered) and the
// reason (table_problem.h) in a last column ("problem" in JSON). A folder
// without tables is the finding "no tables in '<DIR>'".
#pragma once

#include <ostream>
#include <string>

namespace strata {
class TDataSession;
}

namespace strata::tools {

// folder: with its trailing "/"; shown: DIR as typed.
void RunTables(TDataSession& session, const std::string& folder, const std::string& shown,
               bool json, bool passwordsGiven, std::ostream& out);

}  // namespace strata::tools
