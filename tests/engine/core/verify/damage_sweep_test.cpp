// Random damage to a table with a field of every type, secondary, unique,
// case-insensitive, descending, compressed and full-text indexes and BLOB
// values. Verification changes no file, and when it finds nothing a check
// written apart from it (table_file_check.h) finds nothing a reader takes
// in either; after each repair the engine's own verification is clean and
// the independent check accepts every byte.
//
// Rounds: STRATA_DAMAGE_ROUNDS, else 1000 with STRATA_LONG_RUN=1, else 300
// (60 in the sanitizer build, where a round takes ten times as long).
// Seed: STRATA_DAMAGE_SEED. Damage per round: 1 to STRATA_DAMAGE_KINDS (3)
// changes. STRATA_DAMAGE_ROUND=N runs that round alone (a failure prints
// its seed, round and damage). scripts/damage-sweep.sh runs
// the long sweep.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/record_values.h"
#include "tests/engine/core/verify/table_file_check.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/numbers.h"

namespace strata {
namespace {

using namespace strata::testing;
using Lines = std::vector<std::string>;

constexpr char kTable[] = "sweep";
const char* const kExtensions[] = {".dat", ".idx", ".blb"};

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

FieldDescriptor Limited(FieldDescriptor field, std::string min, std::string max) {
  field.MinValue = std::move(min);
  field.MaxValue = std::move(max);
  return field;
}

FieldDescriptor Required(FieldDescriptor field) {
  field.Required = 1;
  return field;
}

FieldDescriptor Cased(FieldDescriptor field, std::uint8_t charCase) {
  field.CharCase = charCase;
  return field;
}

FieldDescriptor Compressed(FieldDescriptor field, std::uint8_t level) {
  field.Compression = level;
  return field;
}

Bytes Le(std::uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

Bytes Double(double value) {
  Bytes bytes(8);
  StoreF64(bytes.data(), value);
  return bytes;
}

class DamageSweepTest : public WriteTest {
 protected:
  // 150 records in small index pages (1024 bytes) and BLOB blocks (64
  // bytes), so that trees have two and three levels and values several
  // blocks.
  void CreateSweepTable() {
    Create(kTable,
           {FieldDef(1, "ID").AutoInc(),
            Required(FieldDef(2, "Name").String(24)),
            Cased(FieldDef(3, "Code").String(8), 2),
            Cased(FieldDef(4, "Fixed").FixedChar(6), 1),
            FieldDef(5, "Wide").WideString(10),
            FieldDef(6, "Guid").Guid(38),
            Limited(FieldDef(7, "Born").Date(), "1900-01-01", "2100-12-31"),
            FieldDef(8, "Notes").Memo(),
            FieldDef(9, "Done").Boolean(),
            Limited(FieldDef(10, "Small").Smallint(), "-1000", "1000"),
            Required(FieldDef(11, "Count").Integer()),
            FieldDef(12, "Amount").Float(),
            FieldDef(13, "Price").Currency(),
            FieldDef(14, "Rate").Bcd(),
            FieldDef(15, "Raw").Bytes(6),
            FieldDef(16, "At").Time(),
            FieldDef(17, "Stamp").Timestamp(),
            FieldDef(18, "Unsigned").Word(),
            FieldDef(19, "Var").VarBytes(10),
            FieldDef(20, "Big").Largeint(),
            Compressed(FieldDef(21, "Picture").Graphic(), 6),
            FieldDef(22, "Data").Blob()},
           {1},
           {IndexDef("ByName", {2}).CaseInsensitive().Compression(3),
            IndexDef("ByCode", {3}).Unique().Compression(2),
            IndexDef("ByWide", {5}).Compression(1),
            IndexDef("ByStamp", {17, 7}).DescendingKeys({true, false}),
            IndexDef("ByBig", {20}).Unique(),
            IndexDef("ByAmount", {12, 14, 9})},
           {2, 8}, SmallUnits());
    TDataCursor cursor(*directory_, kTable, CursorModes{.Exclusive = true});
    cursor.Open();
    Numbers numbers(7);
    const char* words[] = {"apple", "The", "river", "stone", "Blue", "and", "lamp",
                           "winter", "a", "copper", "Bridge", "quiet", "7th", "ember"};
    const auto text = [&](int count) {
      std::string out;
      for (int i = 0; i < count; ++i) {
        out += words[numbers.Below(14)];
        out += i % 5 == 4 ? ". " : " ";
      }
      return out;
    };
    for (int n = 1; n <= 150; ++n) {
      Bytes record = cursor.NewRecordBuffer();
      const auto maybe = [&](std::uint16_t field, const Bytes& value) {
        if (numbers.Below(8) != 0) cursor.SetField(record, field, value);
      };
      cursor.SetField(record, 2, TextBytes("Item " + std::to_string(n) + " " + words[n % 14]));
      cursor.SetField(record, 3, TextBytes("c" + std::to_string(1000 + n)));
      maybe(4, TextBytes(n % 3 == 0 ? "Ab  " : "xyZ"));
      const std::u16string wide = u"w\u00e9de " + std::u16string(1, static_cast<char16_t>(u'a' + n % 26));
      Bytes wideBytes;
      for (const char16_t unit : wide) {
        wideBytes.push_back(static_cast<std::uint8_t>(unit));
        wideBytes.push_back(static_cast<std::uint8_t>(unit >> 8));
      }
      maybe(5, wideBytes);
      maybe(6, TextBytes("{6F9619FF-8B86-D011-B42D-00C04FC9" + std::to_string(1000 + n) + "}"));
      maybe(7, Le(700000 + numbers.Below(50000), 4));
      if (n % 4 != 0) cursor.SetBlobValue(record, 8, TextBytes(text(5 + n % 40)));
      maybe(9, Le(n % 2, 2));
      maybe(10, Le(static_cast<std::uint16_t>(static_cast<std::int16_t>(numbers.Below(2001)) - 1000), 2));
      cursor.SetField(record, 11, Le(numbers.Next(), 4));
      maybe(12, Double((static_cast<double>(numbers.Below(200000)) - 100000) / 8));
      maybe(13, Double(numbers.Below(100000) / 100.0));
      if (numbers.Below(8) != 0) {
        WriteBcd(record, cursor.Fields()[13], static_cast<Currency>(numbers.Below(10000000)) * 100 - 4000000);
      }
      maybe(15, Bytes{1, 2, 3, static_cast<std::uint8_t>(n), 0, 9});
      maybe(16, Le(numbers.Below(86400000), 4));
      maybe(17, Double(63000000000000.0 + numbers.Below(1000000) * 1000.0));
      maybe(18, Le(numbers.Below(65536), 2));
      maybe(19, Bytes{static_cast<std::uint8_t>(n), 7, 7});
      cursor.SetField(record, 20, Le(static_cast<std::uint64_t>(n) * 1000003ull - 50000000ull, 8));
      if (n % 3 != 0) {
        cursor.SetBlobValue(record, 21, TextBytes("picture " + text(20 + n % 30)));
      }
      if (n % 5 != 0) {
        Bytes data(static_cast<std::size_t>(30 + n % 90));
        for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(numbers.Next());
        cursor.SetBlobValue(record, 22, data);
      }
      cursor.InsertRecord(record);
    }
    // A few deleted slots for the free chain.
    for (const std::int32_t n : {7, 50, 51, 120}) cursor.DeleteRecord(n);
  }

  static TableCreateOptions SmallUnits() {
    TableCreateOptions options;
    options.IndexPageSize = 1024;
    options.BlobBlockSize = 64;
    return options;
  }

  std::string Path(const char* extension) const { return dir_ + kTable + extension; }
};

// One kind of damage at a random place of one file, said in words so that
// a failing round can be read and replayed.
std::string Damage(Bytes& bytes, const Bytes& healthy, std::mt19937_64& random,
                   std::size_t headerEnd) {
  if (bytes.empty()) return "nothing (empty file)";
  // Half of the damage goes to the headers and descriptors.
  const std::size_t limit = random() % 2 == 0 ? std::min(bytes.size(), headerEnd) : bytes.size();
  const std::size_t at = random() % limit;
  const std::size_t run = std::min<std::size_t>(1 + random() % 48, bytes.size() - at);
  switch (random() % 6) {
    case 0: {
      const int bit = static_cast<int>(random() % 8);
      bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1 << bit));
      return "bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped";
    }
    case 1:
      bytes[at] = static_cast<std::uint8_t>(random());
      return "byte " + std::to_string(at) + " set to " + std::to_string(bytes[at]);
    case 2:
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), run, 0);
      return std::to_string(run) + " bytes zeroed at " + std::to_string(at);
    case 3: {
      const std::size_t from = random() % (healthy.size() - std::min(run, healthy.size()) + 1);
      const std::size_t n = std::min(run, healthy.size() - from);
      std::copy_n(healthy.begin() + static_cast<std::ptrdiff_t>(from), n,
                  bytes.begin() + static_cast<std::ptrdiff_t>(at));
      return std::to_string(n) + " bytes from " + std::to_string(from) + " spliced in at " +
             std::to_string(at);
    }
    case 4: {
      const std::size_t cut = std::max<std::size_t>(at, bytes.size() - run * 16);
      bytes.resize(cut);
      return "cut to " + std::to_string(cut) + " bytes";
    }
    default: {
      // A 4-byte number of the header or a descriptor set to something
      // plausible: 0, 1, -1 or a small number.
      const std::size_t where = random() % std::min(bytes.size(), headerEnd);
      const std::int32_t values[] = {0, 1, -1, 2, 7, 64, 100, 513, 70000};
      const std::int32_t value = values[random() % std::size(values)];
      for (std::size_t i = 0; i < 4 && where + i < bytes.size(); ++i) {
        bytes[where + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
      }
      return "number at " + std::to_string(where) + " set to " + std::to_string(value);
    }
  }
}

