#include "engine/formats/data_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "engine/formats/stored_value_rules.h"
#include "engine/values/date_time.h"
#include "engine/values/field_types.h"
#include "format_test_support.h"
#include "tests/support/definitions.h"

namespace strata {
namespace {

using namespace strata::testing;

// A string of 10 characters, an integer and a memo.
std::vector<FieldDescriptor> PeopleFields() {
  return {FieldDef(1, "Name").String(10), FieldDef(2, "Count").Integer(),
          FieldDef(3, "Notes").Memo()};
}

// The people table's first slot, after its three field descriptors.
constexpr std::int64_t kSlotArea = data_header_layout::kFieldDescriptors + 3 * kFieldDescriptorSize;

class DataFileTest : public testing::TempDirTest {
 protected:
  std::unique_ptr<TDataFile> NewFile() {
    return std::make_unique<TDataFile>(registry_, dir_ + "people.dat", false, owner_);
  }
  // Creates the table and leaves it open.
  std::unique_ptr<TDataFile> Create(const std::vector<FieldDescriptor>& fields = PeopleFields(),
                                    const TableInfo& info = TableInfo{}) {
    auto file = NewFile();
    file->CreateNew();
    file->SetStructure(fields);
    file->SetTableInfo(info);
    file->WriteChanges();
    return file;
  }
  std::unique_ptr<TDataFile> OpenFile() {
    auto file = NewFile();
    file->Open();
    return file;
  }
  std::vector<std::uint8_t> FileBytes() const { return testing::Bytes(Slurp("people.dat")); }
  void PutBytes(const std::vector<std::uint8_t>& bytes) { Put("people.dat", testing::Text(bytes)); }
  // Appends a slot whose record carries the id.
  static std::int32_t AddRecord(TDataFile& file, std::int32_t id) {
    BufferPin pin;
    EXPECT_TRUE(file.AllocateSlot(nullptr, pin));
    TRecord& record = TDataFile::RecordOf(pin);
    record.SetRecordID(id);
    file.IncrementRecordCount();
    return record.Number;
  }

  FileRegistry registry_;
  testing::FakeOwner owner_;
};

TEST_F(DataFileTest, FreshFileHasTheHeaderAndDescriptorsWorkedOutByHand) {
  const double before = CurrentDateTime();
  auto file = Create();
  file->Close();
  const std::vector<std::uint8_t> bytes = FileBytes();
  ASSERT_EQ(bytes.size(), kDataHeaderSize + 3 * kFieldDescriptorSize);
  namespace header = data_header_layout;
  EXPECT_EQ(I32At(bytes, header::kChangeCount), 1);  // after one write
  EXPECT_EQ(bytes[header::kFormatVersion], 6);
  EXPECT_TRUE(std::equal(kDefaultSignatureDigest.begin(), kDefaultSignatureDigest.end(),
                         bytes.begin() + header::kSignatureDigest));
  EXPECT_EQ(I32At(bytes, header::kFirstFreeRecord), 0);
  EXPECT_EQ(I32At(bytes, header::kNextRecordNumber), 1);
  EXPECT_EQ(I32At(bytes, header::kLastAutoIncValue), 0);  // -1 stands for 0
  EXPECT_EQ(U16At(bytes, header::kRecordSize), 56);
  EXPECT_EQ(U16At(bytes, header::kFieldCount), 3);
  EXPECT_EQ(U16At(bytes, header::kBlobFieldCount), 1);
  EXPECT_EQ(I32At(bytes, header::kBlobBlockSize), 512);
  EXPECT_EQ(I32At(bytes, header::kIndexPageSize), 4096);
  const double stamped = LoadF64(bytes.data() + header::kLastUpdated) + kDayNumberOf18991230;
  EXPECT_GE(stamped, before - 1e-6);
  EXPECT_LE(stamped, CurrentDateTime() + 1e-6);
  EXPECT_EQ(U16At(bytes, header::kUserMajorVersion), 1);  // user version 1.0
  EXPECT_EQ(U16At(bytes, header::kUserMinorVersion), 0);
  EXPECT_EQ(bytes[header::kHeaderModified], 1);  // the mark as it stood when written

  namespace descriptor = field_descriptor_layout;
  const std::uint16_t offsets[] = {25, 37, 42};
  const std::uint16_t sizes[] = {11, 4, 8};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t d = header::kFieldDescriptors + kFieldDescriptorSize * i;
    EXPECT_EQ(U16At(bytes, d + descriptor::kFieldNumber), i + 1);
    EXPECT_EQ(U16At(bytes, d + descriptor::kPhysicalSize), sizes[i]) << i;
    EXPECT_EQ(U16At(bytes, d + descriptor::kFieldOffset), offsets[i]) << i;
  }
  const std::size_t first = header::kFieldDescriptors;
  EXPECT_EQ(bytes[first + descriptor::kName], 4);  // name length
  EXPECT_EQ(bytes[first + descriptor::kEngineType], kTypeString);
  EXPECT_EQ(U16At(bytes, first + descriptor::kDeclaredLength), 10);

