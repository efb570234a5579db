// `strata info` and the command line around it: the JSON object and the
// plain listing of a small table, the exit statuses and error lines, and
// that the table's files stay byte-identical (no index file is recreated).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/values/field_types.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/support/definitions.h"
#include "tests/tools/program_run.h"
#include "tools/command_line.h"

namespace strata::testing {
namespace {


// A syntax check of one JSON value filling the whole text.
class JsonChecker {
 public:
  explicit JsonChecker(std::string_view text) : text_(text) {}
  bool Valid() {
    const bool ok = Value();
    Blanks();
    return ok && at_ == text_.size();
  }

 private:
  void Blanks() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Eat(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (static_cast<unsigned char>(text_[at_]) < 0x20) return false;
      at_ += text_[at_] == '\\' ? 2 : 1;
    }
    return at_++ < text_.size();
  }
  template <typename Item>
  bool List(char close, Item item) {
    if (Eat(close)) return true;
    do {
      if (!item()) return false;
    } while (Eat(','));
    return Eat(close);
  }
  bool Value() {
    Blanks();
    if (Eat('{')) return List('}', [&] { return String() && Eat(':') && Value(); });
    if (Eat('[')) return List(']', [&] { return Value(); });
    if (at_ < text_.size() && text_[at_] == '"') return String();
    const std::size_t start = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) ||
                                  text_[at_] == '-' || text_[at_] == '.')) {
      ++at_;
    }
    return at_ > start;
  }
  std::string_view text_;
  std::size_t at_ = 0;
};

class TableInfoTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    CreateOrders();
  }

  // Orders: ID auto-increment, Name string[20] upper case with a minimum and
  // a default, Amount BCD with 2 decimals, Notes memo; a case-insensitive
  // index on Name descending and ID, the full-text index on Name and Notes,
  // a description in Windows-1252 with characters JSON must escape, and two
  // records. The engine is gone before the tool runs.
  void CreateOrders() {
    TDataEngine engine;
    UseQuickLocks(engine);
    engine.Activate();
    TDataSession& session = QuickSession(engine);
    TDataDirectory& directory = session.OpenDirectory("shop", dir_);
    TableStructure structure;
    FieldDescriptor name = FieldDef(2, "Name").String(20);
    name.CharCase = 2;
    name.MinValue = "A";
    name.DefaultValue = "Caf\xE9";
    FieldDescriptor amount = FieldDef(3, "Amount").Bcd();
    amount.DeclaredDecimals = 2;
    structure.Fields = {FieldDef(1, "ID").AutoInc(), name, amount,
                        FieldDef(4, "Notes").Memo()};
    structure.Indexes[0] = TIndexFile::DefaultPrimaryDescriptor();
    IndexDescriptor byName;
    byName.Name = "ByName";
    byName.CaseInsensitive = 1;
    byName.FieldCount = 2;
    byName.FieldNumbers[0] = 2;
    byName.DescendingFields[0] = 1;
    byName.FieldNumbers[1] = 1;
    structure.Indexes[1] = byName;
    structure.SecondaryIndexCount = 1;
    structure.Indexes[kFullTextSlot] = TIndexFile::EmptyTextDescriptor();
    structure.Indexes[kFullTextSlot].FieldCount = 2;
    structure.Indexes[kFullTextSlot].FieldNumbers[0] = 2;
    structure.Indexes[kFullTextSlot].FieldNumbers[1] = 4;
    structure.Info.Description = "Orders \x80 \"open\" C:\\shop";
    directory.CloseTable(directory.CreateTable("Orders", "Orders", false, structure));
    TDataTable& table = directory.OpenTable("Orders", "Orders");
    AppendRecord(table, 1);
    AppendRecord(table, 2);
    directory.CloseTable(table);
  }

  // Runs the tool in this process.
  RunResult RunHere(std::vector<std::string> args) {
    std::ostringstream out, err;
    RunResult result;
    result.status = tools::RunStrata(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  // Runs the strata program.
  RunResult RunProgram(const std::string& args) { return RunStrataProgram(args, dir_); }

  // Every file of the directory and its content.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      files[entry.path().filename().string()] = Slurp(entry.path().filename().string());
    }
    return files;
  }
};

