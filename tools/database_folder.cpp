#include "tools/database_folder.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"

namespace strata::tools {

namespace {

// The path made absolute against the current directory, "\" read as "/".
std::string Absolute(std::string_view given) {
  std::string path(given);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || path.front() != '/') {
    std::string current = platform::CurrentDirectory();
    if (current.empty() || current.back() != '/') current += '/';
    path = current + path;
  }
  return path;
}

// Raises the error that says why the path is no readable folder.
[[noreturn]] void RaiseNoFolder(std::string_view given, std::string path, int listError) {
  // "file/" reads as missing; the name itself tells a file from nothing.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw EDatabaseError("the folder '" + std::string(given) + "' does not exist");
  }
  if (!code && status.type() != std::filesystem::file_type::directory) {
    throw EDatabaseError("'" + std::string(given) + "' is not a folder");
  }
  throw EDatabaseError("the folder '" + std::string(given) + "' cannot be read: " +
                       std::generic_category().message(code ? code.value() : listError));
}

}  // namespace

std::string DatabaseFolder(std::string_view given) {
  std::string path = Absolute(given);
  if (path.back() != '/') path += '/';
  std::vector<std::string> names;
  if (!platform::CurrentFileSystem().ListFiles(path, "*", names)) {
    RaiseNoFolder(given, path, platform::LastErrorNumber());
  }
  return path;
}

std::string AbsoluteFolderPath(std::string_view given) {
  std::string path = std::filesystem::path(Absolute(given)).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::error_code code;
  if (!std::filesystem::is_directory(path, code)) RaiseNoFolder(given, path, code.value());
  return path;
}

}  // namespace strata::tools