  file = OpenFile();
  file->VerifyHeader();
  EXPECT_EQ(file->UnitSize(), 56);
  EXPECT_EQ(file->FieldByName("notes")->FieldOffset, 42);
  EXPECT_EQ(file->FieldByNumber(2)->Name, "Count");
  EXPECT_EQ(file->FieldByName("recordid"), &RecordIdDescriptor());
  EXPECT_EQ(file->FieldByNumber(65534), &RecordHashDescriptor());
  EXPECT_EQ(file->FieldByName("Missing"), nullptr);
}

TEST_F(DataFileTest, HeaderIsWrittenOnlyWhenChangedAndCountsEveryWrite) {
  auto file = Create();
  EXPECT_FALSE(file->WriteHeader(false));
  EXPECT_TRUE(file->WriteHeader(true));
  EXPECT_EQ(FileBytes()[data_header_layout::kHeaderModified], 0);  // forced, not marked
  file->TouchHeader();  // +1 now, +1 when written
  EXPECT_TRUE(file->WriteHeader(false));
  EXPECT_EQ(I32At(FileBytes(), data_header_layout::kChangeCount), 4);
  EXPECT_EQ(FileBytes()[data_header_layout::kHeaderModified], 1);
  file->Close();

  auto mine = OpenFile();
  auto other = OpenFile();
  EXPECT_FALSE(other->HeaderChanged());
  mine->TouchHeader();
  mine->WriteHeader(false);
  EXPECT_TRUE(other->HeaderChanged());
  EXPECT_EQ(other->HeaderChangeCount(), 6);
}

TEST_F(DataFileTest, ValueEncodingsInARecordImage) {
  std::vector<FieldDescriptor> fields = {
      FieldDef(1, "Plain").String(6),   FieldDef(2, "Fixed").FixedChar(6),
      FieldDef(3, "Upper").String(6),   FieldDef(4, "Day").Date(),
      FieldDef(5, "At").Time(),         FieldDef(6, "Stamp").Timestamp(),
      FieldDef(7, "Flag").Boolean(),    FieldDef(8, "Amount").Bcd(),
      FieldDef(9, "Small").Smallint(),  FieldDef(10, "Blob").Blob(),
  };
  fields[2].CharCase = 2;
  fields[7].DeclaredDecimals = 2;
  auto file = Create(fields);
  std::vector<std::uint8_t> record(file->UnitSize());
  const auto& f = file->Fields();
  const auto slot = [&](int i) { return FieldBytes(record, f[i]); };
  const Collation ansi;

  WriteString(record, f[0], "abc  ", ansi);
  WriteString(record, f[1], "abc  ", ansi);
  WriteString(record, f[2], std::string("na\0me", 5), ansi);
  EXPECT_EQ(ReadString(record, f[0]), "abc");
  EXPECT_EQ(ReadString(record, f[1]), "abc  ");
  EXPECT_EQ(ReadString(record, f[2]), "NA");
  EXPECT_EQ(record[f[0].FieldOffset], 1);
  WriteString(record, f[0], "toolongtext", ansi);  // at most 6 characters and the zero
  EXPECT_EQ(ReadString(record, f[0]), "toolon");
  EXPECT_EQ(slot(0)[6], 0);
  WriteString(record, f[0], "   ", ansi);
  EXPECT_TRUE(FieldIsNull(record, f[0]));

  WriteDate(record, f[3], *EncodeDate(1899, 12, 30));
  EXPECT_EQ(LoadI32(slot(3).data()), 693594);
  WriteDate(record, f[3], *EncodeDate(1, 1, 1));
  EXPECT_EQ(LoadI32(slot(3).data()), 1);
  WriteTime(record, f[4], *EncodeTime(12, 0, 0, 0));
  EXPECT_EQ(LoadI32(slot(4).data()), 43'200'000);
  WriteTimestamp(record, f[5], CombineDateAndTime(*EncodeDate(2000, 1, 1), 0.5));
  EXPECT_EQ(LoadF64(slot(5).data()), 730120.0 * 86'400'000 + 43'200'000);
  EXPECT_DOUBLE_EQ(*ReadTimestamp(record, f[5]), *EncodeDate(2000, 1, 1) + 0.5);

  WriteBoolean(record, f[6], 255);
  EXPECT_EQ(U16At(record, f[6].FieldOffset + record_layout::kNullFlagSize), 1);

  ASSERT_TRUE(WriteBcd(record, f[7], -125000));  // -12.5 as a currency number
  EXPECT_EQ(slot(7)[0], 32);
  EXPECT_EQ(slot(7)[1], 0x80 | 2);
  for (int i = 2; i < 34; ++i) {
    const std::uint8_t expected = i == 16 ? 0x12 : i == 17 ? 0x50 : 0;
    EXPECT_EQ(slot(7)[i], expected) << i;
  }
  EXPECT_EQ(*ReadBcd(record, f[7]), -125000);

  EXPECT_FALSE(WriteInteger(record, f[8], 40000));
  EXPECT_TRUE(FieldIsNull(record, f[8]));
  EXPECT_TRUE(WriteInteger(record, f[8], -2));
  EXPECT_EQ(ReadInteger(record, f[8]), -2);

  WriteBlobReference(record, f[9], {7, 3});
  EXPECT_EQ(record[f[9].FieldOffset], 1);
  EXPECT_EQ(ReadBlobReference(record, f[9]), (BlobReference{7, 3}));
  WriteBlobReference(record, f[9], {0, 4});
  EXPECT_TRUE(FieldIsNull(record, f[9]));

  WriteInteger(record, RecordIdDescriptor(), 77);
  EXPECT_EQ(I32At(record, record_layout::kId), 77);
}

TEST_F(DataFileTest, WideStringsHoldUtf16CodeUnits) {
  std::vector<FieldDescriptor> fields = {FieldDef(1, "Wide").WideString(4),
                                         FieldDef(2, "Upper").WideString(4)};
  fields[1].CharCase = 2;
  auto file = Create(fields);
  std::vector<std::uint8_t> record(file->UnitSize());
  const auto& f = file->Fields();
  const auto slot = [&](int i) {
    const auto bytes = FieldBytes(record, f[i]);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  };
  const Collation ansi;

  // Windows-1252 text in, four code units kept; the last byte stays zero.
  WriteString(record, f[0], "Zo\xEB\x80" "5", ansi);
  EXPECT_EQ(slot(0), (std::vector<std::uint8_t>{0x5A, 0, 0x6F, 0, 0xEB, 0, 0xAC, 0x20, 0}));
  EXPECT_EQ(ReadString(record, f[0]), "Zo\xEB\x80");
  EXPECT_EQ(WideUnitsOf(slot(0)), u"Zo\u00EB\u20AC");
  WriteString(record, f[1], "\xE9t\xE9 ", ansi);
  EXPECT_EQ(WideUnitsOf(slot(1)), u"\u00C9T\u00C9");

  // Units without a byte read as "?"; an empty text is NULL.
  WriteWideString(record, f[0], u"\u0141\u00F3d\u017A", ansi);
  EXPECT_EQ(ReadString(record, f[0]), "?\xF3" "d?");
  WriteWideString(record, f[0], u"  ", ansi);
  EXPECT_TRUE(FieldIsNull(record, f[0]));
}

TEST_F(DataFileTest, RecordHashCoversTheFieldAreaWithoutBlobSlots) {
  auto file = Create();
  const auto& f = file->Fields();
  std::vector<std::uint8_t> record(56);
  WriteString(record, f[0], "Ada", Collation());
  WriteInteger(record, f[1], 36);
  std::vector<std::uint8_t> area(record.begin() + kFirstFieldOffset, record.end());
  const Md5Digest expected = Md5::Digest(area);
  EXPECT_EQ(ComputeRecordHash(record, f), expected);
  record[record_layout::kLink + 2] = 9;  // RecordLink: the record header is not covered
  WriteBlobReference(record, f[2], {5, 1});
  EXPECT_EQ(ComputeRecordHash(record, f), expected);
  WriteInteger(record, f[1], 37);
  EXPECT_NE(ComputeRecordHash(record, f), expected);
}

TEST_F(DataFileTest, DeletedSlotsFormAChainThatIsReusedLastDeletedFirst) {
  auto file = Create();
  for (int id = 1; id <= 8; ++id) EXPECT_EQ(AddRecord(*file, id), id);
  for (const std::int32_t slot : {3, 7}) {
    BufferPin pin;
    ASSERT_TRUE(file->GetBuffer(nullptr, 0, false, slot, pin));
    file->DeleteSlot(TDataFile::RecordOf(pin));
    file->DecrementRecordCount();
  }
  file->WriteChanges();
  const std::vector<std::uint8_t> bytes = FileBytes();
  ASSERT_EQ(bytes.size(), kSlotArea + 8 * 56);
  EXPECT_EQ(I32At(bytes, data_header_layout::kFirstFreeRecord), 7);
  EXPECT_EQ(I32At(bytes, data_header_layout::kNextRecordNumber), 9);
  EXPECT_EQ(I32At(bytes, data_header_layout::kRecordCount), 6);
  const auto slot = [&](int n) { return static_cast<std::size_t>(kSlotArea + (n - 1) * 56); };
  using record_layout::kLink;
  EXPECT_EQ(bytes[slot(7) + record_layout::kStatus], 1);
  EXPECT_EQ(I32At(bytes, slot(7) + kLink), 3);
  EXPECT_EQ(bytes[slot(3) + record_layout::kStatus], 1);
  EXPECT_EQ(I32At(bytes, slot(3) + kLink), 0);
  EXPECT_EQ(bytes[slot(5) + record_layout::kStatus], 0);
  EXPECT_EQ(I32At(bytes, slot(5) + kLink), 5);  // in use: its own number
  EXPECT_EQ(I32At(bytes, slot(5) + record_layout::kId), 5);

  file->Close();
  file = OpenFile();
  file->VerifyHeader();
  EXPECT_EQ(file->NextSlotNumber(), 7);
  EXPECT_EQ(AddRecord(*file, 20), 7);
  EXPECT_EQ(AddRecord(*file, 21), 3);
  EXPECT_EQ(AddRecord(*file, 22), 9);
  BufferPin pin;
  ASSERT_TRUE(file->GetBuffer(nullptr, 0, false, 7, pin));
  EXPECT_EQ(TDataFile::RecordOf(pin).RecordStatus(), 0);
  EXPECT_EQ(TDataFile::RecordOf(pin).RecordLink(), 7);
}

TEST_F(DataFileTest, FreeChainHeadThatIsInUseIsNotHandedOutAgain) {
  auto file = Create();
  AddRecord(*file, 1);
  AddRecord(*file, 2);
  file->WriteChanges();
  std::vector<std::uint8_t> bytes = FileBytes();
  // FirstFreeRecord names a live record.
  StoreI32(bytes.data() + data_header_layout::kFirstFreeRecord, 2);
  file->Close();
  PutBytes(bytes);
  file = OpenFile();
  file->VerifyHeader();
  EXPECT_EQ(AddRecord(*file, 3), 3);
  EXPECT_EQ(file->FirstFreeRecord(), 0);
  StoreI32(bytes.data() + data_header_layout::kFirstFreeRecord, 1);
  bytes[kSlotArea + record_layout::kStatus] = 1;  // slot 1 deleted, its link out of range
  StoreI32(bytes.data() + kSlotArea + record_layout::kLink, 99);
  file->Close();
  PutBytes(bytes);
  file = OpenFile();
  EXPECT_EQ(CodeOf([&] { AddRecord(*file, 4); }), STRATA_FILECORRUPT);
}

TEST_F(DataFileTest, CountersWrapAndEmptyingResetsThem) {
  TableInfo info;
  info.LastAutoIncValue = 2147483647;
  auto file = Create(PeopleFields(), info);
  EXPECT_EQ(file->NextAutoIncValue(), 1);
  file->SetLastRecordID(2147483646);
  EXPECT_EQ(file->IncrementLastRecordID(), 2147483647);
  EXPECT_EQ(file->IncrementLastRecordID(), 1);
  EXPECT_EQ(file->IncrementLastBlobRevision(), 1);
  AddRecord(*file, 1);
  AddRecord(*file, 2);
  file->WriteChanges();
  file->EmptyFile();
  file->WriteChanges();
  const std::vector<std::uint8_t> bytes = FileBytes();
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(kSlotArea));
  namespace header = data_header_layout;
  EXPECT_EQ(I32At(bytes, header::kChangeCount), 1);  // reset, then one write
  EXPECT_EQ(I32At(bytes, header::kNextRecordNumber), 1);
  EXPECT_EQ(I32At(bytes, header::kLastRecordID), 0);
  EXPECT_EQ(I32At(bytes, header::kLastAutoIncValue), 0);
  EXPECT_EQ(I32At(bytes, header::kRecordCount), 0);
  EXPECT_EQ(I32At(bytes, header::kLastBlobRevision), 1);  // BLOB revisions keep counting
}

