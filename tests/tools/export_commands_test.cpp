// The reading commands run as a program over the sample database and the
// tables of export_fixture.h: CSV, JSON and SQLite exports read back and
// compared value by value with the engine's records, the schema run through
// SQLite, the dry run against the real update, a read-only copy, encrypted
// tables and bad input.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "engine/core/journal/table_journal.h"
#include "engine/values/field_types.h"
#include "tests/tools/export_fixture.h"
#include "tests/tools/program_run.h"
#include "tools/command_line.h"

namespace strata::testing {
namespace {

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& cell = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else {
      cell += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

bool IsFloat(std::uint8_t type) { return type == kTypeFloat; }

// The cell of an export against the engine's value.
void ExpectCell(const std::string& where, const EngineTable& table, std::size_t field,
                const Cell& engine, const std::optional<std::string>& exported) {
  SCOPED_TRACE(where + " field " + table.Names[field]);
  ASSERT_EQ(engine.has_value(), exported.has_value());
  if (!engine) return;
  if (IsFloat(table.EngineTypes[field])) {
    EXPECT_EQ(std::strtod(exported->c_str(), nullptr), std::strtod(engine->c_str(), nullptr));
  } else if (table.Binary[field]) {
    EXPECT_EQ(Base64Decoded(*exported), *engine);
  } else {
    EXPECT_EQ(*exported, *engine);
  }
}

class ExportCommandsTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    dir_ = data_.string() + "/";
    WriteExportDatabase(dir_);
  }
  RunResult Run(const std::string& args) { return RunStrataProgram(args, dir_); }
  std::string Dir() const { return "'" + dir_ + "'"; }
  std::vector<std::string> Tables() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().extension() == ".dat") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string PasswordOf(const std::string& table) { return table == "Secret" ? "pw" : ""; }

  std::string dir_;
};

TEST_F(ExportCommandsTest, CsvAndJsonOfEveryTableGiveTheEngineValues) {
  for (const std::string& name : Tables()) {
    SCOPED_TRACE(name);
    const EngineTable table = EngineCells(dir_, name, PasswordOf(name));
    const std::string common = "export " + Dir() + " '" + name + "' --password pw";

    const RunResult csv = Run(common);
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = ParseCsv(csv.out);
    ASSERT_EQ(rows.size(), table.Rows.size() + 1);
    EXPECT_EQ(rows[0], table.Names);
    for (std::size_t r = 0; r < table.Rows.size(); ++r) {
      ASSERT_EQ(rows[r + 1].size(), table.Names.size());
      for (std::size_t f = 0; f < table.Names.size(); ++f) {
        const std::string& cell = rows[r + 1][f];
        ExpectCell("csv", table, f, table.Rows[r][f], cell.empty() ? Cell() : Cell(cell));
      }
    }

    for (const char* format : {"json", "jsonl"}) {
      const RunResult json = Run(common + " --format " + format);
      ASSERT_EQ(json.status, 0) << json.err;
      std::vector<nlohmann::ordered_json> objects;
      if (std::string(format) == "json") {
        for (auto& object : nlohmann::ordered_json::parse(json.out)) objects.push_back(object);
      } else {
        std::istringstream lines(json.out);
        for (std::string line; std::getline(lines, line);) {
          objects.push_back(nlohmann::ordered_json::parse(line));
        }
      }
      ASSERT_EQ(objects.size(), table.Rows.size());
      for (std::size_t r = 0; r < objects.size(); ++r) {
        std::vector<std::string> keys;
        for (const auto& item : objects[r].items()) keys.push_back(item.key());
        EXPECT_EQ(keys, table.Names);
        for (std::size_t f = 0; f < table.Names.size(); ++f) {
          const auto& value = objects[r][table.Names[f]];
          Cell exported;
          if (value.is_string()) {
            exported = value.get<std::string>();
          } else if (value.is_boolean()) {
            exported = value.get<bool>() ? "true" : "false";
          } else if (value.is_number_float()) {
            exported = value.dump();
          } else if (value.is_number()) {
            exported = std::to_string(value.get<std::int64_t>());
          }
          ExpectCell(format, table, f, table.Rows[r][f], exported);
        }
      }
    }
  }
}