TEST_F(DamageSweepTest, RepairedTablesPassVerificationAndAnIndependentCheck) {
  CreateSweepTable();
  ASSERT_EQ(CheckTableFiles(dir_ + kTable), Lines{}) << "the healthy table";
  ASSERT_TRUE(VerifiedTable(*directory_, kTable));
  std::map<std::string, Bytes> healthy;
  for (const char* extension : kExtensions) healthy[extension] = ReadBytes(Path(extension));
  // Where the headers and descriptors of each file end.
  const std::map<std::string, std::size_t> headerEnds = {
      {".dat", 512 + 22 * kFieldDescriptorSize}, {".idx", 25088}, {".blb", 512}};

  const bool longRun = EnvNumber("STRATA_LONG_RUN", 0) != 0;
#ifdef STRATA_SANITIZED
  constexpr std::uint64_t kRounds = 60;
#else
  constexpr std::uint64_t kRounds = 300;
#endif
  const std::uint64_t rounds = EnvNumber("STRATA_DAMAGE_ROUNDS", longRun ? 1000 : kRounds);
  const std::uint64_t seed = EnvNumber("STRATA_DAMAGE_SEED", 20250611);
  const std::uint64_t only = EnvNumber("STRATA_DAMAGE_ROUND", 0);
  const std::uint64_t maxKinds = std::max<std::uint64_t>(1, EnvNumber("STRATA_DAMAGE_KINDS", 3));
  const std::set<ErrorCode> refusals = {STRATA_HEADERCORRUPT, STRATA_OLDVERSION,
                                        STRATA_BADSIGNATURE, STRATA_NOTSUFFTABLERIGHTS,
                                        STRATA_CANNOTLOADLDDRV};
  std::map<std::string, int> outcomes;
  const auto started = std::chrono::steady_clock::now();
  const std::uint64_t first = only != 0 ? only : 1;
  const std::uint64_t last = only != 0 ? only : rounds;
  for (std::uint64_t round = first; round <= last; ++round) {
    for (const auto& [extension, bytes] : healthy) WriteBytes(Path(extension.c_str()), bytes);
    std::mt19937_64 random(seed * 1000003u + round);
    const std::string extension = kExtensions[round % 3];
    Bytes bytes = healthy[extension];
    std::string damage = extension + ":";
    const int kinds = 1 + static_cast<int>(random() % maxKinds);
    for (int k = 0; k < kinds; ++k) {
      damage += " " + Damage(bytes, healthy[extension], random, headerEnds.at(extension)) + ";";
    }
    WriteBytes(Path(extension.c_str()), bytes);
    const std::string replay = "seed " + std::to_string(seed) + " round " + std::to_string(round) +
                               " (STRATA_DAMAGE_SEED=" + std::to_string(seed) +
                               " STRATA_DAMAGE_ROUND=" + std::to_string(round) + "), " + damage;
    SCOPED_TRACE(replay);

    // Verification alone changes nothing; when it finds nothing, the
    // independent check finds nothing either.
    {
      Lines lines;
      bool clean = false;
      try {
        TDataCursor cursor(*directory_, kTable, CursorModes{.Exclusive = true});
        cursor.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
        clean = cursor.VerifyOrRepairTable(false);
      } catch (const EStrataEngineError& error) {
        EXPECT_TRUE(refusals.contains(error.Code)) << error.Message();
      }
      EXPECT_TRUE(ReadBytes(Path(extension.c_str())) == bytes) << "verification changed the file";
      if (clean) {
        const Lines problems = CheckTableFiles(dir_ + kTable, false);
        EXPECT_EQ(problems, Lines{}) << "verification found nothing";
        if (!problems.empty()) ++outcomes["VERIFY MISSED"];
      }
    }
    Lines repairLines;
    try {
      TDataCursor cursor(*directory_, kTable, CursorModes{.Exclusive = true});
      cursor.OnLog = [&](std::string_view line) { repairLines.emplace_back(line); };
      cursor.VerifyOrRepairTable(true);
    } catch (const EStrataEngineError& error) {
      // A header the engine cannot read at all (a foreign format, a locale
      // that is not there, a field it cannot describe) is refused by name.
      EXPECT_TRUE(refusals.contains(error.Code)) << error.Message();
      ++outcomes["refused " + std::to_string(error.Code)];
      if (std::getenv("STRATA_DAMAGE_VERBOSE") != nullptr) {
        std::cout << replay << "\n  refused: " << error.Message() << "\n";
      }
      continue;
    }
    const bool unfixable =
        std::any_of(repairLines.begin(), repairLines.end(), [](const std::string& line) {
          return line.find("error cannot be fixed") != std::string::npos;
        });
    if (unfixable) {
      ++outcomes["cannot be fixed"];
      continue;
    }
    Lines verifyLines;
    bool verified = false;
    try {
      TDataCursor cursor(*directory_, kTable, CursorModes{.Exclusive = true});
      cursor.OnLog = [&](std::string_view line) { verifyLines.emplace_back(line); };
      verified = cursor.VerifyOrRepairTable(false);
    } catch (const EStrataEngineError& error) {
      verifyLines.push_back(error.Message());
    }
    const Lines problems = CheckTableFiles(dir_ + kTable);
    EXPECT_TRUE(verified) << "repair:\n" << ::testing::PrintToString(repairLines)
                          << "\nverify:\n" << ::testing::PrintToString(verifyLines);
    EXPECT_EQ(problems, Lines{}) << "repair:\n" << ::testing::PrintToString(repairLines);
    ++outcomes[verified && problems.empty() ? "repaired" : "FAILED"];
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // Most damage can be repaired.
  if (only == 0) {
    EXPECT_GT(outcomes["repaired"], static_cast<int>(rounds * 9 / 10));
  }
  std::string summary;
  for (const auto& [outcome, count] : outcomes) summary += " " + outcome + ": " + std::to_string(count) + ";";
  std::cout << "damage sweep, seed " << seed << ", " << (last - first + 1) << " rounds in "
            << seconds << " s:" << summary << "\n";
}

}  // namespace
}  // namespace strata