TEST_F(DataFileTest, StructureLimits) {
  std::vector<FieldDescriptor> blobs;
  for (std::uint16_t i = 1; i <= 129; ++i) {
    blobs.push_back(FieldDef(i, "B" + std::to_string(i)).Blob());
  }
  std::vector<FieldDescriptor> wide;
  for (std::uint16_t i = 1; i <= 130; ++i) {
    wide.push_back(FieldDef(i, "S" + std::to_string(i)).String(512));
  }
  auto file = NewFile();
  file->CreateNew();
  EXPECT_EQ(CodeOf([&] { file->SetStructure(blobs); }), STRATA_BLOBLIMIT);
  EXPECT_EQ(CodeOf([&] { file->SetStructure(wide); }), STRATA_RECTOOBIG);
  file->Close();

  // The sizes the other files are opened with are checked before use.
  TableInfo info;
  file = Create(PeopleFields(), info);
  EXPECT_EQ(file->CheckedBlobBlockSize(), 512);
  EXPECT_EQ(file->CheckedIndexPageSize(), 4096);
  for (const auto& [blockSize, pageSize] : {std::pair{500, 4100}, std::pair{65544, 16392},
                                            std::pair{56, 1016}}) {
    info.BlobBlockSize = blockSize;
    info.IndexPageSize = pageSize;
    file->SetTableInfo(info);
    EXPECT_EQ(CodeOf([&] { file->CheckedBlobBlockSize(); }), STRATA_HEADERCORRUPT) << blockSize;
    EXPECT_EQ(CodeOf([&] { file->CheckedIndexPageSize(); }), STRATA_HEADERCORRUPT) << pageSize;
  }

  // Appending stops at the engine's record limit.
  owner_.limits.MaxRecordCount = 2;
  AddRecord(*file, 1);
  AddRecord(*file, 2);
  EXPECT_EQ(CodeOf([&] { AddRecord(*file, 3); }), STRATA_TABLEFULL);
}

