#include "tools/database_folder.h"

#include <vector>

#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace strata::tools {

std::string DatabaseFolder(std::string_view given) {
  std::string path(given);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || path.front() != '/') {
    std::string current = platform::CurrentDirectory();
    if (current.empty() || current.back() != '/') current += '/';
    path = current + path;
  }
  if (path.back() != '/') path += '/';
  std::vector<std::string> names;
  if (!platform::CurrentFileSystem().ListFiles(path, "*", names)) {
    throw EDatabaseError("the folder '" + std::string(given) + "' does not exist or cannot be read");
  }
  return path;
}

}  // namespace strata::tools
