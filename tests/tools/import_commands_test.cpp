// `strata import` run as a program: every table of the sample database and
// of the export fixture exported, imported into an emptied copy and
// exported again, byte for byte, in every format; refused rows named with
// their row and reason and nothing changed, or written to a rejects file
// that imports once fixed; the dry run; appending with its counters; a
// table that another program holds.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/full_text_params.h"
#include "tests/tools/export_fixture.h"
#include "tests/tools/program_run.h"
#include "tools/export_command.h"
#include "tools/table_report.h"
#include "tools/table_report_output.h"

namespace strata::testing {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) { return ReadWholeFile(file.string()); }

// The files of a table, for checking that nothing changed.
std::string TableBytes(const fs::path& folder, const std::string& table) {
  std::string bytes;
  for (const char* extension : {".dat", ".idx", ".blb"}) {
    bytes += extension + Bytes(folder / (table + extension));
  }
  return bytes;
}

// What a database folder may hold after an import: its tables and the lock
// file; nothing else, and no folder.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    const bool table = extension == ".dat" || extension == ".idx" || extension == ".blb";
    if (entry.is_directory() || (!table && entry.path().filename() != "strata.lck")) {
      left.push_back(entry.path().filename().string());
    }
  }
  return left;
}

// The structure and properties `info` shows, without the counters and the
// time of the last write.
nlohmann::json Structure(const nlohmann::json& info) {
  nlohmann::json structure = info;
  structure.erase("directory");
  for (const char* key :
       {"lastUpdated", "changeCount", "lastRecordID", "lastAutoIncValue", "lastBlobRevision",
        "recordCount", "nextRecordNumber", "firstFreeRecord"}) {
    structure["header"].erase(key);
  }
  for (auto& index : structure["indexes"]) index.erase("rootPage");
  return structure;
}

class ImportCommandsTest : public ::testing::Test {
 protected:
  // On a memory file system when there is one: the imports sync what they
  // write, which only costs time here. The private folder is also the
  // current one, so that nothing a run leaves there goes unnoticed.
  void SetUp() override {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "import-commands-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    data_ = root_ / "data";
    inputs_ = root_ / "inputs";
    fs::create_directories(data_);
    fs::create_directories(inputs_);
    dir_ = data_.string() + "/";
    previous_ = fs::current_path();
    fs::current_path(root_);
    components_.emplace();
    DefaultSession().SetActive(true);
  }
  void TearDown() override {
    components_.reset();
    fs::current_path(previous_);
    fs::remove_all(root_);
  }
  RunResult Run(const std::string& args) { return RunStrataProgram(args, dir_); }
  std::string Dir() const { return "'" + dir_ + "'"; }
  std::string Input(const std::string& name, const std::string& content) {
    std::ofstream(inputs_ / name, std::ios::binary) << content;
    return "'" + (inputs_ / name).string() + "'";
  }
  std::vector<std::string> Tables() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().extension() == ".dat") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::int64_t Count(const std::string& table) {
    const RunResult count = Run("count " + Dir() + " '" + table + "'");
    EXPECT_EQ(count.status, 0) << count.err;
    return std::atoll(count.out.c_str());
  }
  // What `info --json` and `export` print, worked out in this process.
  nlohmann::json Info(const std::string& folder, const std::string& table) {
    std::ostringstream json;
    tools::PrintTableReportJson(
        tools::ReadTableReport(DefaultSession().DataSession(), folder, table), json);
    return nlohmann::json::parse(json.str());
  }
  std::string Exported(const std::string& folder, const std::string& table,
                       const std::string& format) {
    tools::ExportRequest request;
    request.Folder = folder;
    request.Table = table;
    request.Format = format;
    std::ostringstream out;
    tools::RunExport(DefaultSession().DataSession(), request, out, nullptr);
    return out.str();
  }

  // "Rules": ID autoinc (the primary key), Code string[8] required and
  // unique, Born date, Small smallint, Score integer from 0 to 100, Note
  // string[5].
  void CreateRules() {
    TStrataTable table;
    table.SetDatabaseName(dir_);
    table.SetTableName("Rules");
    table.SetExclusive(true);
    TStrataFieldDefs& defs = table.FieldDefs();
    defs.Add("ID", ftAutoInc);
    defs.Add("Code", ftString, 8, true);
    defs.Add("Born", ftDate);
    defs.Add("Small", ftSmallint);
    defs.Add("Score", ftInteger, 0, false, "", "0", "100");
    defs.Add("Note", ftString, 5);
    table.IndexDefs().Add("", "ID", TIndexOptions{ixPrimary, ixUnique});
    table.IndexDefs().Add("ByCode", "Code", TIndexOptions{ixUnique});
    table.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "", std::nullopt, "", "");
    const RunResult seed =
        Run("import " + Dir() + " Rules " +
            Input("seed.csv", "Code,Born,Score\r\nA1,2024-01-01,10\r\nA2,,20\r\n"));
    ASSERT_EQ(seed.status, 0) << seed.err;
  }

  fs::path root_;
  fs::path data_;
  fs::path inputs_;
  fs::path previous_;
  std::string dir_;
  std::optional<DefaultComponents> components_;
};