TEST_F(ExportCommandsTest, ExportSqliteHoldsEveryValueOfEveryTable) {
  const std::string out = (root_ / "copy.db").string();
  const RunResult run = Run("export-sqlite " + Dir() + " '" + out + "' --password pw");
  ASSERT_EQ(run.status, 0) << run.err;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(out.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const std::string& name : Tables()) {
    SCOPED_TRACE(name);
    ExpectSqliteRows(db, name, EngineCells(dir_, name, PasswordOf(name)));
  }
  sqlite3_close(db);
  const RunResult again = Run("export-sqlite " + Dir() + " '" + out + "' accents");
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(Run("export-sqlite " + Dir() + " '" + out + "' accents --replace").status, 0);
}

TEST_F(ExportCommandsTest, SchemaLoadsIntoSqliteAndReadsAsWrittenForPostgresql) {
  const RunResult sqlite = Run("schema " + Dir() + " --password pw");
  ASSERT_EQ(sqlite.status, 0) << sqlite.err;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sqlite.out.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);

  const RunResult pg = Run("schema " + Dir() + " Everything 'blood pressure' --dialect postgresql");
  ASSERT_EQ(pg.status, 0) << pg.err;
  EXPECT_EQ(pg.out,
            "CREATE TABLE \"Everything\" (\n"
            "  \"Name\" VARCHAR(30),\n  \"Small\" SMALLINT,\n  \"Int\" INTEGER,\n"
            "  \"Word\" INTEGER,\n  \"Large\" BIGINT,\n  \"Float\" DOUBLE PRECISION,\n"
            "  \"Money\" DOUBLE PRECISION,\n  \"Amount\" NUMERIC(32,2),\n  \"Flag\" BOOLEAN,\n"
            "  \"Day\" DATE,\n  \"Clock\" TIME(3),\n  \"Moment\" TIMESTAMP(3),\n"
            "  \"Raw\" BYTEA,\n  \"Var\" BYTEA,\n  \"Notes\" TEXT,\n  \"Picture\" BYTEA,\n"
            "  \"Counter\" BIGINT\n);\n"
            "CREATE INDEX \"Everything_ByName\" ON \"Everything\" (lower(\"Name\"));\n"
            "CREATE TABLE \"blood pressure\" (\n"
            "  \"BPRef\" INTEGER,\n  \"BPName\" VARCHAR(5),\n  \"BPDate\" DATE,\n"
            "  \"BPTime\" TIME(3),\n  \"BPSys\" SMALLINT,\n  \"BPDIA\" INTEGER,\n"
            "  \"BPPulse\" SMALLINT,\n  \"BPComment\" TEXT,\n  \"BPSide\" VARCHAR(20)\n);\n"
            "CREATE INDEX \"blood pressure_OldBPName\" ON \"blood pressure\" (\"BPName\");\n");
}

