#include "fuzz/fuzz_table.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/index_file.h"
#include "engine/values/bcd.h"
#include "engine/values/field_types.h"
#include "tests/support/definitions.h"
#include "tests/support/simulated_disk.h"

namespace strata::fuzz {

namespace {

using testing::FieldDef;
using testing::IndexDef;

Bytes Le(std::uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Double(double value) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  return Le(bits, 8);
}

// The disk lives as long as the process: the engine works on it until the
// end.
testing::SimulatedDisk& TheDisk() {
  static testing::SimulatedDisk* disk = [] {
    auto* made = new testing::SimulatedDisk;
    made->SetTracking(false);
    made->CreateDirectory(kTableFolder);
    return made;
  }();
  return *disk;
}

// The engine with short lock waits: a fuzzed lock file must not make each
// input wait for seconds.
TDataEngine& Engine() {
  static TDataEngine* engine = [] {
    auto* created = new TDataEngine(TheDisk());
    created->Options().TableLocks = TableLockSettings{1, 2, 1, 2, 1, 2};
    created->Options().LockFile = LockFileTiming{2, 1, 1, 2};
    // A small budget: a sort takes its whole share of memory at once, and
    // the tables here are small.
    created->Options().MemoryBudget = 128 << 10;
    created->Activate();
    return created;
  }();
  return *engine;
}

TDataSession& QuickSession() {
  TDataSession& session = Engine().NewSession();
  session.SetLockRetryCount(2);
  session.SetLockWaitTime(1);
  // Whatever a repair spills goes with the folder.
  session.SetPrivateDirectory(kTableFolder);
  return session;
}

// Frees the session (with its directories and tables) however the pass ends.
struct SessionScope {
  TDataSession& Session = QuickSession();
  ~SessionScope() { Engine().FreeSession(Session); }
};

void Swallow(const std::function<void()>& body) {
  try {
    body();
  } catch (const EDatabaseError&) {
    // Damage is answered with an engine error: that is the expected outcome.
  }
}

// Empties the table folder of the disk (nothing holds a file of it open
// between passes).
void ClearTableFolder() {
  testing::SimulatedDisk& disk = TheDisk();
  std::vector<std::string> names;
  disk.ListFiles(kTableFolder, "*", names);
  for (const std::string& name : names) disk.Delete(kTableFolder + name);
}

void PutDiskFile(const std::string& name, const Bytes& bytes) {
  TheDisk().PutFile(kTableFolder + name, bytes);
}

// A file of the disk (empty when missing).
Bytes DiskFile(const std::string& path) { return TheDisk().FileBytes(path); }

// The table folder of the disk with only these files in it.
void PutTableFiles(const TableFiles& files) {
  ClearTableFolder();
  const std::string base = kTableName;
  PutDiskFile(base + ".dat", files.Data);
  PutDiskFile(base + ".idx", files.Index);
  PutDiskFile(base + ".blb", files.Blob);
}

}  // namespace

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/strata-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    const std::string made = pattern + "/";
    // The folder goes with the process.
    static const struct Remover {
      std::string path;
      ~Remover() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
      }
    } remover{made};
    return made;
  }();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  return folder;
}