TEST_F(ImportCommandsTest, EveryTableRoundTripsByteForByteInEveryFormat) {
  WriteExportDatabase(dir_);
  DefaultSession().DataSession().AddPassword("pw");
  const auto exportSqlite = [](const std::string& folder, const fs::path& database) {
    tools::SqliteExportRequest request;
    request.Folder = folder;
    request.Database = database.string();
    tools::RunExportSqlite(DefaultSession().DataSession(), request, std::cout, nullptr);
  };
  const std::vector<std::string> tables = Tables();
  const std::array<const char*, 4> formats = {"csv", "json", "jsonl", "sqlite"};
  for (std::size_t f = 0; f < formats.size(); ++f) {
    const char* format = formats[f];
    SCOPED_TRACE(format);
    const bool sqlite = std::string(format) == "sqlite";
    const fs::path copy = root_ / (std::string("copy-") + format);
    fs::copy(dir_, copy);
    const std::string copyDir = copy.string() + "/";
    const fs::path first = root_ / (std::string("first.") + format);
    const fs::path second = root_ / (std::string("second.") + format);
    if (sqlite) exportSqlite(dir_, first);
    for (std::size_t t = 0; t < tables.size(); ++t) {
      const std::string& table = tables[t];
#ifdef STRATA_SANITIZED
      // The instrumented program is many times slower: each table in one
      // format, the formats in turn, so that every table and every format
      // still run under the sanitizers.
      if (t % formats.size() != f) continue;
#endif
      SCOPED_TRACE(table);
      const std::string exported = sqlite ? "" : Exported(dir_, table, format);
      if (!sqlite) std::ofstream(first, std::ios::binary) << exported;
      const RunResult imported = Run("import '" + copyDir + "' '" + table + "' '" + first.string() +
                                     "' --mode replace --password pw");
      ASSERT_EQ(imported.status, 0) << imported.err;
      if (!sqlite) {
        EXPECT_TRUE(Exported(copyDir, table, format) == exported) << "the second export differs";
      }
      if (std::string(format) == "csv") {
        EXPECT_EQ(Structure(Info(copyDir, table)), Structure(Info(dir_, table)));
      }
    }
    if (sqlite) {
      exportSqlite(copyDir, second);
      EXPECT_TRUE(Bytes(first) == Bytes(second)) << "the second SQLite export differs";
    }
    const RunResult verify = Run("verify '" + copyDir + "' --password pw");
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_EQ(Leftovers(copy), std::vector<std::string>{});
  }
}