TEST_F(ExportCommandsTest, DryRunNamesTheLevelsTheUpdateTakesAndChangesNoFile) {
  const std::string before = FolderSnapshot(dir_);
  const RunResult dry = Run("update --dry-run " + Dir());
  ASSERT_LE(dry.status, 1) << dry.err;
  EXPECT_EQ(FolderSnapshot(dir_), before);
  std::map<std::string, std::string> levels;
  const std::regex line(R"(^(.+)\.dat: (create|nothing|header-only|index-only|full rebuild))");
  std::istringstream lines(dry.out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    if (std::regex_search(text, match, line)) levels[match[1]] = match[2];
  }
  ASSERT_EQ(levels.size(), 63u) << dry.out;

  // Seven date-time fields become dates: every value with a time of day
  // changes, and their tables are named in the summary.
  const std::int64_t withTime = kSampleRows - kSampleRows / 24;
  EXPECT_NE(dry.out.find("    field ASPurchDate: converted from ftDateTime(8 bytes) to ftDate(4 "
                         "bytes), 0 of " + std::to_string(kSampleRows) + " values do not convert, " +
                         std::to_string(withTime) + " change (the time of day is dropped)\n"),
            std::string::npos)
      << dry.out;
  std::vector<std::string> timeDropped;
  std::string expectedLosses;
  {
    const std::regex losing(R"(, [1-9]\d* of \d+ values|are cut|change \(|records break)");
    std::istringstream lines(dry.out);
    std::string table;
    bool tableShown = false;
    for (std::string text; std::getline(lines, text);) {
      if (!text.starts_with("    ")) {
        table = text;
        tableShown = false;
        continue;
      }
      if (text.find("the time of day is dropped") != std::string::npos) {
        timeDropped.push_back(table.substr(0, table.find(':')));
      }
      if (!std::regex_search(text, losing)) continue;
      if (!tableShown) expectedLosses += table + "\n";
      tableShown = true;
      expectedLosses += text + "\n";
    }
  }
  EXPECT_EQ(timeDropped.size(), 7u) << dry.out;
  const std::size_t summary = dry.out.find("values may be lost or changed in ");
  ASSERT_NE(summary, std::string::npos) << dry.out;
  for (const std::string& table : timeDropped) {
    EXPECT_NE(dry.out.find(" " + table, summary), std::string::npos) << table;
  }

  // The update then says what was lost or changed in the same lines.
  components_.reset();  // the command makes its own
  std::vector<std::string> args = {"update", dir_};
  std::ostringstream out, err;
  ASSERT_EQ(tools::RunStrata(args, out, err), 0) << err.str();
  components_.emplace();
  EXPECT_EQ(out.str(), expectedLosses + "Your data has been updated. You can start your program.\n");
  for (const auto& [table, level] : levels) {
    SCOPED_TRACE(table + ": " + level);
    const bool existed = before.find(table + ".dat ") != std::string::npos;
    EXPECT_EQ(level == "create", !existed);
    if (!existed) continue;
    const bool full = std::filesystem::exists(dir_ + table + ".dbk");
    const bool indexOnly = !full && std::filesystem::exists(dir_ + table + ".ibk");
    const std::string taken = full ? "full rebuild" : indexOnly ? "index-only" : "header";
    EXPECT_EQ(taken, level == "nothing" || level == "header-only" ? "header" : level);
  }
  const RunResult after = Run("update --dry-run " + Dir());
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(std::count(after.out.begin(), after.out.end(), '\n'), 64) << after.out;
  EXPECT_NE(after.out.find("no values would be lost"), std::string::npos) << after.out;
}

TEST_F(ExportCommandsTest, ReadOnlyCopyIsListedCountedExportedAndVerified) {
  const std::string copy = (root_ / "readonly").string() + "/";
  std::filesystem::copy(dir_, copy);
  for (const auto& entry : std::filesystem::directory_iterator(copy)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms(0444));
  }
  std::filesystem::permissions(copy, std::filesystem::perms(0555));
  const std::string before = FolderSnapshot(copy);
  const std::string quoted = "'" + copy + "' --password pw";
  for (const std::string& args :
       {"tables " + quoted, "count " + quoted + " accents Everything Secret",
        "export " + quoted + " Everything --format json", "verify " + quoted,
        "schema " + quoted, "update --dry-run " + quoted}) {
    const RunResult run = Run(args);
    EXPECT_LE(run.status, args.starts_with("update") ? 1 : 0) << args << ": " << run.err;
  }
  EXPECT_EQ(Run("count " + quoted + " accents Everything Secret").out,
            std::to_string(kSampleRows) + " accents\n2 Everything\n3 Secret\n");
  EXPECT_EQ(FolderSnapshot(copy), before);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
}