namespace {

// The sample table in the directory, `records` records of varied values.
void FillSampleTable(TDataDirectory& directory, int records) {
  std::vector<FieldDescriptor> fields = {
      FieldDef(1, "ID").AutoInc(),
      FieldDef(2, "Name").String(20),
      FieldDef(3, "Wide").WideString(10),
      FieldDef(4, "Born").Date(),
      FieldDef(5, "Active").Boolean(),
      FieldDef(6, "Small").Smallint(),
      FieldDef(7, "Amount").Currency(),
      FieldDef(8, "Price").Bcd(),
      FieldDef(9, "Code").Bytes(6),
      FieldDef(10, "At").Time(),
      FieldDef(11, "Stamp").Timestamp(),
      FieldDef(12, "Count").Word(),
      FieldDef(13, "Big").Largeint(),
      FieldDef(14, "Raw").VarBytes(16),
      FieldDef(15, "Notes").Memo(),
      FieldDef(16, "Picture").Graphic(),
  };
  fields[7].DeclaredDecimals = 2;
  fields[15].Compression = 6;
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  indexes[0] = IndexDef("", {1}).Unique();
  indexes[1] = IndexDef("ByName", {2}).CaseInsensitive();
  indexes[2] = IndexDef("ByBig", {13}).Unique();
  indexes[3] = IndexDef("ByBorn", {4, 11}).Descending();
  indexes[kFullTextSlot].FieldNumbers[0] = 2;
  indexes[kFullTextSlot].FieldNumbers[1] = 15;
  {
    TDataCursor creator(directory, kTableName, CursorModes{.Exclusive = true});
    creator.CreateTableFiles({}, {fields, indexes, 3});
  }
  TDataCursor cursor(directory, kTableName, CursorModes{.Exclusive = true});
  cursor.Open();
  const char* words[] = {"amber", "birch", "cedar", "delta", "ember"};
  for (int n = 1; n <= records; ++n) {
    Bytes record = cursor.NewRecordBuffer();
    const std::string name = std::string(words[n % 5]) + " " + std::to_string(n);
    cursor.SetField(record, 2, Text(name));
    cursor.SetField(record, 3, Bytes{'w', 0, static_cast<std::uint8_t>('0' + n % 10), 0});
    cursor.SetField(record, 4, Le(738000 + static_cast<std::uint32_t>(n), 4));
    cursor.SetField(record, 5, Le(n % 2, 2));
    cursor.SetField(record, 6, Le(static_cast<std::uint16_t>(-n), 2));
    cursor.SetField(record, 7, Double(n * 1.25));
    std::array<std::uint8_t, kBcdSize> bcd{};
    CurrencyToBcd(Currency{n * 12345}, 2, bcd);
    cursor.SetField(record, 8, Bytes(bcd.begin(), bcd.end()));
    cursor.SetField(record, 9, Bytes{1, 2, 3, 4, 5, static_cast<std::uint8_t>(n)});
    cursor.SetField(record, 10, Le(static_cast<std::uint32_t>(n) * 3600000u % 86400000u, 4));
    cursor.SetField(record, 11, Double(6.3e13 + n * 1000.0));
    cursor.SetField(record, 12, Le(static_cast<std::uint32_t>(n * 7), 2));
    cursor.SetField(record, 13, Le(static_cast<std::uint64_t>(n) << 33, 8));
    cursor.SetField(record, 14, Bytes{3, 0, 9, 8, 7});
    if (n % 3 != 0) {
      std::string note;
      for (int i = 0; i < n * 5; ++i) note += words[(i + n) % 5], note += ' ';
      cursor.SetBlobValue(record, 15, Text(note));
    }
    if (n % 2 == 0) {
      Bytes picture(static_cast<std::size_t>(120 * n));
      for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<std::uint8_t>(i % 17 == 0 ? n : i / 9);
      }
      cursor.SetBlobValue(record, 16, picture);
    }
    cursor.InsertRecord(record);
  }
  // Two deleted slots, so the free chain has a head and a link.
  if (records >= 6) {
    cursor.DeleteRecord(3);
    cursor.DeleteRecord(6);
  }
}

}  // namespace

TableFiles WriteSampleTable(int records) {
  ClearTableFolder();
  {
    SessionScope scope;
    FillSampleTable(scope.Session.OpenDirectory("fuzz", kTableFolder), records);
  }
  const std::string base = std::string(kTableFolder) + kTableName;
  return TableFiles{DiskFile(base + ".dat"), DiskFile(base + ".idx"), DiskFile(base + ".blb")};
}

const TableFiles& SampleTable() {
  static const TableFiles files = WriteSampleTable(6);
  return files;
}

