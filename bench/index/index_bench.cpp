// Inserting 1,000,000 random integer keys into a unique index of one
// integer field (page size 4096, the engine's default cache limits), with
// leaf compression 0 and 3. Reports keys per second, the pages in the file
// and in the cache, and the process's peak resident memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/file_registry.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/formats/index_tree.h"
#include "engine/values/field_types.h"
#include "platform/process.h"

namespace {

using namespace strata;

class BenchOwner : public TableFileOwner {
 public:
  bool InTransaction() const override { return false; }
  bool ModifiedSinceOpen() const override { return true; }
  void MarkModified() override {}
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return true; }
  bool ReadLockForCacheMiss(TDataCursor*) override { return true; }
  std::string ErrorTableName() const override { return "bench"; }
  std::string ErrorDatabaseName() const override { return ""; }
  const EngineLimits& Limits() const override { return limits_; }
  const Digest& SignatureDigest() const override { return kDefaultSignatureDigest; }
  const UnitCipher* Cipher() const override { return nullptr; }
  const CompressionHooks& Compression() const override { return compression_; }

 private:
  EngineLimits limits_;
  CompressionHooks compression_;
};

double PeakResidentMegabytes() {
  return static_cast<double>(platform::PeakResidentBytes()) / (1024.0 * 1024.0);
}

void InsertRandomIntegers(benchmark::State& state) {
  constexpr int kKeys = 1'000'000;
  const auto compression = static_cast<std::uint8_t>(state.range(0));
  const std::string path = platform::TemporaryPath() + "bench-index-" +
                           platform::ThreadIdText() + "-" + std::to_string(compression) + ".idx";
  FieldDescriptor field;
  field.FieldNumber = 1;
  field.Name = "Value";
  field.EngineType = kTypeInteger;
  field.PhysicalSize = 4;
  field.FieldOffset = 25;
  const std::vector<FieldDescriptor> fields{field};
  IndexDescriptor index;
  index.Name = "ByValue";
  index.Unique = 1;
  index.Compression = compression;
  index.FieldCount = 1;
  index.FieldNumbers[0] = 1;

  for (auto _ : state) {
    FileRegistry registry;
    BenchOwner owner;
    TIndexFile file(registry, path, false, owner, 4096);
    file.CreateNew();
    file.DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), fields);
    const int slot = file.AddSecondaryIndex(index, fields);
    const IndexKeyLayout layout = IndexKeyLayout::Make(file.Descriptor(slot), fields, Collation());
    TIndexTree tree(file, slot, layout);
    std::uint8_t key[5] = {1};
    for (int i = 0; i < kKeys; ++i) {
      // An odd multiplier permutes 32-bit values: every key is distinct.
      const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(i) * 2654435761u);
      EncodeInt32Key(value, key + 1);
      tree.Insert(key, i + 1);
    }
    file.WriteBack(false);
    file.WriteHeader(false);
    state.counters["pages"] = file.UnitCount();
    state.counters["cached_pages"] = file.CachedCount();
    file.Close();
    std::filesystem::remove(path);
  }
  state.counters["keys_per_s"] =
      benchmark::Counter(static_cast<double>(kKeys) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = PeakResidentMegabytes();
}

BENCHMARK(InsertRandomIntegers)->Arg(0)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
