// bench-insert [ROWS]: inserts ROWS (default 1,000,000) realistic rows into
// a new table through an exclusive cursor, then the same rows into an SQLite
// database in one transaction, both in a fresh folder of the current
// directory, and prints the rates. The last line is
// "engine_rows_per_s=... sqlite_rows_per_s=... ratio=..." (engine over
// SQLite).
//
// A row: an AutoInc key, three strings, a date, a currency value and, on one
// row in ten, a memo; the primary index and two secondary indexes (name;
// city and date).
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_engine.h"
#include "engine/core/data_session.h"
#include "engine/values/field_types.h"
#include "platform/process.h"

namespace {

using strata::FieldDescriptor;

struct Row {
  std::string Name;
  std::string City;
  std::string Email;
  std::int32_t Born = 0;  // day number
  double Balance = 0;
  std::string Notes;  // empty: none
};

class Numbers {
 public:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_ = 7;
};

const char* const kFirst[] = {"Anna", "Ben", "Clara", "David", "Eva", "Frank", "Greta",
                              "Hugo", "Ines", "Jonas", "Karla", "Lukas", "Mia", "Noah"};
const char* const kLast[] = {"Meyer", "Schmidt", "Keller", "Brandt", "Vogel", "Hartmann",
                             "Wolf", "Lang", "Berger", "Roth", "Frey", "Horn"};
const char* const kCities[] = {"Aachen", "Bremen", "Celle", "Dresden", "Essen", "Fulda",
                               "Goslar", "Hamburg", "Jena", "Kassel", "Leipzig", "Mainz"};

Row MakeRow(Numbers& numbers, std::int64_t i) {
  Row row;
  row.Name = std::string(kFirst[numbers.Below(std::size(kFirst))]) + " " +
             kLast[numbers.Below(std::size(kLast))];
  row.City = kCities[numbers.Below(std::size(kCities))];
  row.Email = "user" + std::to_string(i) + "@example.org";
  row.Born = 710000 + static_cast<std::int32_t>(numbers.Below(30000));
  row.Balance = static_cast<double>(numbers.Below(10000000)) / 100.0;
  if (i % 10 == 0) {
    for (int w = 0, n = 20 + static_cast<int>(numbers.Below(60)); w < n; ++w) {
      row.Notes += kLast[numbers.Below(std::size(kLast))];
      row.Notes += ' ';
    }
  }
  return row;
}

FieldDescriptor Field(std::uint16_t number, const char* name, std::uint8_t type,
                      std::uint16_t length = 0, std::uint8_t subType = strata::kSubTypeNone) {
  FieldDescriptor field;
  field.FieldNumber = number;
  field.Name = name;
  field.EngineType = type;
  field.SubType = subType;
  field.DeclaredLength = length;
  return field;
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RunEngine(const std::string& folder, const std::vector<Row>& rows) {
  strata::TDataEngine engine;
  engine.Activate();
  strata::TDataSession& session = engine.NewSession();
  strata::TDataDirectory& directory = session.OpenDirectory("bench", folder);

  std::vector<FieldDescriptor> fields = {
      Field(1, "ID", strata::kTypeInteger, 0, strata::kSubTypeAutoInc),
      Field(2, "Name", strata::kTypeString, 40),
      Field(3, "City", strata::kTypeString, 30),
      Field(4, "Email", strata::kTypeString, 60),
      Field(5, "Born", strata::kTypeDate),
      Field(6, "Balance", strata::kTypeFloat, 0, strata::kSubTypeCurrency),
      Field(7, "Notes", strata::kTypeBlob, 0, strata::kSubTypeMemo),
  };
  std::array<strata::IndexDescriptor, strata::kIndexSlotCount> indexes{};
  indexes[0].FieldNumbers[0] = 1;
  indexes[1].Name = "ByName";
  indexes[1].FieldNumbers[0] = 2;
  indexes[2].Name = "ByCityBorn";
  indexes[2].FieldNumbers[0] = 3;
  indexes[2].FieldNumbers[1] = 5;

  const auto start = std::chrono::steady_clock::now();
  strata::TDataCursor creator(directory, "people", strata::CursorModes{.Exclusive = true});
  creator.CreateTableFiles({}, fields, indexes, 2);
  {
    strata::TDataCursor cursor(directory, "people", strata::CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    std::array<std::uint8_t, 8> value{};
    for (const Row& row : rows) {
      cursor.ApplyDefaults(record);
      cursor.SetField(record, 2, Bytes(row.Name));
      cursor.SetField(record, 3, Bytes(row.City));
      cursor.SetField(record, 4, Bytes(row.Email));
      strata::StoreI32(value.data(), row.Born);
      cursor.SetField(record, 5, std::span<const std::uint8_t>(value.data(), 4));
      strata::StoreF64(value.data(), row.Balance);
      cursor.SetField(record, 6, std::span<const std::uint8_t>(value));
      if (!row.Notes.empty()) cursor.SetBlobValue(record, 7, Bytes(row.Notes));
      cursor.InsertRecord(record);
    }
    cursor.Close();
  }
  return Seconds(start);
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

double RunSqlite(const std::string& folder, const std::vector<Row>& rows) {
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder + "people.sqlite").c_str(), &db), db, "open");
  Check(sqlite3_exec(db,
                     "CREATE TABLE people(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, "
                     "city TEXT, email TEXT, born INTEGER, balance REAL, notes BLOB);"
                     "CREATE INDEX by_name ON people(name);"
                     "CREATE INDEX by_city_born ON people(city, born);",
                     nullptr, nullptr, nullptr),
        db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db,
                           "INSERT INTO people(name, city, email, born, balance, notes) "
                           "VALUES(?, ?, ?, ?, ?, ?)",
                           -1, &insert, nullptr),
        db, "prepare");
  for (const Row& row : rows) {
    sqlite3_bind_text(insert, 1, row.Name.data(), static_cast<int>(row.Name.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, row.City.data(), static_cast<int>(row.City.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, row.Email.data(), static_cast<int>(row.Email.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(insert, 4, row.Born);
    sqlite3_bind_double(insert, 5, row.Balance);
    if (row.Notes.empty()) {
      sqlite3_bind_null(insert, 6);
    } else {
      sqlite3_bind_blob(insert, 6, row.Notes.data(), static_cast<int>(row.Notes.size()),
                        SQLITE_STATIC);
    }
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t count = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (count <= 0) {
    std::fprintf(stderr, "usage: bench-insert [ROWS]\n");
    return 2;
  }
  const std::string folder = strata::platform::CurrentDirectory() + "bench-insert-data/";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  Numbers numbers;
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 1; i <= count; ++i) rows.push_back(MakeRow(numbers, i));

  const double engineSeconds = RunEngine(folder, rows);
  const double sqliteSeconds = RunSqlite(folder, rows);
  std::filesystem::remove_all(folder);

  const double engineRate = static_cast<double>(count) / engineSeconds;
  const double sqliteRate = static_cast<double>(count) / sqliteSeconds;
  std::printf("rows=%lld engine_s=%.3f sqlite_s=%.3f\n", static_cast<long long>(count),
              engineSeconds, sqliteSeconds);
  std::printf("engine_rows_per_s=%.0f sqlite_rows_per_s=%.0f ratio=%.3f\n", engineRate,
              sqliteRate, engineRate / sqliteRate);
  return 0;
}
