#include "tools/sample_database.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "components/default_components.h"
#include "components/strata_table.h"
#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/values/bcd.h"
#include "engine/values/currency.h"
#include "engine/values/field_types.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/signal_cleanup.h"

namespace strata::tools {

namespace {

constexpr std::int32_t kIndexPageSize = 4096;
constexpr std::int32_t kBlobBlockSize = 512;
// Day number of 2021-07-28 (0001-01-01 is day 1); row r is dated r days on.
constexpr std::int32_t kFirstDay = 738000;
constexpr double kMillisecondsPerDay = 86400000.0;

std::vector<std::string> SplitFieldNames(std::string_view fields) {
  std::vector<std::string> names;
  while (!fields.empty()) {
    const std::size_t end = fields.find(';');
    names.emplace_back(fields.substr(0, end));
    fields = end == std::string_view::npos ? std::string_view{} : fields.substr(end + 1);
  }
  return names;
}

// The older type and size of field j of catalogue table i.
SampleField OlderField(const CatalogueField& field, std::size_t i, std::size_t j) {
  SampleField older{field.Name, field.DataType, field.Size};
  const bool even = (i + j) % 2 == 0;
  switch (field.DataType) {
    case ftInteger:
      if (even) older.DataType = ftSmallint;
      break;
    case ftAutoInc:
      if (i % 2 == 0) older.DataType = ftInteger;
      break;
    case ftString:
      // Short strings stay: their values would no longer be unique.
      if (field.Size >= 8 && (i + j) % 3 == 0) older.Size = field.Size / 2;
      if (field.Size >= 8 && (i + j) % 3 == 1) older.Size = field.Size + 10;
      break;
    case ftDate:
      if (i % 2 == 1) older.DataType = ftDateTime;
      break;
    case ftDateTime:
      if (i % 2 == 1) older.DataType = ftDate;
      break;
    case ftCurrency:
      if (i % 2 == 0) older.DataType = ftFloat;
      break;
    default:
      break;
  }
  return older;
}

// The older shape of catalogue table i.
SampleTable OlderTable(const CatalogueEntry& entry, std::size_t i) {
  SampleTable table;
  table.FileName = entry.FileName;
  std::set<std::string> indexed;
  for (const CatalogueIndex& index : entry.Indexes) {
    for (std::string& name : SplitFieldNames(index.Fields)) indexed.insert(std::move(name));
  }
  std::size_t fieldCount = entry.Fields.size();
  // Every third table lacks its last field when nothing needs it.
  if (i % 3 == 1 && fieldCount > 2) {
    const CatalogueField& last = entry.Fields[fieldCount - 1];
    if (!last.Required && !indexed.contains(last.Name)) --fieldCount;
  }
  for (std::size_t j = 0; j < fieldCount; ++j) {
    table.Fields.push_back(OlderField(entry.Fields[j], i, j));
  }

  // The primary index as now; the secondary indexes without descending
  // order, or, in every other table, one index on the first string field.
  for (std::size_t k = 0; k < entry.Indexes.size(); ++k) {
    const CatalogueIndex& index = entry.Indexes[k];
    TIndexOptions options = index.Options;
    if (k == 0) {
      table.Indexes.push_back({index.Name, index.Fields, options});
    } else if (i % 2 == 1) {
      options.Exclude(ixDescending);
      table.Indexes.push_back({index.Name, index.Fields, options});
    }
  }
  if (i % 2 == 0) {
    for (const SampleField& field : table.Fields) {
      if (field.DataType == ftString) {
        table.Indexes.push_back({"Old" + field.Name, field.Name, {}});
        break;
      }
    }
  }
  return table;
}

// The value of a field in row r, in the stored encoding of its engine type
// (nothing for BLOBs, written separately, and auto-increment fields).
std::optional<std::vector<std::uint8_t>> RowValue(const FieldDescriptor& field, std::int32_t r) {
  std::vector<std::uint8_t> value(std::max<std::size_t>(field.PhysicalSize, 8));
  switch (field.EngineType) {
    case kTypeString: {
      const std::string text = SampleText(r, field.Name, field.PhysicalSize - 1u);
      std::fill(value.begin(), value.end(), 0);
      std::copy(text.begin(), text.end(), value.begin());
      return value;
    }
    case kTypeInteger:
      if (field.SubType == kSubTypeAutoInc) return std::nullopt;
      StoreI32(value.data(), r);
      return value;
    case kTypeSmallint:
    case kTypeWord:
    case kTypeBoolean:
      StoreU16(value.data(),
               static_cast<std::uint16_t>(field.EngineType == kTypeBoolean ? r % 2 : r));
      return value;
    case kTypeLargeint:
      StoreI64(value.data(), r);
      return value;
    case kTypeFloat:
      StoreF64(value.data(), r + 0.25);
      return value;
    case kTypeBcd: {
      value.resize(kBcdSize);
      const std::optional<Currency> amount = IntegerToCurrency(r);
      if (!amount || !CurrencyToBcd(*amount, field.PhysicalDecimals,
                                    std::span<std::uint8_t, kBcdSize>(value.data(), kBcdSize))) {
        return std::nullopt;
      }
      return value;
    }
    case kTypeDate:
      StoreI32(value.data(), kFirstDay + r);
      return value;
    case kTypeTime:
      StoreI32(value.data(), (r % 86400) * 1000);
      return value;
    case kTypeTimestamp:
      StoreF64(value.data(), (kFirstDay + r) * kMillisecondsPerDay + (r % 24) * 3600000.0);
      return value;
    default:
      return std::nullopt;
  }
}

void CreateOlderTable(const std::string& directory, const SampleTable& sample) {
  TStrataTable table;
  table.SetDatabaseName(directory);
  table.SetTableName(sample.FileName);
  table.SetExclusive(true);
  for (const SampleField& field : sample.Fields) {
    table.FieldDefs().Add(field.Name, field.DataType, field.Size);
  }
  for (const SampleIndex& index : sample.Indexes) {
    table.IndexDefs().Add(index.Name, index.Fields, index.Options);
  }
  table.CreateTable(0, 0, 0, false, "", "", kIndexPageSize, kBlobBlockSize, -1, "", std::nullopt,
                    "", "");
}

void FillTable(TDataDirectory& directory, const std::string& name, std::int32_t rows) {
  TDataCursor cursor(directory, name, CursorModes{.Exclusive = true});
  cursor.Open();
  std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
  const std::vector<FieldDescriptor> fields(cursor.Fields().begin(), cursor.Fields().end());
  for (std::int32_t r = 1; r <= rows; ++r) {
    std::fill(record.begin(), record.end(), 0);
    cursor.ApplyDefaults(record);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const FieldDescriptor& field = fields[f];
      const auto number = static_cast<std::uint16_t>(f + 1);
      if (field.EngineType == kTypeBlob) {
        const std::string text =
            "Row " + std::to_string(r) + " of " + name + ", field " + field.Name + ".";
        cursor.SetBlobValue(record, number,
                            std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                      text.size()));
      } else if (const auto value = RowValue(field, r)) {
        cursor.SetField(record, number, std::span<const std::uint8_t>(*value));
      }
    }
    cursor.InsertRecord(record);
  }
  cursor.Close();
}

}  // namespace