TEST_F(ImportCommandsTest, ARefusedRowChangesNothingAndIsNamedWithItsRowAndReason) {
  WriteExportDatabase(dir_);
  CreateRules();
  struct Case {
    const char* name;
    std::string file;
    std::string content;
    std::string options;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"bad date", "date.csv", "Code,Born\r\nB1,2024-01-02\r\nB2,2024-13-01\r\n", "",
       "line 3, field 'Born': '2024-13-01' is not a valid date"},
      {"text too long", "long.csv", "Code,Note\nB1,abcdef\n", "",
       "line 2, field 'Note': the text has 6 characters, the field holds 5"},
      {"number out of the type's range", "small.csv", "Code,Small\nB1,40000\n", "",
       "line 2, field 'Small': '40000' is out of the field's range (-32768 to 32767)"},
      {"above the maximum", "score.json", "[\n{\"Code\":\"B1\",\"Score\":150}\n]\n", "",
       "line 2, field 'Score': 150 is above the maximum 100"},
      {"duplicate key of a row there", "dup.csv", "Code\nB1\nA1\n", "",
       "line 3: a duplicate key in index 'ByCode'"},
      {"duplicate key within the file", "dup2.csv", "Code\nC1\nC2\nC1\n", "--mode replace",
       "line 4: a duplicate key in index 'ByCode'"},
      {"duplicate primary key", "dup3.jsonl",
       "{\"ID\":7,\"Code\":\"C1\"}\n{\"ID\":7,\"Code\":\"C2\"}\n", "--mode replace",
       "line 2: a duplicate key in the primary index"},
      {"required NULL", "req.jsonl", "{\"Code\":\"B1\"}\n{\"Code\":null,\"Score\":5}\n", "",
       "line 2, field 'Code': a value is required"},
      {"unknown column in an object", "unknown.jsonl", "{\"Code\":\"B1\",\"Colour\":\"red\"}\n", "",
       "line 1: table 'Rules' has no field 'Colour' (an unknown column)"},
      {"unknown column in the header", "unknown.csv", "Code,Colour,Shade\nB1,red,dark\n", "",
       "table 'Rules' has no field 'Colour' or 'Shade' (unknown columns); nothing was imported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = TableBytes(data_, "Rules");
    const RunResult run =
        Run("import " + Dir() + " Rules " + Input(c.file, c.content) + " " + c.options);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(TableBytes(data_, "Rules") == before) << "the table changed";
    EXPECT_EQ(Leftovers(data_), std::vector<std::string>{});
  }

  // A wrong password, and a table another program holds.
  const std::string secret = TableBytes(data_, "Secret");
  const RunResult wrong = Run("import " + Dir() + " Secret " +
                              Input("secret.csv", "Code,Word\n4,x\n") + " --password nope");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("Secret"), std::string::npos) << wrong.err;
  EXPECT_TRUE(TableBytes(data_, "Secret") == secret);

  DefaultSession().SetActive(true);
  for (const bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "held exclusively" : "held open by a reader");
    const std::string before = TableBytes(data_, "Rules");
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", dir_);
    {
      TDataCursor holder(directory, "Rules", CursorModes{.Exclusive = exclusive});
      holder.Open();
      const RunResult held = Run("import " + Dir() + " Rules " + Input("held.csv", "Code\nH1\n"));
      EXPECT_EQ(held.status, 2);
      EXPECT_NE(held.err.find("Rules"), std::string::npos) << held.err;
    }
    session.CloseDirectory(directory);
    EXPECT_TRUE(TableBytes(data_, "Rules") == before) << "the table changed";
    EXPECT_EQ(Leftovers(data_), std::vector<std::string>{});
  }
  // A table the user may not write.
  const std::string before = TableBytes(data_, "Rules");
  fs::permissions(data_ / "Rules.dat", fs::perms::owner_write, fs::perm_options::remove);
  const RunResult readOnly = Run("import " + Dir() + " Rules " + Input("ro.csv", "Code\nR1\n"));
  fs::permissions(data_ / "Rules.dat", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_NE(readOnly.err.find("the table 'Rules' is read-only"), std::string::npos) << readOnly.err;
  EXPECT_TRUE(TableBytes(data_, "Rules") == before);
  EXPECT_EQ(Count("Rules"), 2);
}

