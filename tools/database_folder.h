// The DIR argument of every subcommand: always a folder path, relative to
// the current directory or absolute (never a database alias, even without a
// "/").
//
// DatabaseFolder makes it absolute, with a trailing "/". AbsoluteFolderPath
// gives the absolute path without the trailing "/" ("." and ".." resolved,
// symbolic links kept), as the registry stores a data directory. Both raise
// EDatabaseError naming DIR as typed: "the folder '<DIR>' does not exist",
// "'<DIR>' is not a folder", or "the folder '<DIR>' cannot be read: <reason>".
#pragma once

#include <string>
#include <string_view>

namespace strata::tools {

std::string DatabaseFolder(std::string_view given);
std::string AbsoluteFolderPath(std::string_view given);

}  // namespace strata::tools