bool HasLine(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex("(^|\n)" + pattern + "(\n|$)"));
}

TEST_F(TableInfoTest, JsonObjectHoldsHeaderFieldsAndIndexes) {
  const RunResult result = RunHere({"info", dir_, "orders", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(JsonChecker(result.out).Valid()) << result.out;
  const std::string& json = result.out;
  for (const char* fragment : {
           "\"table\": \"orders\"",
           "\"formatVersion\": 6",
           "\"recordCount\": 2",
           "\"nextRecordNumber\": 3",
           "\"recordSize\": 96",
           "\"fieldCount\": 4",
           "\"blobFieldCount\": 1",
           "\"blobBlockSize\": 512",
           "\"indexPageSize\": 4096",
           "\"localeID\": 0",
           "\"localeName\": \"ANSI Standard\"",
           "\"userMajorVersion\": 1",
           "\"description\": \"Orders \xE2\x82\xAC \\\"open\\\" C:\\\\shop\"",
           "\"encrypted\": false",
           // Fields.
           "\"name\": \"ID\",\n      \"type\": \"ftAutoInc\",\n      \"engineType\": 6,\n"
           "      \"subType\": 29,",
           "\"type\": \"ftString\",\n      \"engineType\": 1,\n      \"subType\": 0,\n"
           "      \"size\": 20,\n      \"decimals\": 0,\n      \"physicalSize\": 21,\n"
           "      \"offset\": 30,\n      \"required\": false,\n"
           "      \"charCase\": \"fcUpperCase\",\n      \"minValue\": \"A\",\n"
           "      \"maxValue\": \"\",\n      \"defaultValue\": \"Caf\xC3\xA9\",",
           "\"type\": \"ftBCD\",\n      \"engineType\": 8,\n      \"subType\": 0,\n"
           "      \"size\": 2,\n      \"decimals\": 2,\n      \"physicalSize\": 34,",
           "\"type\": \"ftMemo\"",
           // Indexes.
           "\"slot\": 0,\n      \"name\": \"<Primary>\"",
           "\"name\": \"RecordID\",\n          \"descending\": false",
           "\"slot\": 1,\n      \"name\": \"ByName\"",
           "\"name\": \"Name\",\n          \"descending\": true",
           "\"caseInsensitive\": true",
           "\"slot\": 31,\n      \"name\": \"Sys Text\"",
           "\"keyLength\": 68",
           "\"fullText\": true",
       }) {
    EXPECT_NE(json.find(fragment), std::string::npos) << fragment << "\n" << json;
  }
  EXPECT_TRUE(std::regex_search(json, std::regex("\"lastUpdated\": \"\\d{4}-\\d\\d-\\d\\d "
                                                 "\\d\\d:\\d\\d:\\d\\d\"")));
}

TEST_F(TableInfoTest, PlainListingIsAligned) {
  const RunResult result = RunHere({"info", dir_, "Orders"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string& text = result.out;
  for (const char* pattern : {
           "  Record count +2",
           "  Locale +0 \\(ANSI Standard\\)",
           "  Description +Orders \xE2\x82\xAC \"open\" C:\\\\shop",
           "  Encrypted +no",
           "  Last updated +\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d",
           "  1 +ID +ftAutoInc +6 +29 +0 +0 +4 +25 +no +fcNoChange +0",
           "  2 +Name +ftString +1 +0 +20 +0 +21 +30 +no +fcUpperCase +A +Caf\xC3\xA9 +0",
           "  0 +<Primary> +RecordID +yes +no +icNone +5 +0",
           "  1 +ByName +Name DESC, ID +no +yes +icNone +\\d+ +0",
           "  31 +Sys Text +Name, Notes +no +no +icFull +68 +0",
       }) {
    EXPECT_TRUE(HasLine(text, pattern)) << pattern << "\n" << text;
  }
  // Every header value starts in the same column.
  const std::size_t column = text.find("2\n", text.find("  Record count"));
  const std::size_t lineStart = text.rfind('\n', column) + 1;
  const std::size_t encrypted = text.find("  Encrypted");
  EXPECT_EQ(text.substr(encrypted + (column - lineStart), 3), "no\n");
}

TEST_F(TableInfoTest, ErrorsAndBadUsageExitWithStatusTwoAndOneLine) {
  struct Case {
    std::string args;
    int status;
    std::string message;  // part of the stderr line
  };
  const std::string file = Put("file", "x");
  const std::string empty = dir_ + "empty";
  std::filesystem::create_directories(empty);
  const std::vector<Case> cases = {
      {"info '" + dir_ + "' Missing", 2,
       "strata: Strata Engine Error # 11010 Table or backup file '"},
      {"", 2, "strata: no command given"},
      {"frobnicate", 2, "unknown command 'frobnicate'"},
      {"info '" + dir_ + "'", 2, "strata: info: TABLE is required (usage: strata info DIR TABLE [--json])"},
      {"info '" + dir_ + "' Orders --xml", 2, "unknown option '--xml'"},
      {"info '" + file + "' Orders", 2, "strata: '" + file + "' is not a folder\n"},
      {"count '" + dir_ + "nowhere'", 2, "strata: the folder '" + dir_ + "nowhere' does not exist\n"},
      // A folder without tables says so instead of printing nothing.
      {"schema '" + empty + "'", 1, "strata: no tables in '" + empty + "'\n"},
      {"verify '" + empty + "'", 1, "strata: no tables in '" + empty + "'\n"},
      {"repair '" + empty + "'", 1, "strata: no tables in '" + empty + "'\n"},
      {"tables '" + empty + "'", 1, "strata: no tables in '" + empty + "'\n"},
      {"export-sqlite '" + empty + "' '" + dir_ + "none.db'", 1,
       "strata: no tables in '" + empty + "'\n"},
      {"export '" + dir_ + "' Orders --format xml", 2, "unknown format 'xml'"},
  };
  for (const Case& c : cases) {
    const RunResult result = RunProgram(c.args);
    EXPECT_EQ(result.status, c.status) << c.args;
    EXPECT_EQ(result.out, "") << c.args;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ + "none.db"));
  EXPECT_TRUE(std::filesystem::is_empty(empty));
  const RunResult help = RunProgram("help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("strata info DIR TABLE [--json]"), std::string::npos);
  const RunResult helpHelp = RunProgram("help help");
  EXPECT_EQ(helpHelp.status, 0) << helpHelp.err;
  EXPECT_TRUE(helpHelp.out.starts_with("strata help [COMMAND]\n")) << helpHelp.out;
  // Format and dialect names in any letter case.
  const RunResult upper = RunProgram("export '" + dir_ + "' Orders --format JSON --fields ID");
  EXPECT_EQ(upper.status, 0) << upper.err;
  EXPECT_TRUE(upper.out.starts_with("[\n{\"ID\":")) << upper.out;
  const RunResult dialect = RunProgram("schema '" + dir_ + "' Orders --dialect PostgreSQL");
  EXPECT_EQ(dialect.status, 0) << dialect.err;
}

TEST_F(TableInfoTest, LeavesEveryFileByteIdentical) {
  const auto before = Snapshot();
  const RunResult plain = RunProgram("info '" + dir_ + "' Orders");
  const RunResult json = RunProgram("info '" + dir_ + "' Orders --json");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(TableInfoTest, RefusesToRecreateAMissingOrTruncatedIndexFile) {
  for (const bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "truncated" : "missing");
    if (truncate) {
      Put("Orders.idx", std::string(100, '\0'));
    } else {
      std::filesystem::remove(dir_ + "Orders.idx");
    }
    const auto before = Snapshot();
    const RunResult result = RunHere({"info", dir_, "Orders"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("Orders.idx' is missing or truncated"), std::string::npos)
        << result.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

}  // namespace
}  // namespace strata::testing