std::string SampleText(std::int32_t row, std::string_view fieldName, std::size_t length) {
  std::string tag;
  if (length >= kDecimalTagLength) {
    tag = std::to_string(row);
  } else {
    // Base 36 in capitals: three characters reach 46,655, and no letter
    // case can make two rows alike under a case-insensitive index.
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (std::int32_t rest = row; tag.empty() || rest > 0; rest /= 36) {
      tag.insert(tag.begin(), kDigits[rest % 36]);
    }
  }
  std::string text = tag + " " + std::string(fieldName);
  if (text.size() > length) text.resize(length);
  return text;
}

std::vector<SampleTable> SampleTables() {
  std::vector<SampleTable> tables;
  const auto catalogue = Catalogue();
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    // Every fifth table is missing; the first (accents) never is.
    if (i % 5 == 4) continue;
    tables.push_back(OlderTable(catalogue[i], i));
  }
  return tables;
}

void CreateSampleFolder(const std::string& folder, std::int32_t rows) {
  namespace fs = std::filesystem;
  const fs::path target = fs::absolute(fs::path(folder)).lexically_normal();
  std::error_code code;
  // The folders to make, the deepest first.
  std::vector<fs::path> made;
  for (fs::path at = target; !at.empty() && !fs::exists(at, code); at = at.parent_path()) {
    made.push_back(at);
    if (at == at.parent_path()) break;
  }
  if (made.empty()) {
    if (!fs::is_directory(target, code)) {
      throw EDatabaseError("'" + folder + "' is not a folder");
    }
    std::vector<std::string> tables;
    const bool listed = platform::CurrentFileSystem().ListFiles(target.string() + "/", "*.dat", tables);
    if (listed && !tables.empty()) {
      throw EDatabaseError("The directory '" + folder +
                           "' already holds tables; the sample needs an empty directory");
    }
    if (!fs::is_empty(target, code)) {
      throw EDatabaseError("The directory '" + folder +
                           "' is not empty; the sample needs an empty directory");
    }
  }
  using platform::SignalCleanup;
  std::vector<std::unique_ptr<SignalCleanup>> cleanups;
  for (const fs::path& path : made) {
    cleanups.push_back(std::make_unique<SignalCleanup>(path.string(), SignalCleanup::Kind::Folder));
  }
  if (made.empty()) {
    cleanups.push_back(
        std::make_unique<SignalCleanup>(target.string(), SignalCleanup::Kind::FolderContents));
  }
  try {
    if (!platform::CreateDirectories(target.string())) {
      throw EDatabaseError("Cannot create the directory '" + folder +
                           "': " + std::generic_category().message(platform::LastErrorNumber()));
    }
    WriteSampleDatabase(target.string() + "/", rows);
  } catch (...) {
    for (const fs::path& path : made) {
      platform::RemoveRegistered(path.string(), SignalCleanup::Kind::Folder);
    }
    if (made.empty()) platform::RemoveRegistered(target.string(), SignalCleanup::Kind::FolderContents);
    throw;
  }
}

void WriteSampleDatabase(const std::string& directory, std::int32_t rows) {
  DefaultSession().SetActive(true);
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& data = session.OpenDirectory("", directory);
  struct CloseAtExit {
    TDataSession& session;
    TDataDirectory& directory;
    ~CloseAtExit() {
      SetAsideError("best-effort close in a destructor",
                    [&] { session.CloseDirectory(directory); });
    }
  } closeAtExit{session, data};
  if (!data.ListTables().empty()) {
    throw EDatabaseError("The directory '" + directory +
                         "' already holds tables; the sample needs an empty directory");
  }
  for (const SampleTable& table : SampleTables()) {
    CreateOlderTable(directory, table);
    FillTable(data, table.FileName, rows);
  }
}

}  // namespace strata::tools
