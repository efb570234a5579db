// The value forms `strata import` reads, field type by field type: each
// input value put into a record and read back as the export writes it, or
// refused with its reason; nothing is ever cut, wrapped or rounded.
#include "tools/import_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "tests/support/definitions.h"
#include "tests/support/temp_dir_test.h"
#include "tools/export_value.h"

namespace strata::tools {
namespace {

using strata::testing::FieldDef;
using Kind = SourceValue::Kind;

SourceValue Text(std::string_view text) { return {Kind::Text, text}; }
SourceValue Number(std::string_view text) { return {Kind::Number, text}; }
SourceValue Int(std::int64_t value) { return {Kind::Integer, {}, value}; }
SourceValue Real(double value) { return {Kind::Real, {}, 0, value}; }
SourceValue Bool(bool value) { return {Kind::Boolean, {}, 0, 0, value}; }
SourceValue Bytes(std::string_view bytes) { return {Kind::Bytes, bytes}; }
SourceValue Null() { return {}; }

// The field's value as the CSV export writes it ("" for NULL).
std::string Exported(const ExportValue& value) {
  switch (value.Type) {
    case ExportValue::Kind::Null: return "";
    case ExportValue::Kind::Integer:
    case ExportValue::Kind::Float: {
      std::string text;
      AppendNumber(text, value);
      return text;
    }
    case ExportValue::Kind::Boolean: return value.Boolean ? "true" : "false";
    case ExportValue::Kind::Binary: return Base64(value.Text);
    default: return value.Text;
  }
}

class ImportValueTest : public strata::testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    engine_.Activate();
    session_ = &engine_.NewSession();
    directory_ = &session_->OpenDirectory("", dir_);
    std::vector<FieldDescriptor> fields = {
        FieldDef(1, "Name").String(5),     FieldDef(2, "Fixed").FixedChar(4),
        FieldDef(3, "Wide").WideString(3), FieldDef(4, "Small").Smallint(),
        FieldDef(5, "Word").Word(),        FieldDef(6, "Int").Integer(),
        FieldDef(7, "Large").Largeint(),   FieldDef(8, "Float").Float(),
        FieldDef(9, "Money").Currency(),   FieldDef(10, "Amount").Bcd(),
        FieldDef(11, "Flag").Boolean(),    FieldDef(12, "Day").Date(),
        FieldDef(13, "Clock").Time(),      FieldDef(14, "Moment").Timestamp(),
        FieldDef(15, "Raw").Bytes(4),      FieldDef(16, "Var").VarBytes(6),
        FieldDef(17, "Notes").Memo(),      FieldDef(18, "Picture").Blob(),
        FieldDef(19, "Counter").AutoInc(),
    };
    fields[9].DeclaredDecimals = 2;
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
    indexes[0] = strata::testing::IndexDef("", {kRecordIdFieldNumber}).Unique();
    TDataCursor creator(*directory_, "Types", CursorModes{.Exclusive = true});
    creator.CreateTableFiles({}, {fields, indexes, 0});
    cursor_.emplace(*directory_, "Types", CursorModes{.Exclusive = true});
    cursor_->Open();
  }
  void TearDown() override {
    cursor_.reset();
    session_->CloseDirectory(*directory_);
    TempDirTest::TearDown();
  }

  std::uint16_t Position(std::string_view name) const {
    for (std::size_t i = 0; i < cursor_->Fields().size(); ++i) {
      if (cursor_->Fields()[i].Name == name) return static_cast<std::uint16_t>(i + 1);
    }
    ADD_FAILURE() << "no field " << name;
    return 1;
  }

  TDataEngine engine_;
  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
  std::optional<TDataCursor> cursor_;
};

