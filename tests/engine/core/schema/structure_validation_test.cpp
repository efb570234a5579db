#include "engine/core/schema/structure_validation.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/errors/engine_error.h"
#include "engine/formats/field_rules.h"
#include "engine/values/field_types.h"
#include "tests/support/definitions.h"

namespace strata {
namespace {

using testing::FieldDef;

// A structure as the components hand it over: Name string 20, Count integer,
// Notes memo, Amount BCD(2); primary index on Name, a non-unique secondary
// index on Count, the full-text index over Notes and Name.
struct Structure {
  std::int32_t Locale = 0;
  bool Encrypted = false;
  std::string Password;
  std::int32_t PageSize = 4096;
  std::int32_t BlockSize = 512;
  std::vector<FieldDescriptor> Fields;
  std::array<IndexDescriptor, kIndexSlotCount> Indexes{};
  int Secondary = 1;

  Structure() {
    Fields = {FieldDef(1, "Name").String(20), FieldDef(2, "Count").Integer(),
              FieldDef(3, "Notes").Memo(), FieldDef(4, "Amount").Bcd()};
    Fields[3].DeclaredDecimals = 2;
    Indexes[0].FieldNumbers[0] = 1;
    Indexes[1].Name = "ByCount";
    Indexes[1].FieldNumbers[0] = 2;
    Indexes[31].FieldNumbers = {3, 1};
  }

  void Validate() {
    ValidateStructure(Locale, Encrypted, Password, PageSize, BlockSize,
                      {Fields, Indexes, Secondary}, {"Contacts", "Home"});
  }
};

TEST(StructureValidationTest, CompletesTheDescriptors) {
  Structure s;
  s.Fields[0].Name = "  Name \t";
  s.Fields[1].DeclaredLength = 7;    // unsized type: forced to 0
  s.Fields[1].DeclaredDecimals = 3;  // not BCD: forced to 0
  s.Indexes[0].Name = "Whatever";
  s.Indexes[1].Name = " ByCount ";
  s.Indexes[31].Name = "x";
  s.Indexes[31].Unique = 1;
  s.Validate();

  EXPECT_EQ(s.Fields[0].Name, "Name");
  EXPECT_EQ(s.Fields[1].DeclaredLength, 0);
  EXPECT_EQ(s.Fields[1].DeclaredDecimals, 0);
  const std::uint16_t sizes[] = {21, 4, 8, 34};
  const std::uint16_t offsets[] = {25, 47, 52, 61};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(s.Fields[i].PhysicalSize, sizes[i]) << i;
    EXPECT_EQ(s.Fields[i].FieldOffset, offsets[i]) << i;
  }
  EXPECT_EQ(s.Fields[3].DeclaredDecimals, 2);
  EXPECT_EQ(s.Fields[3].PhysicalDecimals, 2);

  EXPECT_EQ(s.Indexes[0].Name, "");
  EXPECT_EQ(s.Indexes[0].Unique, 1);
  EXPECT_EQ(s.Indexes[0].FieldCount, 1);
  EXPECT_EQ(s.Indexes[0].KeyLength, 22);
  EXPECT_EQ(s.Indexes[1].Name, "ByCount");
  EXPECT_EQ(s.Indexes[1].FieldCount, 1);
  EXPECT_EQ(s.Indexes[1].KeyLength, 5 + 4);  // the RecordID suffix of a non-unique index

