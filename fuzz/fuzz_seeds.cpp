// Writes the seed corpus of every fuzz target into <folder>/<target>/: table
// files, a lock file and registry files written by the project's own
// writers, the engine's value texts, and table names of the forms callers
// give.
//   fuzz_seeds FOLDER
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/values/bcd.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"
#include "fuzz/fuzz_table.h"
#include "platform/registry_store.h"

namespace {

using namespace strata;
using strata::fuzz::Bytes;

void Put(const std::string& folder, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(folder);
  fuzz::WriteFile(folder + "/" + name, bytes.data(), bytes.size());
}

void PutText(const std::string& folder, const std::string& name, std::uint8_t selector,
             const std::string& text) {
  Bytes bytes{selector};
  bytes.insert(bytes.end(), text.begin(), text.end());
  Put(folder, name, bytes);
}

void TableSeeds(const std::string& out) {
  for (int records : {0, 3, 6, 12}) {
    const fuzz::TableFiles files = fuzz::WriteSampleTable(records);
    const std::string name = "sample-" + std::to_string(records);
    Put(out + "/data_file", name, files.Data);
    Put(out + "/index_file", name, files.Index);
    Put(out + "/blob_file", name, files.Blob);
  }
  // The lock file a program writes when it opens the folder.
  Put(out + "/lock_file", "sample", fuzz::SampleLockFile());
}

void RegistrySeeds(const std::string& out) {
  const std::string path = fuzz::ScratchFolder() + "registry.reg";
  platform::RegistryStore store(path);
  const std::string key = "HKEY_CURRENT_USER\\Software\\Hearthbook";
  store.SetString(key, "DataPath", "/home/user/data");
  Put(out + "/registry_file", "string", fuzz::ReadFile(path));
  store.SetValue(key, "Count", platform::RegistryValue::DWord(42));
  store.SetValue(key + "\\Sub", "Big", platform::RegistryValue::QWord(1ull << 40));
  store.SetValue(key, "List", platform::RegistryValue::MultiString({"a", "b c"}));
  store.SetValue(key, "", platform::RegistryValue::String("%HOME%\\x", platform::kRegExpandString));
  Put(out + "/registry_file", "typed", fuzz::ReadFile(path));
}

void ValueSeeds(const std::string& out) {
  const std::string folder = out + "/value_text";
  PutText(folder, "date", 0, DateToEngineText(EngineTextToDate("2024-03-07")));
  PutText(folder, "timestamp", 1,
          TimestampToEngineText(EngineTextToTimestamp("2024-03-07 09:05:30.250")));
  PutText(folder, "time", 2, TimeToEngineText(EngineTextToTime("09:05:30.250")));
  PutText(folder, "integer", 3, IntegerToEngineText(-2147483647));
  PutText(folder, "largeint", 4, IntegerToEngineText(-9007199254740993));
  PutText(folder, "boolean", 5, BooleanToEngineText(true));
  PutText(folder, "float", 6, FloatToEngineText(-1.5e-7));
  PutText(folder, "currency", 0x86, "-1234,5678");
  std::array<std::uint8_t, kBcdSize> bcd{};
  CurrencyToBcd(-123456789, 2, bcd);
  Bytes image{7};
  image.insert(image.end(), bcd.begin(), bcd.end());
  Put(folder, "bcd", image);
  // Conversion: a string field of 20 to an integer, then a BCD to a float.
  Bytes toInteger{8, kTypeString, 21, 0, 0, 4, kTypeInteger};
  for (char c : std::string("  -42")) toInteger.push_back(static_cast<std::uint8_t>(c));
  Put(folder, "convert-text", toInteger);
  Bytes fromBcd{8, kTypeBcd, kBcdSize, 0, 0, 8, kTypeFloat};
  fromBcd.insert(fromBcd.end(), bcd.begin(), bcd.end());
  Put(folder, "convert-bcd", fromBcd);
}

void NameSeeds(const std::string& out) {
  const std::string folder = out + "/table_names";
  const char* names[] = {"asset", "C:\\Data\\Accents.DAT|accents", "my.table|MY.TABLE",
                         "x.dat.dat|x.dat", "/home/user/data/|asset.dat", " padded.Dat |PADDED"};
  int n = 0;
  for (const char* name : names) {
    const std::string text(name);
    Put(folder, "name-" + std::to_string(n++), Bytes(text.begin(), text.end()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string out = argv[1];
  TableSeeds(out);
  RegistrySeeds(out);
  ValueSeeds(out);
  NameSeeds(out);
  return 0;
}
