// Fuzzes the reading of the registry file: the input is the file. Reading
// the data path must either succeed or raise the parse error naming the
// file, and a value set in a file that parses must read back as written
// while the file goes on parsing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz/fuzz_table.h"
#include "platform/registry_store.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

constexpr char kKey[] = "HKEY_CURRENT_USER\\Software\\Hearthbook";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace strata::platform;
  const std::string path = strata::fuzz::ScratchFolder() + "registry.reg";
  strata::fuzz::WriteFile(path, data, size);
  RegistryStore store(path);
  try {
    store.KeyExists(kKey);
    if (const std::optional<RegistryValue> value = store.ReadValue(kKey, "DataPath")) {
      value->Text();
      value->Strings();
      value->Number();
    }
  } catch (const RegistryFileError&) {
    return 0;  // a file that does not parse is never rewritten
  }
  if (store.SetString(kKey, "DataPath", "/data/home \"organiser\"\\x")) {
    const std::optional<RegistryValue> back = store.ReadValue(kKey, "DataPath");
    Require(back && back->Text() == "/data/home \"organiser\"\\x");
  }
  return 0;
}
