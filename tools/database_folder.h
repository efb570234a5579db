// The DIR argument of every subcommand: always a folder path, relative to
// the current directory or absolute (never a database alias, even without a
// "/"). DatabaseFolder makes it absolute, with a trailing "/", and raises
// EDatabaseError "the folder '<DIR>' does not exist or cannot be read" when
// it is not a readable folder.
#pragma once

#include <string>
#include <string_view>

namespace strata::tools {

std::string DatabaseFolder(std::string_view given);

}  // namespace strata::tools