TEST_F(DataFileTest, UpdateFieldInfoKeepsTheLayout) {
  auto file = Create();
  FieldDescriptor renamed = file->Fields()[1];
  renamed.Name = "Total";
  renamed.Required = 1;
  renamed.DefaultValue = "7";
  renamed.PhysicalSize = 99;  // not taken over
  file->UpdateFieldInfo(2, renamed);
  file->WriteChanges();
  file->Close();
  file = OpenFile();
  file->VerifyHeader();
  const FieldDescriptor* field = file->FieldByName("TOTAL");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->Required, 1);
  EXPECT_EQ(field->DefaultValue, "7");
  EXPECT_EQ(field->PhysicalSize, 4);
  EXPECT_EQ(field->FieldOffset, 37);
}

// Each case damages a valid file and names the error opening or verifying
// it must give.
struct Damage {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  ErrorCode code;
};

TEST_F(DataFileTest, DamagedFilesFailWithTheirCodes) {
  auto file = Create();
  AddRecord(*file, 1);
  AddRecord(*file, 2);
  file->WriteChanges();
  file->Close();
  const std::vector<std::uint8_t> good = FileBytes();
  namespace header = data_header_layout;
  namespace entry = field_descriptor_layout;
  // Where a field of the descriptor of field i lies.
  const auto descriptor = [](int i, std::size_t offset) {
    return header::kFieldDescriptors + kFieldDescriptorSize * (i - 1) + offset;
  };
  const Damage cases[] = {
      {"truncated header", [](auto& b) { b.resize(100); }, STRATA_HEADERCORRUPT},
      {"empty file", [](auto& b) { b.clear(); }, STRATA_HEADERCORRUPT},
      {"earlier format", [](auto& b) { b[header::kFormatVersion] = 5; }, STRATA_OLDVERSION},
      {"later format", [](auto& b) { b[header::kFormatVersion] = 7; }, STRATA_BADSIGNATURE},
      {"foreign signature", [](auto& b) { b[header::kSignatureDigest + 3] ^= 1; },
       STRATA_BADSIGNATURE},
      {"too many fields", [](auto& b) { StoreU16(b.data() + header::kFieldCount, 1025); },
       STRATA_HEADERCORRUPT},
      {"no fields", [](auto& b) { StoreU16(b.data() + header::kFieldCount, 0); },
       STRATA_HEADERCORRUPT},
      {"fields past the end", [](auto& b) { StoreU16(b.data() + header::kFieldCount, 9); },
       STRATA_HEADERCORRUPT},
      {"description length", [](auto& b) { b[header::kDescription] = 101; },
       STRATA_HEADERCORRUPT},
      {"field name length", [&](auto& b) { b[descriptor(2, entry::kName)] = 61; },
       STRATA_HEADERCORRUPT},
      {"record size not a multiple of 8",
       [](auto& b) { StoreU16(b.data() + header::kRecordSize, 60); }, STRATA_HEADERCORRUPT},
      {"field beyond the record",
       [&](auto& b) { StoreU16(b.data() + descriptor(3, entry::kFieldOffset), 50); },
       STRATA_HEADERCORRUPT},
      {"field offset out of step",
       [&](auto& b) { StoreU16(b.data() + descriptor(3, entry::kFieldOffset), 43); },
       STRATA_HEADERCORRUPT},
      {"record size too large", [](auto& b) { StoreU16(b.data() + header::kRecordSize, 64); },
       STRATA_HEADERCORRUPT},
      {"partial slot", [](auto& b) { b.resize(b.size() - 8); }, STRATA_HEADERCORRUPT},
      {"slot count", [](auto& b) { StoreI32(b.data() + header::kNextRecordNumber, 4); },
       STRATA_HEADERCORRUPT},
      {"free slot outside", [](auto& b) { StoreI32(b.data() + header::kFirstFreeRecord, 3); },
       STRATA_HEADERCORRUPT},
      {"blank name",
       [&](auto& b) {
         b[descriptor(1, entry::kName + 1)] = ' ';
         b[descriptor(1, entry::kName)] = 1;
       },
       STRATA_HEADERCORRUPT},
      {"name starts with a digit", [&](auto& b) { b[descriptor(1, entry::kName + 1)] = '1'; },
       STRATA_HEADERCORRUPT},
      {"duplicate name", [&](auto& b) {
         std::copy_n(b.begin() + descriptor(1, entry::kName), entry::kNameSize,
                     b.begin() + descriptor(2, entry::kName));
         b[descriptor(2, entry::kName + 1)] = 'n';
       }, STRATA_HEADERCORRUPT},
      {"duplicate number",
       [&](auto& b) { StoreU16(b.data() + descriptor(2, entry::kFieldNumber), 1); },
       STRATA_HEADERCORRUPT},
      {"type 0", [&](auto& b) { b[descriptor(2, entry::kEngineType)] = 0; },
       STRATA_HEADERCORRUPT},
      {"string too long",
       [&](auto& b) { StoreU16(b.data() + descriptor(1, entry::kDeclaredLength), 513); },
       STRATA_HEADERCORRUPT},
      {"length on an integer",
       [&](auto& b) { StoreU16(b.data() + descriptor(2, entry::kDeclaredLength), 4); },
       STRATA_HEADERCORRUPT},
      {"decimals on an integer", [&](auto& b) { b[descriptor(2, entry::kDeclaredDecimals)] = 2; },
       STRATA_HEADERCORRUPT},
      {"bad default",
       [&](auto& b) {
         b[descriptor(2, entry::kDefaultValue)] = 1;
         b[descriptor(2, entry::kDefaultValue + 1)] = 'x';
       },
       STRATA_HEADERCORRUPT},
      {"value text on a BLOB",
       [&](auto& b) {
         b[descriptor(3, entry::kMinValue)] = 1;
         b[descriptor(3, entry::kMinValue + 1)] = '1';
       },
       STRATA_HEADERCORRUPT},
      {"BLOB count", [](auto& b) { StoreU16(b.data() + header::kBlobFieldCount, 0); },
       STRATA_HEADERCORRUPT},
      {"locale not installed", [](auto& b) { StoreU32(b.data() + header::kLocaleID, 0xFFFF); },
       STRATA_CANNOTLOADLDDRV},
  };
  for (const Damage& damage : cases) {
    std::vector<std::uint8_t> bytes = good;
    damage.apply(bytes);
    PutBytes(bytes);
    auto damaged = NewFile();
    EXPECT_EQ(CodeOf([&] {
                damaged->Open();
                damaged->VerifyHeader();
              }),
              damage.code)
        << damage.what;
    damaged->Close();
  }
  PutBytes(good);
  auto file2 = OpenFile();
  EXPECT_NO_THROW(file2->VerifyHeader());
}

