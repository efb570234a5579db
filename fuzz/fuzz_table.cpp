#include "fuzz/fuzz_table.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

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

// The engine with short lock waits: a fuzzed lock file must not make each
// input wait for seconds.
TDataEngine& Engine() {
  static TDataEngine* engine = [] {
    auto* created = new TDataEngine;
    created->Options().TableLocks = TableLockSettings{1, 2, 1, 2, 1, 2};
    created->Options().LockFile = LockFileTiming{2, 1, 1, 2};
    created->Activate();
    return created;
  }();
  return *engine;
}

TDataSession& QuickSession() {
  TDataSession& session = Engine().NewSession();
  session.SetLockRetryCount(2);
  session.SetLockWaitTime(1);
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

void WriteSampleTable(const std::string& folder, int records) {
  SessionScope scope;
  TDataDirectory& directory = scope.Session.OpenDirectory("fuzz", folder);
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
      for (int i = 0; i < n * 40; ++i) note += words[(i + n) % 5], note += ' ';
      cursor.SetBlobValue(record, 15, Text(note));
    }
    if (n % 2 == 0) {
      Bytes picture(static_cast<std::size_t>(300 * n));
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

const TableFiles& SampleTable() {
  static const TableFiles files = [] {
    const std::string& folder = ScratchFolder();
    WriteSampleTable(folder, 8);
    const std::string base = folder + kTableName;
    return TableFiles{ReadFile(base + ".dat"), ReadFile(base + ".idx"), ReadFile(base + ".blb")};
  }();
  return files;
}

void ExerciseTable(const TableFiles& files) {
  const std::string& folder = ScratchFolder();
  const std::string base = folder + kTableName;
  WriteFile(base + ".dat", files.Data.data(), files.Data.size());
  WriteFile(base + ".idx", files.Index.data(), files.Index.size());
  WriteFile(base + ".blb", files.Blob.data(), files.Blob.size());

  SessionScope scope;
  TDataDirectory& directory = scope.Session.OpenDirectory("fuzz", folder);
  // The reading a program and the exports do: every record, every BLOB.
  Swallow([&] {
    TDataCursor cursor(directory, kTableName,
                       CursorModes{.ReadOnly = true, .SequentialScan = true});
    cursor.Open(true);
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
  auto check = [&](bool repair) {
    Swallow([&] {
      TDataCursor cursor(directory, kTableName,
                         CursorModes{.Exclusive = true, .ReadOnly = !repair});
      cursor.VerifyOrRepairTable(repair);
    });
  };
  check(false);
  check(true);
  check(false);
}

void ExerciseLockFile(const std::uint8_t* data, std::size_t size) {
  const TableFiles& files = SampleTable();
  const std::string& folder = ScratchFolder();
  const std::string base = folder + kTableName;
  WriteFile(base + ".dat", files.Data.data(), files.Data.size());
  WriteFile(base + ".idx", files.Index.data(), files.Index.size());
  WriteFile(base + ".blb", files.Blob.data(), files.Blob.size());
  WriteFile(folder + "strata.lck", data, size);
  auto readAll = [](TDataCursor& cursor) {
    cursor.Open();
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) cursor.ReadRecord(n, record);
  };
  {
    SessionScope scope;
    Swallow([&] {
      TDataDirectory& directory = scope.Session.OpenDirectory("fuzz", folder);
      TDataCursor cursor(directory, kTableName);
      readAll(cursor);
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 2, Text("added"));
      cursor.InsertRecord(record);
    });
  }
  SessionScope scope;
  Swallow([&] {
    TDataDirectory& directory = scope.Session.OpenDirectoryForReading(folder);
    TDataCursor cursor(directory, kTableName, CursorModes{.ReadOnly = true});
    readAll(cursor);
  });
}

}  // namespace strata::fuzz
