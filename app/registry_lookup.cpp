#include "app/registry_lookup.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace strata {

namespace {

std::string RootKeyName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::CurrentUser:
      return "HKEY_CURRENT_USER";
  }
  return "HKEY_CURRENT_USER";
}

// The full path of a key given relative to the root: a leading backslash
// (absolute) and the trailing backslash are not part of the key names.
std::string FullKeyPath(RegistryRoot root, std::string_view keyPath) {
  if (!keyPath.empty() && keyPath.front() == '\\') keyPath.remove_prefix(1);
  if (!keyPath.empty() && keyPath.back() == '\\') keyPath.remove_suffix(1);
  std::string full = RootKeyName(root);
  if (!keyPath.empty()) full += "\\" + std::string(keyPath);
  return full;
}

// A path's key (full path) and value name.
std::pair<std::string, std::string_view> SplitValuePath(RegistryRoot root, std::string_view path) {
  std::size_t split = path.size();
  while (split > 0 && path[split - 1] != '\\') --split;
  return {FullKeyPath(root, path.substr(0, split)), path.substr(split)};
}

}  // namespace

std::string ReadRegistryString(RegistryRoot root, std::string_view path,
                               std::string_view defaultValue) {
  platform::RegistryStore store(platform::RegistryStore::DefaultPath());
  return ReadRegistryString(store, root, path, defaultValue);
}

std::string ReadRegistryString(platform::RegistryStore& store, RegistryRoot root,
                               std::string_view path, std::string_view defaultValue) {
  const auto [key, name] = SplitValuePath(root, path);
  store.CreateKey(key);  // a key that cannot be created holds no value
  std::string result;
  if (const std::optional<platform::RegistryValue> value = store.ReadValue(key, name)) {
    switch (value->Kind()) {
      case platform::RegistryValueKind::String:
      case platform::RegistryValueKind::ExpandString:
        result = value->Text();
        result.resize(std::min(result.size(), result.find('\0')));
        break;
      default:
        throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
    }
  }
  return result.empty() ? std::string(defaultValue) : result;
}

bool WriteRegistryString(platform::RegistryStore& store, RegistryRoot root, std::string_view path,
                         std::string_view value) {
  const auto [key, name] = SplitValuePath(root, path);
  return store.SetString(key, name, value);
}

}  // namespace strata
