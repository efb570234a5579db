// The readers of `strata import`: CSV records with quotes, line breaks and
// the NULL text; JSON and JSON lines objects with escapes, raw numbers and
// nested values; SQLite values of each storage class; rows that cannot be
// read and input that cannot be read at all; rows across the reading
// buffer's edge.
#include "tools/import_source.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir_test.h"

namespace strata::tools {
namespace {

using Kind = SourceValue::Kind;

// A row as the tests compare it: each value as kind letter and text.
struct ReadRow {
  std::int64_t Line = 0;
  std::vector<std::string> Names;
  std::vector<std::string>
      Values;  // "N" null, "T:text", "#:number", "B:true", "I:5", "R:2.5", "X:bytes"
  std::string Raw;
  std::string Problem;
};

std::string Describe(const SourceValue& value) {
  switch (value.Type) {
    case Kind::Null: return "N";
    case Kind::Text: return "T:" + std::string(value.Text);
    case Kind::Number: return "#:" + std::string(value.Text);
    case Kind::Boolean: return value.Boolean ? "B:true" : "B:false";
    case Kind::Integer: return "I:" + std::to_string(value.Integer);
    case Kind::Real: return "R:" + std::to_string(value.Real);
    case Kind::Bytes: return "X:" + std::string(value.Text);
  }
  return "?";
}

std::vector<ReadRow> ReadAll(ImportSource& source) {
  std::vector<ReadRow> rows;
  SourceRow row;
  while (source.Next(row)) {
    ReadRow read;
    read.Line = row.Line;
    for (const std::string_view name : row.Names) read.Names.emplace_back(name);
    for (const SourceValue& value : row.Values) read.Values.push_back(Describe(value));
    read.Raw = row.Raw;
    read.Problem = row.Problem;
    rows.push_back(read);
  }
  return rows;
}

class ImportSourceTest : public testing::TempDirTest {};

TEST_F(ImportSourceTest, CsvRecordsAsTheExportWritesThem) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::string> nullText;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> values;
    std::vector<std::int64_t> lines;
  };
  const std::vector<Case> cases = {
      {"CRLF and quotes",
       "a,b\r\n1,\"x, \"\"y\"\"\"\r\n",
       {},
       {"a", "b"},
       {{"T:1", "T:x, \"y\""}},
       {2}},
      {"LF, a line break in quotes",
       "a,b\n\"one\r\ntwo\",3\n4,5",
       {},
       {"a", "b"},
       {{"T:one\r\ntwo", "T:3"}, {"T:4", "T:5"}},
       {2, 4}},
      {"byte order mark and empty lines",
       "\xEF\xBB\xBF"
       "a\n\n1\n\r\n2\n",
       {},
       {"a"},
       {{"T:1"}, {"T:2"}},
       {3, 5}},
      {"empty fields are NULL", "a,b,c\n,\"\",x\n", {}, {"a", "b", "c"}, {{"N", "N", "T:x"}}, {2}},
      {"the NULL text unquoted only",
       "a,b\n\\N,\"\\N\"\n",
       "\\N",
       {"a", "b"},
       {{"N", "T:\\N"}},
       {2}},
      {"a lone CR is text", "a\nx\ry\n", {}, {"a"}, {{"T:x\ry"}}, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto source = OpenCsvSource(Put("in.csv", c.text), c.nullText);
    EXPECT_EQ(source->Columns(), c.columns);
    const std::vector<ReadRow> rows = ReadAll(*source);
    ASSERT_EQ(rows.size(), c.values.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].Values, c.values[i]);
      EXPECT_EQ(rows[i].Line, c.lines[i]);
      EXPECT_EQ(rows[i].Problem, "");
    }
  }
}

TEST_F(ImportSourceTest, CsvRowsThatCannotBeReadAreKeptWithTheirText) {
  const auto source = OpenCsvSource(Put("in.csv", "a,b\r\n1,2,3\r\n4\r\n5,6\r\n7,\"open\n"), {});
  const std::vector<ReadRow> rows = ReadAll(*source);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].Problem, "3 fields, the header has 2");
  EXPECT_EQ(rows[0].Raw, "1,2,3");
  EXPECT_EQ(rows[1].Problem, "1 field, the header has 2");
  EXPECT_EQ(rows[2].Problem, "");
  EXPECT_EQ(rows[3].Problem, "a quoted field is not closed before the end of the file");
  EXPECT_EQ(rows[3].Line, 5);

  EXPECT_THROW(OpenCsvSource(Put("empty.csv", ""), {}), ImportError);
  EXPECT_THROW(OpenCsvSource(dir_ + "missing.csv", {}), ImportError);
}

TEST_F(ImportSourceTest, RowsAcrossTheBufferEdgeArriveWhole) {
  // Records and objects longer than the reading buffer (1 MiB), and many
  // short ones so that boundaries fall inside quotes, escapes and numbers.
  const std::string long1(1500000, 'x');
  std::string csv = "a,b\r\n\"" + long1 + "\",1\r\n";
  std::string jsonl = "{\"a\":\"" + long1 + "\",\"b\":1}\n";
  for (int i = 0; i < 60000; ++i) {
    csv += "\"q\"\"" + std::to_string(i) + "\"," + std::to_string(i) + "\r\n";
    jsonl += "{\"a\":\"q\\\"" + std::to_string(i) + "\",\"b\":" + std::to_string(i) + ".5e1}\n";
  }
  const auto csvRows = ReadAll(*OpenCsvSource(Put("in.csv", csv), {}));
  const auto jsonRows = ReadAll(*OpenJsonSource(Put("in.jsonl", jsonl), true));
  for (const auto* rows : {&csvRows, &jsonRows}) {
    ASSERT_EQ(rows->size(), 60001u);
    EXPECT_EQ((*rows)[0].Values[0], "T:" + long1);
    for (int i = 0; i < 60000; ++i) {
      const ReadRow& row = (*rows)[static_cast<std::size_t>(i) + 1];
      ASSERT_EQ(row.Values[0], "T:q\"" + std::to_string(i)) << i;
      ASSERT_EQ(row.Problem, "") << i;
    }
  }
  EXPECT_EQ(csvRows.back().Values[1], "T:59999");
  EXPECT_EQ(jsonRows.back().Values[1], "#:59999.5e1");
  EXPECT_EQ(jsonRows.back().Line, 60001);
}