TEST_F(ImportValueTest, EachFieldTypeTakesTheExportFormsAndRefusesWhatDoesNotFit) {
  struct Case {
    const char* field;
    SourceValue value;
    std::string expected;  // the export's text, or with refused the reason's start
    bool refused = false;
  };
  const std::string bytes5("\x01\x02\x03\x04\x05", 5);
  const std::vector<Case> cases = {
      {"Name", Text("abc  "), "abc"},
      {"Name", Text("caf\xC3\xA9"), "caf\xC3\xA9"},
      {"Name", Text("a\xE2\x82\xAC"), "a\xE2\x82\xAC"},
      {"Name", Text("abcdef"), "the text has 6 characters, the field holds 5", true},
      {"Name", Text("\xCE\xA9"), "the text holds the character U+03A9", true},
      {"Name", Text("a\xFF"), "the text is not valid UTF-8", true},
      {"Name", Text(std::string_view("a\0b", 3)), "the text holds a NUL character", true},
      {"Name", Int(42), "42"},
      {"Name", Bool(true), "true"},
      {"Name", Null(), ""},
      {"Fixed", Text("ab  "), "ab  "},
      {"Wide", Text("\xCE\xA9\xC2\xB5"), "\xCE\xA9\xC2\xB5"},
      {"Wide", Text("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80"},
      {"Wide", Text("abcd"), "the text has 4 characters, the field holds 3", true},
      {"Small", Text("-32768"), "-32768"},
      {"Small", Text(" +7 "), "7"},
      {"Small", Real(3.0), "3"},
      {"Small", Text("32768"), "'32768' is out of the field's range (-32768 to 32767)", true},
      {"Small", Int(70000), "70000 is out of the field's range", true},
      {"Small", Text("1.5"), "'1.5' is not a whole number", true},
      {"Small", Real(2.5), "2.5 is not a whole number", true},
      {"Small", Bool(true), "true is not a whole number", true},
      {"Word", Text("65535"), "65535"},
      {"Word", Text("-1"), "'-1' is out of the field's range (0 to 65535)", true},
      {"Int", Text("2147483648"), "'2147483648' is out of the field's range", true},
      {"Large", Number("9007199254740993"), "9007199254740993"},
      {"Large", Text("-9223372036854775808"), "-9223372036854775808"},
      {"Large", Text("9223372036854775808"), "'9223372036854775808' is out of the field's range",
       true},
      {"Float", Text("0.30000000000000004"), "0.30000000000000004"},
      {"Float", Number("-12.50e+3"), "-12500"},
      {"Float", Int(3), "3"},
      {"Float", Text("1e400"), "'1e400' is out of the range of a floating-point number", true},
      {"Float", Text("nan"), "'nan' is not a finite number", true},
      {"Float", Text("1,5"), "'1,5' is not a number", true},
      {"Money", Text("1234.5678"), "1234.5678"},
      {"Amount", Text("-123456.00"), "-123456.00"},
      {"Amount", Text("1.5"), "1.50"},
      {"Amount", Text("12.340"), "12.34"},
      {"Amount", Number("1e3"), "1000.00"},
      {"Amount", Real(0.3), "0.30"},
      {"Amount", Int(-5), "-5.00"},
      {"Amount", Text("1.005"), "'1.005' has more decimal places than the field keeps (2)", true},
      {"Amount", Text("1e30"), "'1e30' is out of the field's range", true},
      {"Amount", Text("12a"), "'12a' is not a number", true},
      {"Flag", Text("TRUE"), "true"},
      {"Flag", Text("false"), "false"},
      {"Flag", Text("1"), "true"},
      {"Flag", Int(0), "false"},
      {"Flag", Bool(true), "true"},
      {"Flag", Text("yes"), "'yes' is not a boolean (true or false)", true},
      {"Flag", Int(2), "2 is not a boolean", true},
      {"Day", Text("2024-03-07"), "2024-03-07"},
      {"Day", Text("2024-3-7"), "2024-03-07"},
      {"Day", Text("0001-01-01"), "0001-01-01"},
      {"Day", Text("2024-13-01"), "'2024-13-01' is not a valid date", true},
      {"Day", Text("2024/03/07"), "'2024/03/07' is not a valid date", true},
      {"Day", Int(5), "5 is not a date", true},
      {"Clock", Text("09:05:30.007"), "09:05:30.007"},
      {"Clock", Text("12:30 AM"), "00:30:00.000"},
      {"Clock", Text("1:00 PM"), "13:00:00.000"},
      {"Clock", Text("25:00"), "'25:00' is not a valid time", true},
      {"Moment", Text("2024-03-07T12:34:56.789"), "2024-03-07T12:34:56.789"},
      {"Moment", Text("2024-03-07 09:05"), "2024-03-07T09:05:00.000"},
      {"Moment", Text("2024-03-07"), "2024-03-07T00:00:00.000"},
      {"Moment", Text("10:00"), "1899-12-30T10:00:00.000"},
      {"Moment", Text("0001-01-01T00:00:00.000"), "0001-01-01T00:00:00.000"},
      {"Moment", Text("2024-02-30T00:00"), "'2024-02-30T00:00' is not a valid date and time", true},
      {"Raw", Text("AP8QgA=="), "AP8QgA=="},
      {"Raw", Text("AP8Q"), "AP8QAA=="},
      {"Raw", Bytes(std::string_view("\0\xFF", 2)), "AP8AAA=="},
      {"Raw", Bytes(bytes5), "the value has 5 bytes, the field holds 4", true},
      {"Raw", Text("AP8QgA="), "'AP8QgA=' is not base64", true},
      {"Raw", Text("#"), "'#' is not base64", true},
      {"Var", Text("YQBi"), "YQBiAAAA"},
      {"Notes",
       Text("Gr\xC3\xBC\xC3\x9F"
            "e\r\nline"),
       "Gr\xC3\xBC\xC3\x9F"
       "e\r\nline"},
      {"Notes", Text(""), ""},
      {"Notes", Text("\xE2\x98\x83"), "the text holds the character U+2603", true},
      {"Picture", Text("AAEC"), "AAEC"},
      {"Picture", Bytes(bytes5), "AQIDBAU="},
      {"Counter", Text("5"), "5"},
  };
  std::vector<std::uint8_t> record = cursor_->NewRecordBuffer();
  ValueImporter importer(*cursor_);
  RecordValueReader reader(*cursor_, "Types");
  std::vector<ExportValue> values;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + ValueImporter::Shown(c.value));
    cursor_->ApplyDefaults(record);
    const std::uint16_t position = Position(c.field);
    std::string reason;
    const bool set = importer.Set(record, position, c.value, reason);
    if (c.refused) {
      EXPECT_FALSE(set);
      EXPECT_EQ(reason.substr(0, c.expected.size()), c.expected) << reason;
      EXPECT_EQ(cursor_->GetField(record, position), std::nullopt) << "the field was changed";
    } else {
      ASSERT_TRUE(set) << reason;
      reader.Read(record, 1, values);
      EXPECT_EQ(Exported(values[position - 1u]), c.expected);
    }
    cursor_->FreeBlobs();
  }
}

TEST_F(ImportValueTest, MessagesQuoteLongValuesCut) {
  EXPECT_EQ(ValueImporter::Shown(Text(std::string(50, 'x'))), "'" + std::string(40, 'x') + "...'");
  // Not inside a character of several bytes.
  const std::string accents = std::string(39, 'x') + "\xC3\xA9\xC3\xA9";
  EXPECT_EQ(ValueImporter::Shown(Text(accents)), "'" + std::string(39, 'x') + "...'");
  EXPECT_EQ(ValueImporter::Shown(Bytes("abc")), "a binary value of 3 bytes");
  EXPECT_EQ(ValueImporter::Shown(Null()), "NULL");
}

}  // namespace
}  // namespace strata::tools
