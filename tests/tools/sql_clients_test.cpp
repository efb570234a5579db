// The SQL exports of every table loaded by the clients people use: the
// sqlite3 shell and psql against a PostgreSQL server of the test's own.
// Every value read back from the client equals the table's, byte for byte
// for texts: CR LF line ends, every other control character, backslashes,
// quotes and a NUL byte (SQLite keeps it; PostgreSQL text cannot, so that
// export stops unless --nul-as names a substitute). The CSV export quotes
// a value that reads like its NULL text.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/cursors/data_cursor.h"
#include "engine/common/byte_order.h"
#include "engine/values/field_types.h"
#include "platform/process.h"
#include "tests/tools/export_fixture.h"
#include "tests/tools/postgres_server_test_support.h"
#include "tests/tools/program_run.h"

namespace strata::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kNulSubstitute[] = "<NUL>";

// The memo texts of the table Controls (Windows-1252), by Number.
std::vector<std::string> ControlTexts() {
  std::string everyControl;
  for (int c = 1; c < 0x20; ++c) everyControl += static_cast<char>(c);
  return {
      "line one\r\nline two\r\n",
      everyControl + "\x7F \\r\\n literal, 'quoted' \"double\" caf\xE9 \x80",
      std::string("before\0after\0", 13),
      "NULL",
      "\\~^`|#@$%& all the markers, and a CR\r",
  };
}

// Controls: Number, Line (a string with a tab, a backslash and a CR LF) and
// Text (a memo); the last row has NULL in Line and Text.
void CreateControls(const std::string& directory) {
  TStrataTable table;
  table.SetDatabaseName(directory);
  table.SetTableName("Controls");
  table.SetExclusive(true);
  table.FieldDefs().Add("Number", ftInteger);
  table.FieldDefs().Add("Line", ftString, 40);
  table.FieldDefs().Add("Text", ftMemo);
  table.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "", std::nullopt, "", "");
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& dir = session.OpenDirectory("", directory);
  {
    TDataCursor cursor(dir, "Controls", CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    const std::vector<std::string> texts = ControlTexts();
    for (std::size_t i = 0; i <= texts.size(); ++i) {
      cursor.ApplyDefaults(record);
      std::vector<std::uint8_t> number(8);
      StoreI32(number.data(), static_cast<std::int32_t>(i + 1));
      cursor.SetField(record, 1, std::span<const std::uint8_t>(number));
      if (i < texts.size()) {
        const std::string line = "tab\there, back\\slash, line\r\nend" + std::string(1, '\0');
        cursor.SetField(record, 2,
                        std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
        cursor.SetBlobValue(record, 3,
                            std::span(reinterpret_cast<const std::uint8_t*>(texts[i].data()),
                                      texts[i].size()));
      }
      cursor.InsertRecord(record);
      cursor.FreeBlobs();
    }
    cursor.Close();
  }
  session.CloseDirectory(dir);
}

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

std::string Unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

// A time or timestamp text without the zeros that end its fraction, and
// with a blank between date and time: PostgreSQL writes 12:00:00 for the
// export's 12:00:00.000.
std::string PlainMoment(std::string text) {
  std::replace(text.begin(), text.end(), 'T', ' ');
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

// The database (the export fixture and Controls) and the server are made
// once for the suite; each test has a scratch folder of its own.
class SqlClientsTest : public UpdateRunTest {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = platform::TemporaryPath() + "sql-clients-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    shared_ = pattern + "/";
    {
      DefaultComponents components;
      WriteExportDatabase(shared_);
      CreateControls(shared_);
    }
    fs::remove(shared_ + "strata.lck");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    fs::remove_all(shared_);
  }
  // The server, started by the first test that needs it; null when it
  // cannot start (the reason in failure_).
  static PostgresServer* Server() {
    if (server_ == nullptr && failure_.empty()) {
      server_ = new PostgresServer;
      if (!server_->Start()) {
        failure_ = server_->Failure();
        delete server_;
        server_ = nullptr;
      }
    }
    return server_;
  }
  void SetUp() override {
    UpdateRunTest::SetUp();
    DefaultSession().SetActive(true);
    dir_ = shared_;
    scratch_ = root_.string() + "/";
  }
  RunResult Run(const std::string& args) { return RunStrataProgram(args, scratch_); }
  std::vector<std::string> Tables() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().extension() == ".dat") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string PasswordOf(const std::string& table) { return table == "Secret" ? "pw" : ""; }
  // Every table's SQL export in one file; extra: options per table.
  std::string ExportAll(const std::string& dialect,
                        const std::function<std::string(const std::string&)>& extra) {
    const std::string file = scratch_ + dialect + ".sql";
    std::string all;
    for (const std::string& table : Tables()) {
      const RunResult run = Run("export '" + dir_ + "' '" + table +
                                "' --format sql --password pw --dialect " + dialect + " " +
                                extra(table));
      EXPECT_EQ(run.status, 0) << table << ": " << run.err;
      all += run.out;
    }
    std::ofstream(file, std::ios::binary) << all;
    return file;
  }

  static std::string shared_;
  static PostgresServer* server_;
  static std::string failure_;
  std::string dir_;
  std::string scratch_;
};

