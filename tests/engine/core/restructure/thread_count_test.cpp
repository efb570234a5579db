// The number of threads an index build may use changes how fast a table is
// rebuilt, never what is written: a full rebuild, an index-only rebuild and
// a repair that rebuilds the indexes leave the same bytes with one thread
// as with several, over a table of every field type with unique,
// case-insensitive, descending and full-text indexes, duplicates a new
// unique index refuses, and sorts that spill runs to files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/core/objects/data_engine.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/values/bcd.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/numbers.h"

namespace strata {
namespace {

using namespace strata::testing;

template <typename T>
Bytes Raw(T value) {
  Bytes bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

class ThreadCountTest : public WriteTest {
 protected:
  static std::vector<FieldDescriptor> Fields() {
    return {FieldDef(1, "ID").AutoInc(),        FieldDef(2, "Name").String(24),
            FieldDef(3, "Wide").WideString(8),  FieldDef(4, "Born").Date(),
            FieldDef(5, "Notes").Memo(),        FieldDef(6, "Active").Boolean(),
            FieldDef(7, "Small").Smallint(),    FieldDef(8, "Count").Integer(),
            FieldDef(9, "Ratio").Float(),       FieldDef(10, "Amount").Bcd(),
            FieldDef(11, "Tag").Bytes(6),       FieldDef(12, "At").Time(),
            FieldDef(13, "Stamp").Timestamp(),  FieldDef(14, "Word").Word(),
            FieldDef(15, "Blob").VarBytes(10),  FieldDef(16, "Big").Largeint(),
            FieldDef(17, "Code").FixedChar(5)};
  }
  static std::array<IndexDescriptor, kIndexSlotCount> Indexes() {
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
    indexes[0] = IndexDef("", {1}).Unique();
    indexes[1] = IndexDef("ByName", {2}).CaseInsensitive();
    indexes[2] = IndexDef("ByBornAmount", {4, 10}).Descending();
    indexes[3] = IndexDef("ByCode", {17}).Unique();
    indexes[kFullTextSlot].FieldNumbers[0] = 2;
    indexes[kFullTextSlot].FieldNumbers[1] = 5;
    return indexes;
  }

  // The table in a folder of its own, the same on every call.
  void Fill(TDataDirectory& directory) {
    std::vector<FieldDescriptor> fields = Fields();
    std::array<IndexDescriptor, kIndexSlotCount> indexes = Indexes();
    TDataCursor creator(directory, "items", CursorModes{.Exclusive = true});
    creator.CreateTableFiles({}, {fields, indexes, 3});
    TDataCursor cursor(directory, "items", CursorModes{.Exclusive = true});
    cursor.Open();
    static const char* kWords[] = {"anna", "Anna", "ben", "clara", "\xC9mile", "Zo\xEB", "lamp"};
    Numbers numbers(25);
    for (int n = 1; n <= 3000; ++n) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      const std::string name = std::string(kWords[numbers.Below(7)]) + " " + kWords[numbers.Below(7)];
      cursor.SetField(record, 2, TextBytes(name));
      cursor.SetField(record, 3, Bytes{'w', 0, static_cast<std::uint8_t>('a' + n % 26), 0});
      cursor.SetField(record, 4, Int32Bytes(700000 + static_cast<std::int32_t>(numbers.Below(900))));
      if (n % 4 == 0) {
        std::string note;
        for (std::uint32_t w = 0, k = 3 + numbers.Below(200); w < k; ++w) {
          note += kWords[numbers.Below(7)];
          note += ' ';
        }
        cursor.SetBlobValue(record, 5, TextBytes(note));
      }
      cursor.SetField(record, 6, Raw<std::uint16_t>(n % 2));
      cursor.SetField(record, 7, Raw<std::int16_t>(static_cast<std::int16_t>(n % 300 - 150)));
      cursor.SetField(record, 8, Int32Bytes(static_cast<std::int32_t>(numbers.Below(20000))));
      cursor.SetField(record, 9, Raw<double>(numbers.Below(10000) / 7.0));
      Bytes bcd(kBcdSize);
      CurrencyToBcd(static_cast<Currency>(numbers.Below(100000)) * 100, 2,
                    std::span<std::uint8_t, kBcdSize>(bcd.data(), kBcdSize));
      cursor.SetField(record, 10, bcd);
      cursor.SetField(record, 11, Bytes{1, 2, 3, 4, 5, static_cast<std::uint8_t>(n)});
      cursor.SetField(record, 12, Int32Bytes(static_cast<std::int32_t>(numbers.Below(86400000))));
      cursor.SetField(record, 13, Raw<double>(6.1e13 + numbers.Below(1000000) * 1000.0));
      cursor.SetField(record, 14, Raw<std::uint16_t>(static_cast<std::uint16_t>(n)));
      cursor.SetField(record, 15, Bytes{9, 8, 7, static_cast<std::uint8_t>(n % 7)});
      cursor.SetField(record, 16, Raw<std::int64_t>(std::int64_t{n} << 33));
      cursor.SetField(record, 17, TextBytes("K" + std::to_string(n)));
      cursor.InsertRecord(record);
    }
  }

  // The table's files, the moment of the last header write left out.
  std::vector<Bytes> Files(const std::string& folder) {
    std::vector<Bytes> files;
    for (const char* extension : {".dat", ".idx", ".blb"}) {
      std::ifstream in(folder + "items" + extension, std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::fill_n(files[0].begin() + data_header_layout::kLastUpdated,
                data_header_layout::kLastUpdatedSize, 0);
    return files;
  }

  // Every rebuild in turn, on a table of its own, with `threads` threads
  // and a sort budget small enough for every sort to spill; the files
  // after each.
  std::vector<std::vector<Bytes>> Rebuilds(int threads) {
    const std::string folder = dir_ + "threads" + std::to_string(threads) + "/";
    std::filesystem::create_directories(folder);
    TDataDirectory& directory = session_->OpenDirectory("t" + std::to_string(threads), folder);
    Fill(directory);
    engine_.Options().Threads = threads;
    engine_.Options().MemoryBudget = std::int64_t{256} << 10;
    std::vector<std::vector<Bytes>> states;

    // Full: a field added and a unique index on a field with repeats, so
    // that records are refused.
    std::vector<FieldDescriptor> fields = Fields();
    fields.push_back(FieldDef(18, "Phone").String(12));
    std::array<IndexDescriptor, kIndexSlotCount> indexes = Indexes();
    indexes[4] = IndexDef("ByCount", {8}).Unique();
    {
      TDataCursor cursor(directory, "items", CursorModes{.Exclusive = true});
      EXPECT_EQ(cursor.RestructureTable({}, {fields, indexes, 4}), RestructureLevel::Full);
    }
    states.push_back(Files(folder));

    // Index-only: one more index, case-insensitive and over three fields.
    indexes[5] = IndexDef("ByNameWideSmall", {2, 3, 7}).CaseInsensitive();
    {
      TDataCursor cursor(directory, "items", CursorModes{.Exclusive = true});
      EXPECT_EQ(cursor.RestructureTable({}, {fields, indexes, 5}), RestructureLevel::IndexOnly);
    }
    states.push_back(Files(folder));

    // Repair, every index rebuilt.
    {
      TDataCursor cursor(directory, "items", CursorModes{.Exclusive = true});
      EXPECT_TRUE(cursor.VerifyOrRepairTable(true, true));
    }
    states.push_back(Files(folder));
    EXPECT_TRUE(VerifiedTable(directory, "items"));
    engine_.Options() = DataEngineOptions{};
    return states;
  }
};

TEST_F(ThreadCountTest, RebuildsWriteTheSameBytesWithOneThreadOrSeveral) {
  const auto one = Rebuilds(1);
  for (const int threads : {2, 3}) {
    const auto several = Rebuilds(threads);
    const char* steps[] = {"full rebuild", "index-only rebuild", "repair"};
    for (std::size_t step = 0; step < one.size(); ++step) {
      for (std::size_t file = 0; file < 3; ++file) {
        EXPECT_TRUE(one[step][file] == several[step][file])
            << steps[step] << ", file " << file << ", " << threads << " threads";
      }
    }
  }
}

}  // namespace
}  // namespace strata
