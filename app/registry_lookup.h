// ReadRegistryString: reads one string value from the current user's
// registry, the way the program finds its data directory.
//
// The path is split at its last backslash into a key path (keeping that
// backslash) and a value name: "\Software\Hearthbook\DataPath" reads the
// value "DataPath" of the key "\Software\Hearthbook\"; a path without a
// backslash names a value directly under the root key. The key is opened
// and created when missing; whether that succeeds does not matter, a key
// that cannot be opened simply holds no value. A missing value reads as
// the empty string; a string or expandable string is returned as stored,
// cut at its first NUL, with no expansion of environment references; any
// other type raises ERegistryException "Invalid data type for '<name>'".
// An empty result gives `defaultValue`.
//
// A registry file that cannot be parsed raises platform::RegistryFileError:
// the user must learn that the file is damaged, not be handed a default.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/registry_store.h"

namespace strata {

// The registry path of the data directory, with its Windows key separators.
inline constexpr char kDataPathRegistryPath[] = "\\Software\\Hearthbook\\DataPath";

enum class RegistryRoot { CurrentUser };

inline constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;

// The framework's registry error.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads from the current user's registry file (RegistryStore::DefaultPath).
std::string ReadRegistryString(RegistryRoot root, std::string_view path,
                               std::string_view defaultValue);

std::string ReadRegistryString(platform::RegistryStore& store, RegistryRoot root,
                               std::string_view path, std::string_view defaultValue);

// Stores a string value under a path split as above, creating its key.
// False when the registry file cannot be written.
bool WriteRegistryString(platform::RegistryStore& store, RegistryRoot root, std::string_view path,
                         std::string_view value);

}  // namespace strata
