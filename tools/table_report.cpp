#include "tools/table_report.h"

#include <cstdio>
#include <memory>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/index_file.h"
#include "engine/values/date_time.h"
#include "platform/file_system.h"
#include "tools/directory_reference.h"

namespace strata::tools {

namespace {

inline constexpr char kPrimaryName[] = "<Primary>";

// The length of the file, -1 when it cannot be opened.
std::int64_t FileLength(const std::string& path) {
  platform::OpenedFile opened =
      platform::CurrentFileSystem().Open(path, platform::OpenRequest{.readOnly = true});
  return opened.handle ? opened.handle->Size() : -1;
}

IndexReport ReportIndex(const TIndexFile& index, const TDataFile& data, int slot) {
  const IndexDescriptor& descriptor = index.Descriptor(slot);
  IndexReport report;
  report.Slot = slot;
  report.Name = slot == 0 && descriptor.Name.empty() ? kPrimaryName : descriptor.Name;
  for (std::size_t k = 0; k < descriptor.FieldCount && k < kMaxKeyFields; ++k) {
    KeyFieldReport key;
    key.Number = descriptor.FieldNumbers[k];
    const FieldDescriptor* field = data.FieldByNumber(key.Number);
    key.Name = field != nullptr ? field->Name : "#" + std::to_string(key.Number);
    key.Descending = descriptor.DescendingFields[k] != 0;
    report.KeyFields.push_back(std::move(key));
  }
  report.Unique = descriptor.Unique != 0;
  report.CaseInsensitive = descriptor.CaseInsensitive != 0;
  report.Compression = descriptor.Compression;
  report.KeyLength = descriptor.KeyLength;
  report.RootPage = index.RootPage(slot);
  report.FullText = descriptor.FullText != 0;
  return report;
}

}  // namespace

std::optional<std::string> LastUpdatedText(double stored) {
  const auto split = SplitDateTime(stored + kDayNumberOf18991230);
  const auto date = split ? DecodeDayNumber(split->dayNumber) : std::nullopt;
  if (!date) return std::nullopt;
  const auto time = DecodeMilliseconds(split->milliseconds);
  if (!time) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date->year, date->month,
                date->day, time->hour, time->minute, time->second);
  return std::string(text);
}

TableReport ReadTableReport(TDataSession& session, std::string_view directory,
                            std::string_view table) {
  DirectoryReference reference(session, directory);
  return ReadTableReport(*reference, table);
}

void RequireIndexFile(TDataDirectory& dir, std::string_view table) {
  const std::string name = dir.TableNameFor(table);
  if (!dir.TableExists(name)) return;
  const TDataTable probe(dir, name, name, false, false, /*readOnly=*/true);
  const std::string indexPath = probe.FilePath(TableFileKind::Index);
  if (FileLength(indexPath) < kFirstIndexPageOffset) {
    throw TableReportError("the index file '" + indexPath +
                           "' is missing or truncated; strata leaves the table as it is "
                           "and does not rebuild it");
  }
}

TableReport ReadTableReport(TDataDirectory& dir, std::string_view table) {
  TDataSession& session = dir.Session();
  TableReport report;
  report.Directory = dir.Path();
  report.Table = dir.TableNameFor(table);

  // Not counted in the directory and never written: the files are opened
  // for reading only.
  auto opened = std::make_unique<TDataTable>(dir, report.Table, report.Table, false, false,
                                             /*readOnly=*/true);
  try {
    opened->Open();
  } catch (const EStrataEngineError&) {
    // A missing or cut index file is said in words of its own, unless the
    // open met another program's change (which renames files).
    if (dir.ChangeState(report.Table) != JournalState::InProgress) {
      RequireIndexFile(dir, report.Table);
    }
    throw;
  }
  RequireIndexFile(dir, report.Table);

  const TDataFile& data = *opened->DataFile();
  const TIndexFile& index = *opened->IndexFile();
  report.Header = data.Header();
  report.Fields.assign(data.Fields().begin(), data.Fields().end());
  for (const TDataLocale& locale : session.Engine().Locales()->Entries()) {
    if (locale.LocaleID == report.Header.LocaleID) {
      report.LocaleName = locale.LocaleName;
      break;
    }
  }
  report.DataFileSize = FileLength(opened->FilePath(TableFileKind::Data));
  report.IndexFileSize = FileLength(opened->FilePath(TableFileKind::Index));
  if (opened->BlobFile() != nullptr) {
    report.BlobFileSize = FileLength(opened->FilePath(TableFileKind::Blob));
  }
  report.Indexes.push_back(ReportIndex(index, data, 0));
  for (int slot = 1; slot <= index.SecondaryIndexCount(); ++slot) {
    report.Indexes.push_back(ReportIndex(index, data, slot));
  }
  if (index.Descriptor(kFullTextSlot).FieldCount > 0) {
    report.Indexes.push_back(ReportIndex(index, data, kFullTextSlot));
  }
  return report;
}

}  // namespace strata::tools