// A missing and a wrong password are told apart; a password is given to
// the engine in the code page table names are in, as the other program
// keys its tables ("Straße" is the byte DF there).
TEST_F(ExportCommandsTest, EncryptedTablesNeedTheirPasswordInTheTablesCodePage) {
  CreateNumberAndTextTable(dir_, "German", "Code", "Word", 10, "Stra\xDF" "e");
  struct Case {
    std::string args;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"count " + Dir() + " Secret", 2,
       "strata: Secret: the table is encrypted; give its password with --password\n"},
      {"count " + Dir() + " Secret --password wrong", 2,
       "strata: Secret: the table is encrypted and none of the passwords given opens it\n"},
      {"info " + Dir() + " Secret", 2,
       "strata: Secret: the table is encrypted; give its password with --password\n"},
      {"export " + Dir() + " Secret --password wrong", 2,
       "strata: Secret: the table is encrypted and none of the passwords given opens it\n"},
      {"count " + Dir() + " German --password 'Stra\xC3\x9F" "e'", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult run = Run(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
  }
  const RunResult right = Run("export " + Dir() + " Secret --password wrong --password pw");
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_EQ(right.out, "Code,Word\r\n1,s\xC3\xA9same\r\n2,s\xC3\xA9same\r\n3,s\xC3\xA9same\r\n");
}

// One table that cannot be read (encrypted without its password, a change
// interrupted) never hides the others: the listing shows it with what its
// plain header gives and why; the commands over the whole folder name it
// and end with status 1, or stop at it with --strict.
TEST_F(ExportCommandsTest, ATableThatCannotBeReadNeverHidesTheRest) {
  // A journal that records a change nobody runs (an empty one records
  // none, and readers read the table).
  std::vector<std::uint8_t> journal = TableJournal::Magic();
  const std::vector<std::uint8_t> entry = TableJournal::Encode(JournalRemoveFile{dir_ + "gone~"});
  journal.insert(journal.end(), entry.begin(), entry.end());
  std::ofstream(dir_ + "books.journal", std::ios::binary)
      .write(reinterpret_cast<const char*>(journal.data()), static_cast<long>(journal.size()));
  const std::string secret = "the table is encrypted; give its password with --password";
  const std::string books = "a change to it was interrupted (books.journal); run strata repair";

  const RunResult tables = Run("tables " + Dir());
  EXPECT_EQ(tables.status, 0) << tables.err;
  const std::regex secretLine("\nSecret +3 +\\d+ +\\d+ +0 +1\\.0 +6 +yes +- +" + secret + "\n");
  EXPECT_TRUE(std::regex_search(tables.out, secretLine)) << tables.out;
  EXPECT_NE(tables.out.find(books + "\n"), std::string::npos) << tables.out;
  const RunResult json = Run("tables " + Dir() + " --json --password nope");
  ASSERT_EQ(json.status, 0) << json.err;
  bool found = false;
  for (const auto& table : nlohmann::json::parse(json.out)) {
    if (table["table"] != "Secret") continue;
    found = true;
    EXPECT_EQ(table["records"], 3);
    EXPECT_EQ(table["encrypted"], true);
    EXPECT_EQ(table["problem"], "the table is encrypted and none of the passwords given opens it");
  }
  EXPECT_TRUE(found) << json.out;

  const std::string expectedErr = "strata: books: " + books + "\nstrata: Secret: " + secret + "\n";
  const RunResult schema = Run("schema " + Dir());
  EXPECT_EQ(schema.status, 1);
  EXPECT_EQ(schema.err, expectedErr);
  EXPECT_NE(schema.out.find("CREATE TABLE \"Everything\""), std::string::npos);
  EXPECT_EQ(schema.out.find("CREATE TABLE \"Secret\""), std::string::npos);

  const RunResult count = Run("count " + Dir());
  EXPECT_EQ(count.status, 1);
  EXPECT_EQ(count.err, expectedErr);
  EXPECT_NE(count.out.find("2 Everything\n"), std::string::npos) << count.out;

  const std::string db = (root_ / "partial.db").string();
  const RunResult sqlite = Run("export-sqlite " + Dir() + " '" + db + "'");
  EXPECT_EQ(sqlite.status, 1);
  EXPECT_EQ(sqlite.err, expectedErr);
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ExpectSqliteRows(handle, "Everything", EngineCells(dir_, "Everything"));
  EXPECT_NE(sqlite3_exec(handle, "SELECT * FROM Secret", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(handle);

  for (const std::string& args :
       {"schema " + Dir() + " --strict", "count " + Dir() + " --strict",
        "export-sqlite " + Dir() + " '" + (root_ / "strict.db").string() + "' --strict"}) {
    SCOPED_TRACE(args);
    const RunResult strict = Run(args);
    EXPECT_EQ(strict.status, 2);
    EXPECT_EQ(strict.err, "strata: books: " + books + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(root_ / "strict.db"));

  // The dry run stops where the update would, and says why.
  const RunResult dry = Run("update --dry-run " + Dir());
  EXPECT_EQ(dry.status, 2);
  EXPECT_EQ(dry.err, "strata: table 'books': " + books + "\n");
}

TEST_F(ExportCommandsTest, FieldsNullTextAndSqlFollowTheOptions) {
  const RunResult csv =
      Run("export " + Dir() + " Everything --fields flag,Name,Raw --null '<null>'");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "Flag,Name,Raw\r\n<null>,<null>,<null>\r\n"
            "true,\"Caf\xC3\xA9 \xE2\x82\xAC \"\"quoted\"\", line\r\nbreak\",AP8QgA==\r\n");
  const RunResult sql = Run("export " + Dir() + " Everything --format sql --fields Amount,Raw,Flag");
  ASSERT_EQ(sql.status, 0) << sql.err;
  EXPECT_NE(sql.out.find("INSERT INTO \"Everything\" (\"Amount\", \"Raw\", \"Flag\") VALUES "
                         "(-1234.56, X'00FF1080', 1);\n"),
            std::string::npos)
      << sql.out;
  EXPECT_TRUE(sql.out.starts_with("BEGIN;\nCREATE TABLE \"Everything\" (")) << sql.out;
  EXPECT_TRUE(sql.out.ends_with("COMMIT;\n")) << sql.out;
}

TEST_F(ExportCommandsTest, BadInputGivesOneLineAndLeavesNoOutputFile) {
  const std::string target = (root_ / "out.csv").string();
  std::ofstream(dir_ + "Broken.dat", std::ios::binary) << std::string(100, 'x');
  std::filesystem::copy_file(dir_ + "accents.idx", dir_ + "Broken.idx");
  struct Case {
    std::string args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"export " + Dir() + " Missing", "Error # 11010"},
      {"export " + Dir() + " Broken", "Strata Engine Error # "},
      {"export " + Dir() + " accents --fields Nope", "has no field 'Nope'"},
      {"export " + Dir() + " accents --format xml", "unknown format 'xml'"},
      {"export " + Dir() + " accents --dialect oracle", "unknown dialect 'oracle'"},
      {"export " + Dir() + " accents --frobnicate", "unknown option '--frobnicate'"},
      {"export '" + (root_ / "nowhere").string() + "' accents", "does not exist"},
  };
  for (const Case& c : cases) {
    const RunResult run = Run(c.args + " --output '" + target + "'");
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(target)) << c.args;
  }
  const RunResult notHere = Run("update '" + root_.string() + "'");
  EXPECT_EQ(notHere.status, 2);
  EXPECT_NE(notHere.err.find("holds no accents.dat"), std::string::npos) << notHere.err;
  const RunResult unwritable =
      Run("export " + Dir() + " accents --output '" + (root_ / "no" / "x.csv").string() + "'");
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left.size(), 1u) << left.back();  // the data folder alone
}

TEST_F(ExportCommandsTest, HelpVersionAndBareFolderNames) {
  for (const char* command : {"tables", "info", "schema", "count", "export", "export-sqlite",
                              "update", "verify", "repair", "sample-db", "data-path"}) {
    const RunResult help = Run(std::string("help ") + command);
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(help.out.starts_with(std::string("strata ") + command + " ")) << help.out;
    EXPECT_EQ(Run(std::string(command) + " --help").out, help.out);
  }
  EXPECT_TRUE(Run("--version").out.starts_with("strata "));
  // A bare folder name is a folder of the current directory.
  std::filesystem::current_path(data_.parent_path());
  std::vector<std::string> args = {"count", "data", "accents"};
  std::ostringstream out, err;
  components_.reset();  // the command makes its own
  EXPECT_EQ(tools::RunStrata(args, out, err), 0) << err.str();
  components_.emplace();
  EXPECT_EQ(out.str(), std::to_string(kSampleRows) + " accents\n");
}

}  // namespace
}  // namespace strata::testing
