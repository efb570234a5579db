// The "people" table the write-path and restructure benchmarks share: its
// rows, made by a fixed pseudo-random sequence so every run writes the same
// data, its engine structure and its SQLite counterpart.
//
// A row: an AutoInc key, three strings, a date, a currency value and, on one
// row in ten, a memo; the primary index and two secondary indexes (name;
// city and date).
#pragma once

#include <sqlite3.h>

#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"
#include "engine/values/field_types.h"
#include "tests/support/definitions.h"
#include "tests/support/numbers.h"

namespace strata::bench {

using testing::FieldDef;

struct Row {
  std::string Name;
  std::string City;
  std::string Email;
  std::int32_t Born = 0;  // day number
  double Balance = 0;
  std::string Notes;  // empty: none
};

// The sequence the people rows are made from.
class Numbers : public testing::Numbers {
 public:
  Numbers() : testing::Numbers(7) {}
};

inline constexpr const char* kFirst[] = {"Anna",  "Ben",   "Clara", "David", "Eva",
                                         "Frank", "Greta", "Hugo",  "Ines",  "Jonas",
                                         "Karla", "Lukas", "Mia",   "Noah"};
inline constexpr const char* kLast[] = {"Meyer", "Schmidt", "Keller", "Brandt",
                                        "Vogel", "Hartmann", "Wolf",  "Lang",
                                        "Berger", "Roth",    "Frey",  "Horn"};
inline constexpr const char* kCities[] = {"Aachen", "Bremen", "Celle",   "Dresden",
                                          "Essen",  "Fulda",  "Goslar",  "Hamburg",
                                          "Jena",   "Kassel", "Leipzig", "Mainz"};

// Row i (from 1) of the sequence; rows must be made in order.
inline Row MakeRow(Numbers& numbers, std::int64_t i) {
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

inline std::vector<FieldDescriptor> PeopleFields() {
  return {
      FieldDef(1, "ID").AutoInc(),
      FieldDef(2, "Name").String(40),
      FieldDef(3, "City").String(30),
      FieldDef(4, "Email").String(60),
      FieldDef(5, "Born").Date(),
      FieldDef(6, "Balance").Currency(),
      FieldDef(7, "Notes").Memo(),
  };
}

// Slot 0 on ID, slot 1 "ByName", slot 2 "ByCityBorn".
inline constexpr int kPeopleSecondaryIndexes = 2;
inline std::array<IndexDescriptor, kIndexSlotCount> PeopleIndexes() {
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  indexes[0].FieldNumbers[0] = 1;
  indexes[1].Name = "ByName";
  indexes[1].FieldNumbers[0] = 2;
  indexes[2].Name = "ByCityBorn";
  indexes[2].FieldNumbers[0] = 3;
  indexes[2].FieldNumbers[1] = 5;
  return indexes;
}

inline std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Inserts one row through an open cursor on a people table; record is the
// cursor's reusable record buffer.
inline void InsertPeopleRow(TDataCursor& cursor, std::vector<std::uint8_t>& record,
                            const Row& row) {
  std::array<std::uint8_t, 8> value{};
  cursor.ApplyDefaults(record);
  cursor.SetField(record, 2, Bytes(row.Name));
  cursor.SetField(record, 3, Bytes(row.City));
  cursor.SetField(record, 4, Bytes(row.Email));
  StoreI32(value.data(), row.Born);
  cursor.SetField(record, 5, std::span<const std::uint8_t>(value.data(), 4));
  StoreF64(value.data(), row.Balance);
  cursor.SetField(record, 6, std::span<const std::uint8_t>(value));
  if (!row.Notes.empty()) cursor.SetBlobValue(record, 7, Bytes(row.Notes));
  cursor.InsertRecord(record);
}

// The SQLite people table and its two secondary indexes.
// Creates the people table in the directory and fills it with `count` rows.
inline void BuildPeopleTable(TDataDirectory& directory, std::int64_t count) {
  std::vector<FieldDescriptor> fields = PeopleFields();
  auto indexes = PeopleIndexes();
  TDataCursor creator(directory, "people", CursorModes{.Exclusive = true});
  creator.CreateTableFiles({}, {fields, indexes, kPeopleSecondaryIndexes});
  TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
  cursor.Open();
  std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
  Numbers numbers;
  for (std::int64_t i = 1; i <= count; ++i) InsertPeopleRow(cursor, record, MakeRow(numbers, i));
  cursor.Close();
}

// A new empty folder under $TMPDIR (or /tmp) named after the benchmark,
// with its trailing "/".
inline std::string MakeScratch(const std::string& benchmark) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = tmp != nullptr ? tmp : "/tmp";
  pattern.append("/").append(benchmark).append("-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  return pattern + "/";
}

inline constexpr const char* kPeopleSqliteSchema =
    "CREATE TABLE people(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, "
    "city TEXT, email TEXT, born INTEGER, balance REAL, notes BLOB);"
    "CREATE INDEX by_name ON people(name);"
    "CREATE INDEX by_city_born ON people(city, born);";
inline constexpr const char* kPeopleSqliteInsert =
    "INSERT INTO people(name, city, email, born, balance, notes) VALUES(?, ?, ?, ?, ?, ?)";

// Throws std::runtime_error "sqlite: <what>: <SQLite's message>" on any
// result but success.
inline void Check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  throw std::runtime_error(std::string("sqlite: ") + what + ": " + sqlite3_errmsg(db));
}

// Binds, runs and resets a prepared kPeopleSqliteInsert for one row.
inline void InsertPeopleRow(sqlite3* db, sqlite3_stmt* insert, const Row& row) {
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

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace strata::bench