std::string SqlClientsTest::shared_;
PostgresServer* SqlClientsTest::server_ = nullptr;
std::string SqlClientsTest::failure_;

TEST_F(SqlClientsTest, TheSqliteShellLoadsEveryValueUnchanged) {
  const std::string sql = ExportAll("sqlite", [](const std::string&) { return ""; });
  const std::string db = scratch_ + "loaded.db";
  const std::string err = scratch_ + "sqlite3.err";
  ASSERT_EQ(std::system(("sqlite3 -bail '" + db + "' <'" + sql + "' 2>'" + err + "'").c_str()), 0)
      << ReadWholeFile(err);
  EXPECT_EQ(ReadWholeFile(err), "");
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const std::string& table : Tables()) {
    SCOPED_TRACE(table);
    ExpectSqliteRows(handle, table, EngineCells(dir_, table, PasswordOf(table)));
  }
  sqlite3_close(handle);
}

TEST_F(SqlClientsTest, PsqlLoadsEveryValueUnchangedAndANulNeedsASubstitute) {
  // Without a substitute the export stops at the NUL and names it.
  const RunResult refused =
      Run("export '" + dir_ + "' Controls --format sql --dialect postgresql");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err,
            "strata: table 'Controls', record 3, field 'Text': the text holds a NUL byte, which "
            "PostgreSQL cannot store; --nul-as TEXT writes TEXT in its place\n");
  EXPECT_EQ(refused.out, "");

  PostgresServer* server = Server();
  if (server == nullptr) GTEST_SKIP() << "the PostgreSQL server could not start: " << failure_;
  const std::string sql = ExportAll("postgresql", [](const std::string& table) {
    return table == "Controls" ? std::string("--nul-as '") + kNulSubstitute + "'" : std::string();
  });
  const RunResult load = server->Psql("-f '" + sql + "'", scratch_);
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.err, "");

  // One query for every table: a line naming the table, then one line per
  // row, each value as "N" for NULL or "V" and the hex of its text, in the
  // order of loading.
  const std::vector<std::string> tables = Tables();
  std::vector<EngineTable> engines;
  std::string queries;
  for (const std::string& table : tables) {
    engines.push_back(EngineCells(dir_, table, PasswordOf(table)));
    std::string select = "SELECT concat_ws(','";
    for (const std::string& name : engines.back().Names) {
      const std::string column = "\"" + name + "\"";
      select += ", CASE WHEN " + column + " IS NULL THEN 'N' ELSE 'V' || encode(convert_to(" +
                column + "::text, 'UTF8'), 'hex') END";
    }
    queries += "\\echo #\nSELECT '#" + table + "';\n" + select + ") FROM \"" + table +
               "\" ORDER BY ctid;\n";
  }
  std::ofstream(scratch_ + "select.sql") << queries;
  const RunResult rows = server->Psql("-A -t -f '" + scratch_ + "select.sql'", scratch_);
  ASSERT_EQ(rows.status, 0) << rows.err;
  std::map<std::string, std::vector<std::string>> loaded;
  {
    std::istringstream lines(rows.out);
    std::vector<std::string>* rowsOf = nullptr;
    for (std::string line; std::getline(lines, line);) {
      if (line == "#") continue;
      if (line.starts_with("#")) {
        rowsOf = &loaded[line.substr(1)];
      } else if (rowsOf != nullptr) {
        rowsOf->push_back(line);
      }
    }
  }
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const std::string& table = tables[t];
    SCOPED_TRACE(table);
    const EngineTable& engine = engines[t];
    const std::vector<std::string>& lines = loaded[table];
    ASSERT_EQ(lines.size(), engine.Rows.size());
    for (std::size_t r = 0; r < lines.size(); ++r) {
      const std::string& line = lines[r];
      std::vector<std::string> cells;
      for (std::size_t start = 0;;) {
        const std::size_t end = line.find(',', start);
        cells.push_back(line.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
      }
      ASSERT_EQ(cells.size(), engine.Names.size()) << line;
      for (std::size_t f = 0; f < cells.size(); ++f) {
        SCOPED_TRACE("row " + std::to_string(r) + " " + engine.Names[f]);
        const Cell& expected = engine.Rows[r][f];
        ASSERT_EQ(cells[f] != "N", expected.has_value());
        if (!expected) continue;
        std::string got = Unhex(std::string_view(cells[f]).substr(1));
        std::string want = *expected;
        switch (engine.EngineTypes[f]) {
          case kTypeFloat:
          case kTypeBcd:
            EXPECT_EQ(std::strtod(got.c_str(), nullptr), std::strtod(want.c_str(), nullptr));
            continue;
          case kTypeTime:
          case kTypeTimestamp:
            got = PlainMoment(got);
            want = PlainMoment(want);
            break;
          default:
            if (engine.Binary[f]) {
              ASSERT_TRUE(got.starts_with("\\x")) << got;
              got = Unhex(std::string_view(got).substr(2));
              break;
            }
            for (std::size_t at = want.find('\0'); at != std::string::npos; at = want.find('\0', at)) {
              want.replace(at, 1, kNulSubstitute);
            }
        }
        EXPECT_EQ(Hex(got), Hex(want)) << got;
      }
    }
  }
}

TEST_F(SqlClientsTest, CsvQuotesAValueThatReadsLikeItsNullText) {
  const RunResult named = Run("export '" + dir_ + "' Controls --fields Number,Text --null NULL");
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_NE(named.out.find("\r\n4,\"NULL\"\r\n"), std::string::npos) << named.out;
  EXPECT_TRUE(named.out.ends_with("\r\n6,NULL\r\n")) << named.out;
  // A NUL is kept, inside quotes; a --nul-as text replaces it.
  EXPECT_NE(named.out.find(std::string("\r\n3,\"before\0after\0\"\r\n", 21)), std::string::npos);
  const RunResult substituted =
      Run("export '" + dir_ + "' Controls --fields Number,Text --nul-as '?' --format JSONL");
  ASSERT_EQ(substituted.status, 0) << substituted.err;
  EXPECT_NE(substituted.out.find("{\"Number\":3,\"Text\":\"before?after?\"}\n"), std::string::npos)
      << substituted.out;

  const RunResult bad = Run("export '" + dir_ + "' Controls --null 'a,b'");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("the --null text may hold no comma, quote, CR or LF"), std::string::npos)
      << bad.err;
}

}  // namespace
}  // namespace strata::testing