TEST_F(ImportCommandsTest, IndexesOfEveryKindAreBuiltFromTheImportedRows) {
  // A case-insensitive unique primary key, a descending index and a
  // full-text index over a string and a memo with stop words of its own.
  TStrataTable table;
  table.SetDatabaseName(dir_);
  table.SetTableName("Notes");
  table.SetExclusive(true);
  table.FieldDefs().Add("Title", ftString, 20);
  table.FieldDefs().Add("Body", ftMemo);
  table.FieldDefs().Add("Tag", ftString, 10);
  table.IndexDefs().Add("", "Title", TIndexOptions{ixPrimary, ixUnique, ixCaseInsensitive});
  table.IndexDefs().Add("ByTag", "Tag", TIndexOptions{ixDescending});
  table.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "Title;Body",
                    std::vector<std::string>{"the", "and"}, "", "");
  const auto params = [&] {
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", dir_);
    FullTextParams read;
    {
      TDataCursor cursor(directory, "Notes", CursorModes{.ReadOnly = true});
      cursor.Open();
      read = ReadFullTextParams(*cursor.Table()->IndexFile());
    }
    session.CloseDirectory(directory);
    return read;
  };
  const FullTextParams created = params();
  const fs::path rejects = inputs_ / "rejects.jsonl";
  RunResult run =
      Run("import " + Dir() + " Notes " +
          Input("a.jsonl",
                "{\"Title\":\"Alpha\",\"Body\":\"the quick fox and a dog\",\"Tag\":\"x\"}\n"
                "{\"Title\":\"beta\",\"Body\":\"lazy dog\",\"Tag\":\"y\"}\n"
                "{\"Title\":\"ALPHA\",\"Tag\":\"z\"}\n") +
          " --mode replace --rejects '" + rejects.string() + "'");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(Bytes(rejects).find("line 3: a duplicate key in the primary index"), std::string::npos);
  run = Run("import " + Dir() + " Notes " +
            Input("b.csv", "Title,Body,Tag\ngamma,\"fox, and more\",x\nBETA,dup,q\n") +
            " --rejects '" + rejects.string() + "'");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Count("Notes"), 3);
  EXPECT_EQ(params(), created);
  const RunResult verify = Run("verify " + Dir() + " Notes");
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