TEST_F(DataFileTest, StoredPhysicalSizesAreRecomputedAndMustFitTheRecord) {
  auto file = Create();
  AddRecord(*file, 1);
  file->WriteChanges();
  file->Close();
  const std::vector<std::uint8_t> good = FileBytes();
  namespace entry = field_descriptor_layout;
  const auto descriptor = [](int i, std::size_t offset) {
    return data_header_layout::kFieldDescriptors + kFieldDescriptorSize * (i - 1) + offset;
  };
  // A damaged copy of the size changes nothing: the type gives it.
  const struct {
    int field;
    std::uint16_t stored;
  } copies[] = {{1, 0}, {1, 1}, {1, 60000}, {2, 0}, {2, 8}, {3, 0}, {3, 65535}};
  for (const auto& copy : copies) {
    SCOPED_TRACE(std::to_string(copy.field) + ": " + std::to_string(copy.stored));
    std::vector<std::uint8_t> bytes = good;
    StoreU16(bytes.data() + descriptor(copy.field, entry::kPhysicalSize), copy.stored);
    PutBytes(bytes);
    auto opened = OpenFile();
    EXPECT_NO_THROW(opened->VerifyHeader());
    const std::vector<std::uint16_t> sizes = {opened->Fields()[0].PhysicalSize,
                                              opened->Fields()[1].PhysicalSize,
                                              opened->Fields()[2].PhysicalSize};
    EXPECT_EQ(sizes, (std::vector<std::uint16_t>{11, 4, 8}));
  }
  // A type whose size takes the value past the record is refused on any
  // open, the unchecked one of verification included.
  std::vector<std::uint8_t> bytes = good;
  bytes[descriptor(3, entry::kEngineType)] = kTypeBcd;
  PutBytes(bytes);
  auto past = NewFile();
  EXPECT_EQ(CodeOf([&] { past->Open(); }), STRATA_HEADERCORRUPT);
  EXPECT_FALSE(past->IsOpen());
}