  const IndexDescriptor& text = s.Indexes[31];
  EXPECT_EQ(text.Name, "Sys Text");
  EXPECT_EQ(text.KeyLength, 68);
  EXPECT_EQ(text.Compression, 3);
  EXPECT_EQ(text.FullText, 1);
  EXPECT_EQ(text.Unique, 0);
  EXPECT_EQ(text.FieldCount, 2);
  EXPECT_EQ(text.FieldNumbers[0], 3);
  EXPECT_EQ(text.FieldNumbers[1], 1);
}

TEST(StructureValidationTest, LaysOutStringIntegerMemo) {
  Structure s;
  s.Fields = {FieldDef(1, "Title").String(10), FieldDef(2, "Count").Integer(),
              FieldDef(3, "Notes").Memo()};
  s.Indexes = {};
  s.Secondary = 0;
  s.Validate();
  EXPECT_EQ(s.Fields[0].FieldOffset, 25);
  EXPECT_EQ(s.Fields[1].FieldOffset, 37);
  EXPECT_EQ(s.Fields[2].FieldOffset, 42);
  EXPECT_EQ(RoundUpTo8(s.Fields[2].FieldOffset + s.Fields[2].PhysicalSize + 1), 56);

  // No key fields in slot 0: the default RecordID primary index.
  const IndexDescriptor& primary = s.Indexes[0];
  EXPECT_EQ(primary.FieldCount, 1);
  EXPECT_EQ(primary.FieldNumbers[0], 65535);
  EXPECT_EQ(primary.KeyLength, 5);
  EXPECT_EQ(primary.Unique, 1);
  EXPECT_EQ(primary.Compression, 0);
  // No text-indexed fields: an empty full-text slot.
  EXPECT_EQ(s.Indexes[31].Name, "Sys Text");
  EXPECT_EQ(s.Indexes[31].FieldCount, 0);
}

TEST(StructureValidationTest, KeyLengths) {
  struct Case {
    std::vector<std::uint16_t> keys;
    bool unique;
    int expected;
  };
  const Case cases[] = {
      {{1}, true, 22},           // string 20: 21 + 1
      {{1}, false, 26},          // + the RecordID suffix
      {{4}, true, 9},            // BCD keys take 8 bytes
      {{65535}, true, 5},        // RecordID
      {{65534, 2}, true, 22},    // RecordHash 17 + integer 5
      {{2, 4, 1}, false, 40},    // 5 + 9 + 22 + 4
  };
  for (const Case& c : cases) {
    Structure s;
    s.Indexes[1].Unique = c.unique ? 1 : 0;
    for (std::size_t i = 0; i < c.keys.size(); ++i) s.Indexes[1].FieldNumbers[i] = c.keys[i];
    s.Validate();
    EXPECT_EQ(s.Indexes[1].KeyLength, c.expected) << c.keys.size() << " keys";
    EXPECT_EQ(s.Indexes[1].FieldCount, c.keys.size());
  }
}

using Change = std::function<void(Structure&)>;

TEST(StructureValidationTest, AcceptsTheLimits) {
  struct Case {
    const char* what;
    Change change;
  };
  const Case cases[] = {
      {"password of 128", [](Structure& s) { s.Encrypted = true; s.Password = " " + std::string(128, 'p') + " "; }},
      {"installed locale", [](Structure& s) { s.Locale = 2057; }},
      {"1024 fields", [](Structure& s) {
         for (std::uint16_t n = 5; n <= 1024; ++n) {
           s.Fields.push_back(FieldDef(n, "F" + std::to_string(n)).Boolean());
         }
       }},
      {"page sizes", [](Structure& s) { s.PageSize = 1024; }},
      {"largest page", [](Structure& s) { s.PageSize = 16384; }},
      {"block sizes", [](Structure& s) { s.BlockSize = 64; }},
      {"largest block", [](Structure& s) { s.BlockSize = 65536; }},
      {"30 secondary indexes", [](Structure& s) {
         s.Secondary = 30;
         for (int i = 1; i <= 30; ++i) {
           s.Indexes[i].Name = "I" + std::to_string(i);
           s.Indexes[i].FieldNumbers[0] = 2;
         }
       }},
      {"bytes of 512", [](Structure& s) {
         s.Fields[0] = FieldDef(1, "Name").Bytes(512);
         s.Indexes[31].FieldNumbers = {3};
       }},
      {"wide string of 256", [](Structure& s) { s.Fields[0] = FieldDef(1, "Name").WideString(256); }},
      {"name of 60", [](Structure& s) { s.Fields[0].Name = std::string(60, 'n'); }},
      {"high first character", [](Structure& s) { s.Fields[0].Name = "\xC9t\xE9"; }},
      {"key of 337 on 1024 pages", [](Structure& s) {
         s.PageSize = 1024;
         s.Fields[0].DeclaredLength = 335;  // 336 + 1
       }},
      {"blob compression 9", [](Structure& s) { s.Fields[2].Compression = 9; }},
      {"keywords in any case", [](Structure& s) {
         s.Fields.push_back(FieldDef(5, "Stamp").Timestamp());
         s.Fields.back().DefaultValue = "Current_Timestamp";
         s.Fields.back().MinValue = "current_date";
         s.Fields.back().MaxValue = "CURRENT_time";
         s.Fields.push_back(FieldDef(6, "Day").Date());
         s.Fields.back().DefaultValue = "current_date";
         s.Fields.push_back(FieldDef(7, "Clock").Time());
         s.Fields.back().DefaultValue = "Current_Time";
         s.Fields.push_back(FieldDef(8, "Guid").Guid(38));
         s.Fields.back().DefaultValue = "current_guid";
       }},
      {"value texts", [](Structure& s) {
         s.Fields[1].MinValue = "-2147483648";
         s.Fields[1].MaxValue = "2147483647";
         s.Fields[3].MaxValue = "922337203685477.5807";
         s.Fields.push_back(FieldDef(5, "Flag").Boolean());
         s.Fields.back().DefaultValue = "fAlSe";
         s.Fields.push_back(FieldDef(6, "At").Time());
         s.Fields.back().DefaultValue = "11:30 PM";
       }},
  };
  for (const Case& c : cases) {
    Structure s;
    c.change(s);
    EXPECT_NO_THROW(s.Validate()) << c.what;
  }
}

TEST(StructureValidationTest, RejectsWithCodeAndNames) {
  struct Case {
    const char* what;
    Change change;
    ErrorCode code;
    const char* field;
    const char* index;
  };
  const std::string long61a(61, 'a');
  const Case cases[] = {
      {"no password", [](Structure& s) { s.Encrypted = true; s.Password = "   "; }, STRATA_INVALIDPASSWORD, "", ""},
      {"password of 129", [](Structure& s) { s.Encrypted = true; s.Password = std::string(129, 'p'); }, STRATA_INVALIDPASSWORD, "", ""},
      {"unknown locale", [](Structure& s) { s.Locale = 0x7FFF; }, STRATA_CANNOTLOADLDDRV, "", ""},
      {"no fields", [](Structure& s) { s.Fields.clear(); }, STRATA_FLDLIMIT, "", ""},
      {"1025 fields", [](Structure& s) {
         for (std::uint16_t n = 5; n <= 1025; ++n) {
           s.Fields.push_back(FieldDef(n, "F" + std::to_string(n)).Boolean());
         }
       }, STRATA_FLDLIMIT, "", ""},
      {"page 1016", [](Structure& s) { s.PageSize = 1016; }, STRATA_INDEXLIMIT, "", ""},
      {"page 16392", [](Structure& s) { s.PageSize = 16392; }, STRATA_INDEXLIMIT, "", ""},
      {"31 secondary indexes", [](Structure& s) { s.Secondary = 31; }, STRATA_INDEXLIMIT, "", ""},
      {"block 56", [](Structure& s) { s.BlockSize = 56; }, STRATA_BLOBLIMIT, "", ""},
      {"block 65544", [](Structure& s) { s.BlockSize = 65544; }, STRATA_BLOBLIMIT, "", ""},
      // The checks run in order: the field count before the page size.
      {"first failing check wins", [](Structure& s) { s.Fields.clear(); s.PageSize = 8; }, STRATA_FLDLIMIT, "", ""},

      {"blank name", [](Structure& s) { s.Fields[1].Name = "  "; }, STRATA_INVALIDFIELDNAME, "", ""},
      {"recordid", [](Structure& s) { s.Fields[1].Name = "recordid"; }, STRATA_INVALIDFIELDNAME, "recordid", ""},
      {"RecordHash", [](Structure& s) { s.Fields[1].Name = " RECORDHASH"; }, STRATA_INVALIDFIELDNAME, "RECORDHASH", ""},
      {"digit first", [](Structure& s) { s.Fields[1].Name = "2nd"; }, STRATA_INVALIDFIELDNAME, "2nd", ""},
      {"names differ in case", [](Structure& s) { s.Fields[3].Name = "cOUNT "; }, STRATA_INVALIDFIELDNAME, "Count", ""},
      {"names equal once cut", [&](Structure& s) {
         s.Fields[1].Name = long61a;
         s.Fields[3].Name = long61a.substr(0, 60) + "b";
       }, STRATA_INVALIDFIELDNAME, "", ""},

      {"same field number", [](Structure& s) { s.Fields[3].FieldNumber = 2; }, STRATA_INVALIDFLDTYPE, "Count", ""},
      {"type 0", [](Structure& s) { s.Fields[1].EngineType = 0; }, STRATA_INVALIDFLDTYPE, "Count", ""},
      {"string of 0", [](Structure& s) { s.Fields[0].DeclaredLength = 0; }, STRATA_INVALIDFLDTYPE, "Name", ""},
      {"string of 513", [](Structure& s) { s.Fields[0].DeclaredLength = 513; }, STRATA_INVALIDFLDTYPE, "Name", ""},
      {"wide string of 300", [](Structure& s) { s.Fields[0] = FieldDef(1, "Name").WideString(300); }, STRATA_INVALIDFLDTYPE, "Name", ""},
      {"varbytes of 0", [](Structure& s) { s.Fields[0] = FieldDef(1, "Name").VarBytes(0); }, STRATA_INVALIDFLDTYPE, "Name", ""},
      {"compressed integer", [](Structure& s) { s.Fields[1].Compression = 1; }, STRATA_INVALIDFLDTYPE, "Count", ""},
      {"blob compression 10", [](Structure& s) { s.Fields[2].Compression = 10; }, STRATA_INVALIDFLDTYPE, "Notes", ""},
      {"computed field", [](Structure& s) { s.Fields[1].Computed = 1; }, STRATA_INVALIDFLDTYPE, "Count", ""},

      {"letters as integer", [](Structure& s) { s.Fields[1].MinValue = "abc"; }, STRATA_INVALIDVCHKSTRUCT, "Count", ""},
      {"integer too large", [](Structure& s) { s.Fields[1].MaxValue = "2147483648"; }, STRATA_INVALIDVCHKSTRUCT, "Count", ""},
      {"blob default", [](Structure& s) { s.Fields[2].DefaultValue = "x"; }, STRATA_INVALIDVCHKSTRUCT, "Notes", ""},
      {"BCD beyond currency", [](Structure& s) { s.Fields[3].MaxValue = "1e20"; }, STRATA_INVALIDVCHKSTRUCT, "Amount", ""},
      {"date keyword on time", [](Structure& s) {
         s.Fields.push_back(FieldDef(5, "At").Time());
         s.Fields.back().DefaultValue = "current_date";
       }, STRATA_INVALIDVCHKSTRUCT, "At", ""},

      {"empty index name", [](Structure& s) { s.Indexes[1].Name = ""; }, STRATA_INVALIDINDEXNAME, "", ""},
      {"blank index name", [](Structure& s) { s.Indexes[1].Name = " \t "; }, STRATA_INVALIDINDEXNAME, "", ""},
      {"bad index name", [](Structure& s) { s.Indexes[1].Name = "#1"; }, STRATA_INVALIDINDEXNAME, "", "#1"},
      {"index names differ in case", [](Structure& s) {
         s.Secondary = 2;
         s.Indexes[2].Name = "BYCOUNT ";
         s.Indexes[2].FieldNumbers[0] = 1;
       }, STRATA_INDEXEXISTS, "", "ByCount"},
      {"gap in key fields", [](Structure& s) { s.Indexes[1].FieldNumbers[2] = 1; }, STRATA_INVALIDIDXDESC, "1", "ByCount"},
      {"unknown key field", [](Structure& s) { s.Indexes[1].FieldNumbers[1] = 99; }, STRATA_INVALIDIDXDESC, "99", "ByCount"},
      {"blob key field", [](Structure& s) { s.Indexes[1].FieldNumbers[0] = 3; }, STRATA_SEARCHCOLREQD, "Notes", "ByCount"},
      {"key too long for the page", [](Structure& s) {
         s.PageSize = 1024;
         s.Fields[0].DeclaredLength = 336;  // 338 > 337
       }, STRATA_INVALIDKEY, "", "Primary"},
      {"key over 4106", [](Structure& s) {
         s.PageSize = 16384;
         for (std::uint16_t n = 5; n <= 13; ++n) {
           s.Fields.push_back(FieldDef(n, "S" + std::to_string(n)).String(500));
           s.Indexes[1].FieldNumbers[n - 5] = n;  // 9 x 502 = 4518
         }
       }, STRATA_INVALIDKEY, "", "ByCount"},
      {"blob in the primary index", [](Structure& s) { s.Indexes[0].FieldNumbers[1] = 3; }, STRATA_SEARCHCOLREQD, "Notes", "Primary"},
      {"integer in the full-text index", [](Structure& s) { s.Indexes[31].FieldNumbers[2] = 2; }, STRATA_SEARCHCOLREQD, "Count", "Sys Text"},
      {"graphic in the full-text index", [](Structure& s) { s.Fields[2].SubType = kSubTypeGraphic; }, STRATA_SEARCHCOLREQD, "Notes", "Sys Text"},
      {"unknown full-text field", [](Structure& s) { s.Indexes[31].FieldNumbers[2] = 77; }, STRATA_INVALIDIDXDESC, "77", "Sys Text"},
  };
  for (const Case& c : cases) {
    Structure s;
    c.change(s);
    try {
      s.Validate();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EStrataEngineError& e) {
      EXPECT_EQ(e.Code, c.code) << c.what;
      EXPECT_EQ(e.TableName, "Contacts") << c.what;
      EXPECT_EQ(e.DatabaseName, "Home") << c.what;
      if (*c.field != 0) {
        EXPECT_EQ(e.FieldName, c.field) << c.what;
      }
      EXPECT_EQ(e.IndexName, c.index) << c.what;
    }
  }
}

TEST(StructureValidationTest, ABlankSecondaryIndexNameIsAnInvalidName) {
  Structure s;
  s.Indexes[1].Name = "   ";
  try {
    s.Validate();
    ADD_FAILURE() << "no error";
  } catch (const EStrataEngineError& e) {
    EXPECT_EQ(e.Code, STRATA_INVALIDINDEXNAME);
    EXPECT_EQ(e.Message(), "Strata Engine Error # 10022 Invalid secondary index name '' specified "
                           "for the table 'Contacts'");
  }
}

}  // namespace
}  // namespace strata