TEST_F(ImportCommandsTest, RefusedRowsListTwentyAndCountTheRest) {
  CreateRules();
  std::string csv = "Code,Born\n";
  for (int i = 0; i < 30; ++i) csv += "X" + std::to_string(i) + ",never\n";
  const RunResult run = Run("import " + Dir() + " Rules " + Input("many.csv", csv));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("line 21, field 'Born': 'never' is not a valid date"), std::string::npos);
  EXPECT_EQ(run.err.find("line 22,"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("... and 10 more"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("30 of 30 rows refused; nothing was imported"), std::string::npos);
}

TEST_F(ImportCommandsTest, RejectsFileTakesTheRefusedRowsInTheInputFormatAndImportsOnceFixed) {
  CreateRules();
  struct Case {
    const char* format;
    std::string content;
    // The rejects file with its two rows fixed.
    std::function<std::string(std::string)> fix;
  };
  const auto replace = [](std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  };
  const std::vector<Case> cases = {
      {"csv", "Code,Born\r\nD1,2024-01-01\r\nD2,2024-02-30\r\nD3,\r\nD1,2024-01-05\r\n",
       [&](std::string text) {
         return replace(replace(text, "2024-02-30", "2024-02-29"), "D1,", "D4,");
       }},
      {"json",
       "[\n{\"Code\":\"D1\"},\n{\"Code\":\"D2\",\"Born\":\"2024-02-30\"},\n{\"Code\":\"D3\"},\n{"
       "\"Code\":\"D1\"}\n]\n",
       [&](std::string text) {
         return replace(replace(text, "2024-02-30", "2024-02-29"), "\"D1\"", "\"D4\"");
       }},
      {"jsonl",
       "{\"Code\":\"D1\"}\n{\"Code\":\"D2\",\"Born\":\"2024-02-30\"}\n{\"Code\":\"D3\"}\n{\"Code\":"
       "\"D1\"}\n",
       [&](std::string text) {
         return replace(replace(text, "2024-02-30", "2024-02-29"), "\"D1\"", "\"D4\"");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const std::string input = Input(std::string("rows.") + c.format, c.content);
    const fs::path rejects = inputs_ / (std::string("rejects.") + c.format);
    const RunResult run = Run("import " + Dir() + " Rules " + input +
                              " --mode replace --rejects '" + rejects.string() + "'");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("Imported 2 rows into Rules; 2 rows refused"), std::string::npos)
        << run.out;
    EXPECT_EQ(Count("Rules"), 2);
    const std::string written = Bytes(rejects);
    EXPECT_NE(written.find("reject_reason"), std::string::npos) << written;
    EXPECT_NE(written.find("field 'Born': '2024-02-30' is not a valid date"), std::string::npos)
        << written;
    EXPECT_NE(written.find("a duplicate key in index 'ByCode'"), std::string::npos) << written;

    const std::string fixed = Input(std::string("fixed.") + c.format, c.fix(written));
    const RunResult again = Run("import " + Dir() + " Rules " + fixed + " --format " + c.format);
    EXPECT_EQ(again.status, 0) << again.err << "\n" << c.fix(written);
    EXPECT_EQ(Count("Rules"), 4);
    const RunResult verify = Run("verify " + Dir() + " Rules");
    EXPECT_EQ(verify.status, 0) << verify.out;
  }
  EXPECT_EQ(Leftovers(data_), std::vector<std::string>{});
}

TEST_F(ImportCommandsTest, SqliteInputAndRejectsKeepStorageClasses) {
  CreateRules();
  const std::string path = (inputs_ / "in.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE source (Code TEXT, Score, Small);"
                         "INSERT INTO source VALUES ('S1', 50, 1), ('S2', 50.5, 2), ('S3', 100.0, "
                         "x'01'), ('S4', NULL, 4);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string rejects = (inputs_ / "rejects.db").string();
  const RunResult run = Run("import " + Dir() + " Rules '" + path +
                            "' --from-table source --rejects '" + rejects + "'");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Count("Rules"), 4);  // the two rows there, S1 and S4
  ASSERT_EQ(sqlite3_open_v2(rejects.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT Code, typeof(Score), typeof(Small), reject_reason FROM source",
                         -1, &select, nullptr),
      SQLITE_OK);
  std::vector<std::string> rows;
  while (sqlite3_step(select) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < 4; ++i) {
      row += reinterpret_cast<const char*>(sqlite3_column_text(select, i));
      row += i < 3 ? "|" : "";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "S2|real|integer|row 2, field 'Score': 50.5 is not a whole number",
                      "S3|real|blob|row 3, field 'Small': a binary value of 1 byte is not a whole "
                      "number"}));
}

TEST_F(ImportCommandsTest, DryRunChecksEveryRowAndChangesNothing) {
  CreateRules();
  const std::string before = TableBytes(data_, "Rules");
  const fs::path rejects = inputs_ / "rejects.csv";
  const std::string input = Input("rows.csv", "Code,Score\nE1,1\nE2,101\nE3,3\nA1,4\n");
  const RunResult run = Run("import " + Dir() + " Rules " + input + " --dry-run --rejects '" +
                            rejects.string() + "'");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("Would import 2 rows into Rules; 2 rows would be refused:"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("line 3, field 'Score': '101' is above the maximum 100"),
            std::string::npos);
  EXPECT_NE(run.out.find("line 5: a duplicate key in index 'ByCode'"), std::string::npos);
  EXPECT_TRUE(TableBytes(data_, "Rules") == before);
  EXPECT_FALSE(fs::exists(rejects));
  EXPECT_EQ(Leftovers(data_), std::vector<std::string>{});

  const RunResult clean =
      Run("import " + Dir() + " Rules " + Input("ok.csv", "Code\nE9\n") + " --dry-run");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_NE(clean.out.find("Would import 1 row into Rules; 0 rows would be refused."),
            std::string::npos);
}