TEST_F(DataFileTest, StoredValueRulesNeverReadPastTheSlot) {
  // Descriptors that were not read from a file (and so not recomputed):
  // a slot smaller than its type's value at the very end of the record.
  std::vector<std::uint8_t> record(32, 0);
  for (const std::uint8_t type : {kTypeDate, kTypeBoolean, kTypeTime, kTypeTimestamp, kTypeBcd,
                                  kTypeBlob}) {
    SCOPED_TRACE(static_cast<int>(type));
    FieldDescriptor field = FieldDef(1, "F").Type(type);
    field.FieldOffset = 30;
    field.PhysicalSize = 1;
    record[30] = 1;
    record[31] = 0x7F;
    EXPECT_EQ(StoredValueFault(record, field), "a value slot too small for its type");
    field.PhysicalSize = 2;
    EXPECT_EQ(StoredValueFault(record, field), "a value beyond the record");
  }
}

TEST_F(DataFileTest, DefaultSignatureOpensUnderAnEngineSignature) {
  Create()->Close();
  owner_.signature.fill(0x42);
  EXPECT_NO_THROW(OpenFile()->VerifyHeader());
  auto file = Create();  // stamped with the engine's own digest
  file->Close();
  EXPECT_EQ(FileBytes()[data_header_layout::kSignatureDigest], 0x42);
  owner_.signature = kDefaultSignatureDigest;
  EXPECT_EQ(CodeOf([&] { OpenFile(); }), STRATA_BADSIGNATURE);
}