TEST_F(ImportSourceTest, JsonObjectsKeepTheirNamesAndNumbersAsWritten) {
  const std::string text =
      "[\n{\"a\":\"x\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\",\"b\":-12.50e+3,"
      "\"c\":true,\"d\":null},\n  {\"b\":9007199254740993, \"a\" : false}\n,{}]\n";
  for (const bool lines : {false, true}) {
    SCOPED_TRACE(lines ? "json lines" : "json");
    std::string input = text;
    if (lines) {
      input =
          "{\"a\":\"x\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\",\"b\":-12.50e+3,"
          "\"c\":true,\"d\":null}\n\n{\"b\":9007199254740993, \"a\" : false}\n{}";
    }
    const auto rows = ReadAll(*OpenJsonSource(Put("in.json", input), lines));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Names, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(rows[0].Values,
              (std::vector<std::string>{"T:x\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80", "#:-12.50e+3",
                                        "B:true", "N"}));
    EXPECT_EQ(rows[1].Names, (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(rows[1].Values, (std::vector<std::string>{"#:9007199254740993", "B:false"}));
    EXPECT_EQ(rows[1].Raw, "{\"b\":9007199254740993, \"a\" : false}");
    EXPECT_EQ(rows[1].Line, 3);
    EXPECT_TRUE(rows[2].Values.empty());
  }
}

TEST_F(ImportSourceTest, JsonThatIsNoArrayOfFlatObjects) {
  // A nested value refuses its row; the rest is read.
  const auto nested = ReadAll(
      *OpenJsonSource(Put("nested.json", "[{\"a\":{\"x\":[1,\"]\"]},\"b\":2},{\"b\":3}]"), false));
  ASSERT_EQ(nested.size(), 2u);
  EXPECT_EQ(nested[0].Problem, "member 'a' holds an object or an array, which no field takes");
  EXPECT_EQ(nested[1].Problem, "");

  // A JSON lines line that is no object refuses that line only.
  const auto lines = ReadAll(
      *OpenJsonSource(Put("bad.jsonl", "{\"a\":1}\n{\"a\":1,}\nnot json\n{\"a\":2}\n"), true));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].Problem, "not a JSON object: expected a member name in quotes");
  EXPECT_EQ(lines[1].Raw, "{\"a\":1,}");
  EXPECT_EQ(lines[2].Problem, "not a JSON object: expected an object");
  EXPECT_EQ(lines[2].Raw, "not json");
  EXPECT_EQ(lines[3].Values, std::vector<std::string>{"#:2"});
  EXPECT_EQ(lines[3].Line, 4);

  // A broken array cannot be read on: an error naming the file and line.
  struct Broken {
    const char* text;
    const char* message;
  };
  for (const Broken& broken : {
           Broken{"{\"a\":1}", "line 1: the file does not start with '['"},
           Broken{"[{\"a\":1}\n{\"a\":2}]", "line 2: expected ',' or ']' after an object"},
           Broken{"[{\"a\":01}]", "line 1: expected ',' or '}' in an object"},
           Broken{"[{\"a\":\"x", "line 1: the file ends inside the JSON"},
           Broken{"[{\"a\":1}] x", "line 1: the file goes on after the array ends"},
       }) {
    SCOPED_TRACE(broken.text);
    try {
      ReadAll(*OpenJsonSource(Put("broken.json", broken.text), false));
      ADD_FAILURE() << "no error";
    } catch (const ImportError& error) {
      EXPECT_NE(std::string(error.what()).find(broken.message), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(ReadAll(*OpenJsonSource(Put("empty.json", " [ ]\n"), false)).empty());
}

TEST_F(ImportSourceTest, SqliteValuesKeepTheirStorageClass) {
  const std::string path = dir_ + "in.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "CREATE TABLE \"My \"\"T\"\"\" (i, r, t, x, n);"
                   "INSERT INTO \"My \"\"T\"\"\" VALUES (9007199254740993, 2.5, 'caf\xC3\xA9', "
                   "x'00ff', NULL), (-1, 0.0, '', x'', NULL);",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  const auto source = OpenSqliteSource(path, "My \"T\"");
  EXPECT_EQ(source->Columns(), (std::vector<std::string>{"i", "r", "t", "x", "n"}));
  const auto rows = ReadAll(*source);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Values,
            (std::vector<std::string>{"I:9007199254740993", "R:2.500000", "T:caf\xC3\xA9",
                                      std::string("X:\0\xFF", 4), "N"}));
  EXPECT_EQ(rows[1].Values, (std::vector<std::string>{"I:-1", "R:0.000000", "T:", "X:", "N"}));
  EXPECT_EQ(rows[1].Line, 0);

  try {
    OpenSqliteSource(path, "other");
    ADD_FAILURE() << "no error";
  } catch (const ImportError& error) {
    EXPECT_NE(std::string(error.what()).find("has no table 'other'"), std::string::npos);
  }
  EXPECT_THROW(OpenSqliteSource(Put("not.db", "plain text, no database"), "t"), ImportError);
}

}  // namespace
}  // namespace strata::tools