TEST_F(ImportCommandsTest, AutoIncValuesAreKeptOrNumberedAndTheCounterFollows) {
  CreateRules();  // IDs 1 and 2
  const auto ids = [&] {
    std::vector<std::string> values;
    for (const auto& row : EngineCells(dir_, "Rules").Rows)
      values.push_back(row[0].value_or("NULL"));
    return values;
  };
  const auto lastAutoInc = [&] {
    return Info(dir_, "Rules")["header"]["lastAutoIncValue"].get<int>();
  };

  // Appending numbers the rows without a value after the last one and
  // keeps a value given; the counter follows the highest.
  RunResult run =
      Run("import " + Dir() + " Rules " +
          Input("a.jsonl", "{\"Code\":\"F1\"}\n{\"ID\":100,\"Code\":\"F2\"}\n{\"Code\":\"F3\"}\n"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ids(), (std::vector<std::string>{"1", "2", "3", "100", "101"}));
  EXPECT_EQ(lastAutoInc(), 101);

  // --fields fills the fields in column order, whatever the header says.
  run = Run("import " + Dir() + " Rules " + Input("b.csv", "x,y\nG1,7\n") + " --fields Code,Score");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ids().back(), "102");

  // Replacing empties the table, the counter included.
  run = Run("import " + Dir() + " Rules " + Input("c.csv", "Code\nH1\nH2\n") + " --mode replace");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ids(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(lastAutoInc(), 2);

  // A table emptied otherwise goes on from its counter.
  DefaultSession().SetActive(true);
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& directory = session.OpenDirectory("", dir_);
  {
    TDataCursor cursor(directory, "Rules", CursorModes{.Exclusive = true});
    cursor.Open();
    cursor.DeleteRecord(1);
    cursor.DeleteRecord(2);
  }
  session.CloseDirectory(directory);
  run = Run("import " + Dir() + " Rules " + Input("e.csv", "ID,Code\n,K1\n50,K2\n"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ids(), (std::vector<std::string>{"3", "50"}));
  EXPECT_EQ(lastAutoInc(), 50);
  EXPECT_EQ(Run("verify " + Dir() + " Rules").status, 0);
}

TEST_F(ImportCommandsTest, ArgumentsThatDoNotFit) {
  CreateRules();
  const std::string input = Input("rows.csv", "Code\nL1\n");
  struct Case {
    std::string args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"Rules " + input + " --mode merge", "unknown mode 'merge'"},
           {"Rules " + input + " --format xml", "unknown format 'xml'"},
           {"Rules " + Input("rows.txt", "x"), "cannot tell the format"},
           {"Rules " + input + " --from-table t", "--from-table is for SQLite input only"},
           {"Rules " + Input("rows.json", "[]") + " --null NULL", "--null is for CSV input only"},
           {"Rules " + input + " --fields Code,Nope", "table 'Rules' has no field 'Nope'"},
           {"Rules '" + (inputs_ / "missing.csv").string() + "'", "cannot read"},
           {"Missing " + input, "Missing"},
           {"Rules " + Input("twice.csv", "Code,CODE\nx,y\n"),
            "the columns 'Code' and 'CODE' both name the field 'Code'"},
       }) {
    SCOPED_TRACE(c.args);
    const RunResult run = Run("import " + Dir() + " " + c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Count("Rules"), 2);
  EXPECT_EQ(Leftovers(data_), std::vector<std::string>{});
}

}  // namespace
}  // namespace strata::testing