TEST_F(DataFileTest, FieldNameRules) {
  EXPECT_TRUE(IsValidFieldName(std::string(60, 'a')));
  EXPECT_FALSE(IsValidFieldName(std::string(61, 'a')));
  EXPECT_TRUE(IsValidFieldName("  _x  "));
  EXPECT_TRUE(IsValidFieldName("\xC9t\xE9"));
  EXPECT_FALSE(IsValidFieldName("\xFF"));
  EXPECT_FALSE(IsValidFieldName("9lives"));
  EXPECT_TRUE(SameFieldName(" \xE9T\xC9 ", "\xC9t\xE9"));
  EXPECT_TRUE(IsValidValueText(kTypeTime, "11:30 PM"));
  EXPECT_TRUE(IsValidValueText(kTypeTimestamp, "CURRENT_TIMESTAMP"));
  EXPECT_FALSE(IsValidValueText(kTypeSmallint, "40000"));
  EXPECT_TRUE(IsValidValueText(kTypeWord, "65535"));
  EXPECT_FALSE(IsValidValueText(kTypeDate, "2024-13-01"));
  // Limits and defaults of numbers are decimal numbers, never INF or NAN.
  for (const std::uint8_t type : {kTypeFloat, kTypeBcd}) {
    EXPECT_TRUE(IsValidValueText(type, "-12.5")) << int(type);
    for (const char* text : {"NAN", "nan", "INF", "-INF", "+Inf"}) {
      EXPECT_FALSE(IsValidValueText(type, text)) << int(type) << " " << text;
    }
  }
}

