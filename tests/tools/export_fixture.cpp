#include "tests/tools/export_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "engine/values/bcd.h"
#include "engine/values/date_time.h"
#include "engine/values/field_types.h"
#include "tools/sample_database.h"

namespace strata::testing {

namespace {

std::string Date(std::int64_t day) {
  const auto date = DecodeDayNumber(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date->year, date->month, date->day);
  return text;
}

std::string Time(std::int64_t ms) {
  char text[64];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

std::string Shortest(double value) {
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

Cell Render(TDataCursor& cursor, std::span<std::uint8_t> record, std::uint16_t number,
            const FieldDescriptor& f) {
  if (FieldIsNull(record, f)) return std::nullopt;
  const auto bytes = FieldBytes(record, f);
  switch (f.EngineType) {
    case kTypeString: return Windows1252ToUtf8(ReadString(record, f));
    case kTypeBlob: {
      cursor.OpenBlob(record, number);
      const auto content = cursor.BlobValue(record, number);
      std::string raw(reinterpret_cast<const char*>(content.data()), content.size());
      cursor.CloseBlob(record, number);
      const bool memo = f.SubType == kSubTypeMemo;
      return memo ? Windows1252ToUtf8(raw) : raw;
    }
    case kTypeBoolean: return LoadU16(bytes.data()) != 0 ? "true" : "false";
    case kTypeSmallint: return std::to_string(LoadI16(bytes.data()));
    case kTypeWord: return std::to_string(LoadU16(bytes.data()));
    case kTypeInteger: return std::to_string(LoadI32(bytes.data()));
    case kTypeLargeint: return std::to_string(LoadI64(bytes.data()));
    case kTypeFloat: return Shortest(LoadF64(bytes.data()));
    case kTypeBcd: {
      // Values of the tests carry at most four places.
      const Currency value = *BcdToCurrency(std::span<const std::uint8_t, kBcdSize>(bytes.data(), kBcdSize));
      const int places = bytes[1] & 0x3F;
      const long long whole = value / 10000;
      long long fraction = std::llabs(value % 10000);
      for (int p = places; p < 4; ++p) fraction /= 10;
      char text[160];
      std::snprintf(text, sizeof text, "%s%lld.%0*lld", value < 0 && whole == 0 ? "-" : "", whole,
                    places, fraction);
      return places == 0 ? std::to_string(whole) : std::string(text);
    }
    case kTypeDate: return Date(LoadI32(bytes.data()));
    case kTypeTime: return Time(LoadI32(bytes.data()));
    case kTypeTimestamp: {
      const auto total = static_cast<std::int64_t>(std::llround(LoadF64(bytes.data())));
      return Date(total / kMillisecondsPerDay) + "T" + Time(total % kMillisecondsPerDay);
    }
    default: return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
}

void SetBytes(TDataCursor& cursor, std::vector<std::uint8_t>& record, std::uint16_t number,
              std::vector<std::uint8_t> value) {
  value.resize(std::max<std::size_t>(value.size(), 64), 0);
  cursor.SetField(record, number, std::span<const std::uint8_t>(value));
}

std::vector<std::uint8_t> Text(std::string_view text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

template <typename Store, typename Value>
std::vector<std::uint8_t> Encoded(Store store, Value value) {
  std::vector<std::uint8_t> bytes(8);
  store(bytes.data(), value);
  return bytes;
}

// Field positions of "Everything".
enum : std::uint16_t {
  kName = 1, kSmall, kInt, kWord, kLarge, kFloat, kMoney, kAmount, kFlag, kDay, kClock, kMoment,
  kRaw, kVar, kNotes, kPicture, kCounter
};

void CreateEverything(const std::string& directory) {
  TStrataTable table;
  table.SetDatabaseName(directory);
  table.SetTableName("Everything");
  table.SetExclusive(true);
  TStrataFieldDefs& defs = table.FieldDefs();
  defs.Add("Name", ftString, 30);
  defs.Add("Small", ftSmallint);
  defs.Add("Int", ftInteger);
  defs.Add("Word", ftWord);
  defs.Add("Large", ftLargeint);
  defs.Add("Float", ftFloat);
  defs.Add("Money", ftCurrency);
  defs.Add("Amount", ftBCD, 2);
  defs.Add("Flag", ftBoolean);
  defs.Add("Day", ftDate);
  defs.Add("Clock", ftTime);
  defs.Add("Moment", ftDateTime);
  defs.Add("Raw", ftBytes, 4);
  defs.Add("Var", ftVarBytes, 6);
  defs.Add("Notes", ftMemo);
  defs.Add("Picture", ftBlob);
  defs.Add("Counter", ftLargeint);
  table.IndexDefs().Add("", "RecordID", TIndexOptions{ixPrimary, ixUnique});
  table.IndexDefs().Add("ByName", "Name", TIndexOptions{ixCaseInsensitive});
  table.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "", std::nullopt, "", "");

  DefaultSession().SetActive(true);
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& dir = session.OpenDirectory("", directory);
  {
    TDataCursor cursor(dir, "Everything", CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    cursor.ApplyDefaults(record);
    cursor.InsertRecord(record);  // every field NULL

    cursor.ApplyDefaults(record);
    SetBytes(cursor, record, kName, Text("Caf\xE9 \x80 \"quoted\", line\r\nbreak"));
    SetBytes(cursor, record, kSmall, Encoded(StoreI16, std::int16_t{-12345}));
    SetBytes(cursor, record, kInt, Encoded(StoreI32, std::int32_t{-2000000000}));
    SetBytes(cursor, record, kWord, Encoded(StoreU16, std::uint16_t{65535}));
    SetBytes(cursor, record, kLarge, Encoded(StoreI64, std::int64_t{9007199254740993}));
    SetBytes(cursor, record, kFloat, Encoded(StoreF64, 0.1 + 0.2));
    SetBytes(cursor, record, kMoney, Encoded(StoreF64, 1234.5678));
    std::vector<std::uint8_t> bcd(kBcdSize);
    CurrencyToBcd(-12345600, 2, std::span<std::uint8_t, kBcdSize>(bcd.data(), kBcdSize));
    SetBytes(cursor, record, kAmount, bcd);
    SetBytes(cursor, record, kFlag, Encoded(StoreU16, std::uint16_t{1}));
    SetBytes(cursor, record, kDay, Encoded(StoreI32, std::int32_t{738951}));  // 2024-03-07
    SetBytes(cursor, record, kClock, Encoded(StoreI32, std::int32_t{32730007}));
    SetBytes(cursor, record, kMoment, Encoded(StoreF64, 738951.0 * 86400000 + 45296789));
    SetBytes(cursor, record, kRaw, {0x00, 0xFF, 0x10, 0x80});
    SetBytes(cursor, record, kVar, {'a', 0, 'b'});
    const std::string memo = "Gr\xFC\xDF" "e, " + std::string(1500, 'x') + " \xE9nd";
    cursor.SetBlobValue(record, kNotes,
                        std::span(reinterpret_cast<const std::uint8_t*>(memo.data()), memo.size()));
    std::vector<std::uint8_t> picture(1300);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 7);
    cursor.SetBlobValue(record, kPicture, picture);
    SetBytes(cursor, record, kCounter, Encoded(StoreI64, std::int64_t{-1}));
    cursor.InsertRecord(record);
    cursor.FreeBlobs();
    cursor.Close();
  }
  session.CloseDirectory(dir);
}

void CreateSecret(const std::string& directory) {
  CreateNumberAndTextTable(directory, "Secret", "Code", "Word", 10, "pw");
  TDataSession& session = DefaultSession().DataSession();
  session.AddPassword("pw");
  TDataDirectory& dir = session.OpenDirectory("", directory);
  {
    TDataCursor cursor(dir, "Secret", CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    for (std::int32_t code = 1; code <= 3; ++code) {
      cursor.ApplyDefaults(record);
      SetBytes(cursor, record, 1, Encoded(StoreI32, code));
      SetBytes(cursor, record, 2, Text("s\xE9same"));
      cursor.InsertRecord(record);
    }
    cursor.Close();
  }
  session.CloseDirectory(dir);
  session.RemovePassword("pw");
}

}  // namespace

void CreateNumberAndTextTable(const std::string& directory, const std::string& name,
                              const std::string& numberField, const std::string& textField,
                              std::int32_t size, const std::string& password) {
  TStrataTable table;
  table.SetDatabaseName(directory);
  table.SetTableName(name);
  table.SetExclusive(true);
  table.FieldDefs().Add(numberField, ftInteger);
  table.FieldDefs().Add(textField, ftString, size);
  table.CreateTable(0, 1, 0, !password.empty(), password, "", 4096, 512, -1, "", std::nullopt, "",
                    "");
}

EngineTable EngineCells(const std::string& directory, const std::string& table,
                        const std::string& password) {
  TDataSession& session = DefaultSession().DataSession();
  session.AddPassword(password);
  TDataDirectory& dir = session.OpenDirectory("", directory);
  EngineTable result;
  {
    TDataCursor cursor(dir, table, CursorModes{.ReadOnly = true});
    cursor.Open();
    const std::vector<FieldDescriptor> fields(cursor.Fields().begin(), cursor.Fields().end());
    for (const FieldDescriptor& f : fields) {
      result.Names.push_back(Windows1252ToUtf8(f.Name));
      result.EngineTypes.push_back(f.EngineType);
      result.Binary.push_back(f.EngineType == kTypeBytes || f.EngineType == kTypeVarBytes ||
                              (f.EngineType == kTypeBlob && f.SubType != kSubTypeMemo));
    }
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      std::vector<Cell> row;
      for (std::uint16_t i = 0; i < fields.size(); ++i) {
        row.push_back(Render(cursor, record, static_cast<std::uint16_t>(i + 1), fields[i]));
      }
      result.Rows.push_back(std::move(row));
    }
  }
  session.CloseDirectory(dir);
  if (!password.empty()) session.RemovePassword(password);
  return result;
}

void WriteExportDatabase(const std::string& directory) {
  tools::WriteSampleDatabase(directory, kSampleRows);
  CreateEverything(directory);
  CreateSecret(directory);
  std::filesystem::remove(directory + "strata.lck");
}

std::string FolderSnapshot(const std::string& directory) {
  std::ostringstream snapshot;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    snapshot << path.filename().string() << ' ' << std::hash<std::string>{}(bytes) << ' '
             << bytes.size() << ' '
             << std::filesystem::last_write_time(path).time_since_epoch().count() << '\n';
  }
  return snapshot.str();
}

std::string Base64Decoded(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

void ExpectSqliteRows(sqlite3* db, const std::string& name, const EngineTable& table) {
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, ("SELECT * FROM \"" + name + "\" ORDER BY rowid").c_str(), -1,
                               &statement, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  std::size_t r = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ASSERT_LT(r, table.Rows.size());
    for (std::size_t f = 0; f < table.Names.size(); ++f) {
      const int column = static_cast<int>(f);
      const Cell& engine = table.Rows[r][f];
      SCOPED_TRACE("row " + std::to_string(r) + " " + table.Names[f]);
      const int type = sqlite3_column_type(statement, column);
      if (type == SQLITE_NULL) {
        EXPECT_FALSE(engine.has_value());
        continue;
      }
      ASSERT_TRUE(engine.has_value());
      if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
        const void* bytes = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(statement, column))
                                                : sqlite3_column_blob(statement, column);
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
        EXPECT_EQ(std::string(static_cast<const char*>(bytes), size), *engine);
        continue;
      }
      const double stored = sqlite3_column_double(statement, column);
      const double expected = *engine == "true"    ? 1
                              : *engine == "false" ? 0
                                                   : std::strtod(engine->c_str(), nullptr);
      if (type == SQLITE_INTEGER && table.EngineTypes[f] != kTypeBcd &&
          table.EngineTypes[f] != kTypeBoolean) {
        EXPECT_EQ(std::to_string(sqlite3_column_int64(statement, column)), *engine);
      } else {
        EXPECT_EQ(stored, expected);
      }
    }
    ++r;
  }
  EXPECT_EQ(r, table.Rows.size());
  sqlite3_finalize(statement);
}

}  // namespace strata::testing