namespace {

// Puts the files and empties the folder again when the pass ends: an input
// leaves nothing behind, so that libFuzzer sees its memory come back and
// runs it only once.
struct FolderScope {
  explicit FolderScope(const TableFiles& files) { PutTableFiles(files); }
  ~FolderScope() { ClearTableFolder(); }
};

// Verifies or repairs the table; true when it is found clean.
bool Check(TDataDirectory& directory, bool repair) {
  bool clean = false;
  Swallow([&] {
    TDataCursor cursor(directory, kTableName, CursorModes{.Exclusive = true, .ReadOnly = !repair});
    clean = cursor.VerifyOrRepairTable(repair);
  });
  return clean;
}

// The pass of ExerciseTable, over the files put in the folder: reading and
// verifying as the commands that only read do, through the folder opened
// for reading (no lock file, no locks), and, with repair, a repair, which
// needs the folder opened for writing, when verify finds something.
void ExercisePutTable(bool readRecords, bool repair) {
  {
    SessionScope scope;
    TDataDirectory& directory = scope.Session.OpenDirectoryForReading(kTableFolder);
    // The reading a program and the exports do: every record, every BLOB.
    Swallow([&] {
      TDataCursor cursor(directory, kTableName,
                         CursorModes{.ReadOnly = true, .SequentialScan = true});
      cursor.Open(true);
      if (!readRecords) return;
      Bytes record = cursor.NewRecordBuffer();
      const std::int32_t count = cursor.PhysicalRecordCount();
      for (std::int32_t n = 1; n <= count; ++n) {
        if (!cursor.ReadRecord(n, record)) continue;
        for (std::uint16_t f = 1; f <= cursor.Fields().size(); ++f) {
          if (cursor.Fields()[f - 1].EngineType == kTypeBlob) {
            Swallow([&] {
              cursor.OpenBlob(record, f);
              cursor.CloseBlob(record, f);
            });
          } else {
            cursor.GetField(record, f);
          }
        }
      }
    });
    if (Check(directory, false) || !repair) return;
  }
  SessionScope scope;
  Check(scope.Session.OpenDirectory("fuzz", kTableFolder), true);
}

}  // namespace

void ExerciseTable(const TableFiles& files, bool readRecords) {
  const FolderScope folder(files);
  // Half the inputs, by the size of the files, are repaired when verify
  // finds something: the repair costs the most, and an input whose size
  // changes by one byte is repaired or not.
  const std::size_t size = files.Data.size() + files.Index.size() + files.Blob.size();
  ExercisePutTable(readRecords, size % 2 == 1);
}

Bytes SampleLockFile() {
  PutTableFiles(SampleTable());
  {
    SessionScope scope;
    TDataDirectory& directory = scope.Session.OpenDirectory("seed", kTableFolder);
    TDataCursor cursor(directory, kTableName);
    cursor.Open();
  }
  return DiskFile(std::string(kTableFolder) + "strata.lck");
}

void ExerciseLockFile(const std::uint8_t* data, std::size_t size) {
  const FolderScope folder(SampleTable());
  PutDiskFile("strata.lck", Bytes(data, data + size));
  auto readAll = [](TDataCursor& cursor) {
    cursor.Open();
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) cursor.ReadRecord(n, record);
  };
  {
    SessionScope scope;
    Swallow([&] {
      TDataDirectory& directory = scope.Session.OpenDirectory("fuzz", kTableFolder);
      TDataCursor cursor(directory, kTableName);
      readAll(cursor);
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 2, Text("added"));
      cursor.InsertRecord(record);
    });
  }
  SessionScope scope;
  Swallow([&] {
    TDataDirectory& directory = scope.Session.OpenDirectoryForReading(kTableFolder);
    TDataCursor cursor(directory, kTableName, CursorModes{.ReadOnly = true});
    readAll(cursor);
  });
}

}  // namespace strata::fuzz