TEST_F(DataFileTest, EncipheredTableKeepsTheHeaderPlainAndEnciphersEachUnit) {
  owner_.UsePassword("secret");
  TableInfo info;
  info.Encrypted = true;
  info.PasswordCheck = owner_.hooks.PasswordCheck("secret");
  auto file = Create(PeopleFields(), info);
  {
    BufferPin pin;
    ASSERT_TRUE(file->AllocateSlot(nullptr, pin));
    WriteString(TDataFile::RecordOf(pin).Image(), file->Fields()[0], "Ada", Collation());
  }
  file->WriteChanges();
  file->Close();

  std::vector<std::uint8_t> bytes = FileBytes();
  EXPECT_EQ(bytes[data_header_layout::kFormatVersion], 6);
  EXPECT_EQ(bytes[data_header_layout::kEncrypted], 1);
  std::vector<std::uint8_t> descriptors(bytes.begin() + data_header_layout::kFieldDescriptors,
                                        bytes.begin() + kSlotArea);
  std::vector<std::uint8_t> slot(bytes.begin() + kSlotArea, bytes.end());
  constexpr std::size_t kName = field_descriptor_layout::kName;
  EXPECT_NE(descriptors[kName], 4);
  owner_.cipher->Decipher(descriptors);
  owner_.cipher->Decipher(slot);
  EXPECT_EQ(descriptors[kName], 4);
  EXPECT_EQ(std::string(descriptors.begin() + kName + 1, descriptors.begin() + kName + 5), "Name");
  EXPECT_EQ(I32At(slot, record_layout::kLink), 1);
  // The first field's value, after its NullFlag.
  const std::size_t value = kFirstFieldOffset + record_layout::kNullFlagSize;
  EXPECT_EQ(std::string(slot.begin() + value, slot.begin() + value + 3), "Ada");

  file = OpenFile();
  {
    BufferPin pin;
    ASSERT_TRUE(file->GetBuffer(nullptr, 0, false, 1, pin));
    EXPECT_EQ(ReadString(TDataFile::RecordOf(pin).Image(), file->Fields()[0]), "Ada");
  }
  file->Close();

  owner_.UsePlain();
  bool asked = false;
  file = NewFile();
  file->OnPasswordCheck = [&](const DataFileHeader& header) {
    asked = header.PasswordCheck == info.PasswordCheck;
  };
  EXPECT_EQ(CodeOf([&] { file->Open(); }), STRATA_NOTSUFFTABLERIGHTS);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(file->IsOpen());
}

}  // namespace
}  // namespace strata
