#include "engine/core/cursors/data_cursor.h"

#include <algorithm>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/cursor_write_state.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/schema/table_names.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/blob_buffer.h"
#include "engine/formats/record_values.h"
#include "engine/locale/collation.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::size_t kMaxContextLength = 255;

// Releases the table read lock an operation took, also on failure.
class ReadLockScope {
 public:
  explicit ReadLockScope(TDataTable& table) : table_(table) {}
  ~ReadLockScope() {
    SetAsideError("a release at the end of a read; the read's outcome is what counts",
                  [&] { table_.ReadUnlockTable(); });
  }
  ReadLockScope(const ReadLockScope&) = delete;
  ReadLockScope& operator=(const ReadLockScope&) = delete;

 private:
  TDataTable& table_;
};

}  // namespace

TDataCursor::TDataCursor(TDataDirectory& directory, std::string_view tableName, CursorModes modes)
    : directory_(directory),
      tableName_(directory.TableNameFor(tableName)),
      displayName_(tableName),
      modes_(modes) {}

TDataCursor::~TDataCursor() {
  SetAsideError("best-effort close in a destructor", [&] { Close(); });
}

TDataSession& TDataCursor::Session() const { return directory_.Session(); }

void TDataCursor::Raise(std::uint16_t code, std::string_view field, std::string_view index) const {
  RaiseEngineError(code, {}, {}, directory_.ErrorDatabaseName(),
                   table_ != nullptr ? table_->ErrorTableName() : displayName_, field, index);
}

const FieldDescriptor& TDataCursor::RequireField(std::uint16_t number) const {
  const FieldDescriptor* field = FieldByNumber(number);
  if (field == nullptr) throw std::out_of_range("no field " + std::to_string(number));
  return *field;
}

SortedBuildSettings TDataCursor::SortSettingsHere() const {
  SortedBuildSettings settings;
  settings.MemoryBytes = Session().Engine().SortMemory();
  settings.Threads = Session().Engine().BuildThreads();
  if (directory_.InMemory() || Session().Engine().Options().CreateTempTablesInDatabase) {
    settings.TempDirectory = directory_.Path();
    settings.TempInMemory = directory_.InMemory();
  } else {
    settings.TempDirectory = DirectoryWithSlash(Session().PrivateDirectory());
  }
  return settings;
}

void TDataCursor::Close() {
  if (table_ == nullptr) return;
  blobs_.clear();
  TDataTable& table = *table_;
  // Keys held back go into the trees before the table is written.
  std::exception_ptr failure;
  if (write_) KeepFirstError(failure, [&] { write_->Indexes->ApplyHeldKeys(); });
  table.BeforeFlush = nullptr;
  write_.reset();
  currentRecord_ = 0;
  table_ = nullptr;
  directory_.CloseTable(table);
  if (failure) std::rethrow_exception(failure);
}

void TDataCursor::RequireOpen() const {
  if (table_ == nullptr) throw std::logic_error("the cursor's table is not open");
}

bool TDataCursor::ReadOnly() const {
  return modes_.ReadOnly || (table_ != nullptr && table_->ReadOnly());
}

std::span<const FieldDescriptor> TDataCursor::Fields() const {
  RequireOpen();
  return table_->DataFile()->Fields();
}

std::int32_t TDataCursor::RecordSize() const {
  RequireOpen();
  return table_->DataFile()->Header().RecordSize;
}

std::vector<std::uint8_t> TDataCursor::NewRecordBuffer() const {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(RecordSize()), 0);
}

std::int32_t TDataCursor::PhysicalRecordCount() const {
  RequireOpen();
  return table_->DataFile()->UnitCount();
}

bool TDataCursor::ReadRecord(std::int32_t record, std::span<std::uint8_t> buffer) {
  RequireOpen();
  TDataTable& table = *table_;
  TDataFile& data = *table.DataFile();
  if (buffer.size() < static_cast<std::size_t>(data.Header().RecordSize)) {
    throw std::length_error("record buffer smaller than the record");
  }
  ReadLockScope scope(table);
  bool checked = false;
  if (Session().StrictChangeDetection()) {
    table.ReadLockTable();
    checked = true;
  }
  for (;;) {
    if (record < 1 || record > data.UnitCount()) {
      // Records appended by another user show once the table is checked.
      if (!checked) {
        checked = true;
        table.ReadLockTable();
        continue;
      }
      RaiseTableError(STRATA_RECNOTFOUND, table.ErrorTableName(), table.ErrorDatabaseName());
    }
    BufferPin pin;
    bool got = false;
    if (modes_.SequentialScan) {
      data.SetRecordsAhead(data.UnitCount() - record + 1);
      got = data.GetBuffer(this, TBufferedFile::kForward, true, record, pin);
      data.SetRecordsAhead(1);
    } else {
      got = data.GetBuffer(this, TBufferedFile::kNoDirection, false, record, pin);
    }
    if (!got) {
      checked = true;
      continue;  // changed by another user: the caches were dropped
    }
    const TRecord& slot = TDataFile::RecordOf(pin);
    const auto image = slot.Image();
    std::copy(image.begin(), image.end(), buffer.begin());
    return !slot.Deleted();
  }
}

const FieldDescriptor* TDataCursor::FieldByNumber(std::uint16_t number) const {
  RequireOpen();
  const TDataFile& data = *table_->DataFile();
  if (number == kRecordIdFieldNumber || number == kRecordHashFieldNumber || modes_.FieldsByNumber) {
    return data.FieldByNumber(number);
  }
  const std::span<const FieldDescriptor> fields = data.Fields();
  return number >= 1 && number <= fields.size() ? &fields[number - 1u] : nullptr;
}

std::optional<std::vector<std::uint8_t>> TDataCursor::GetField(std::span<const std::uint8_t> buffer,
                                                               std::uint16_t number) const {
  const FieldDescriptor* field = FieldByNumber(number);
  if (field == nullptr) throw std::out_of_range("no field " + std::to_string(number));
  if (FieldIsNull(buffer, *field)) return std::nullopt;
  const ConstRecordImage bytes = FieldBytes(buffer, *field);
  // A BLOB field reads as its reference's first block (or open handle).
  const std::size_t size =
      field->EngineType == kTypeBlob ? record_layout::kBlobFirstBlockSize : bytes.size();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

void TDataCursor::SetField(std::span<std::uint8_t> buffer, std::uint16_t number,
                           std::optional<std::span<const std::uint8_t>> value) const {
  const FieldDescriptor* field = FieldByNumber(number);
  if (field == nullptr) throw std::out_of_range("no field " + std::to_string(number));
  if (field->Computed != 0 || IsSystemField(*field)) return;
  if (!value) {
    SetFieldNull(buffer, *field);
    return;
  }
  if (field->EngineType == kTypeBlob) {
    std::uint8_t reference[record_layout::kBlobFirstBlockSize] = {};
    std::copy_n(value->begin(), std::min(sizeof reference, value->size()), reference);
    SetBlobField(buffer, number, LoadI32(reference), true);
    return;
  }
  WriteFieldBytes(buffer, *field, *value, Collation::For(table_->DataFile()->LocaleID()));
}

void TDataCursor::SetBlobField(std::span<std::uint8_t> buffer, std::uint16_t number,
                               std::int32_t reference, bool hasValue) const {
  const FieldDescriptor* field = FieldByNumber(number);
  if (field == nullptr) throw std::out_of_range("no field " + std::to_string(number));
  if (field->Computed != 0 || field->EngineType != kTypeBlob) return;
  // Only the first half of the reference; the revision stays.
  WriteBlobFirstBlock(buffer, *field, reference);
  buffer[field->FieldOffset] = reference < 0 ? (hasValue ? 1 : 0) : (reference != 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Hooks

void TDataCursor::BeginProgress(std::string_view text) {
  progressText_ = std::string(text);
  lastProgress_ = 0;
  progressEnded_ = false;
}

void TDataCursor::StepProgress(std::int64_t done, std::int64_t total) {
  if (total <= 0) return;
  const auto percent = static_cast<std::int32_t>(std::clamp<std::int64_t>(done * 100 / total, 0, 100));
  if (percent < lastProgress_ + Session().ProgressStep()) return;
  lastProgress_ = percent;
  progressEnded_ = percent == 100;
  if (OnProgress) OnProgress(static_cast<std::uint16_t>(percent), progressText_);
}

void TDataCursor::EndProgress() {
  if (progressEnded_) return;
  progressEnded_ = true;
  lastProgress_ = 100;
  if (OnProgress) OnProgress(100, progressText_);
}

void TDataCursor::ResetDataLoss() {
  stopAsking_ = false;
  continue_ = true;
}

bool TDataCursor::ReportDataLoss(TDataLossCause cause, std::string_view context,
                                 bool evenWhenStopAsking) {
  if ((stopAsking_ && !evenWhenStopAsking) || !OnDataLost) return continue_;
  OnDataLost(cause, context.substr(0, kMaxContextLength), stopAsking_, continue_);
  return continue_;
}

void TDataCursor::Log(std::string_view line) const {
  if (OnLog) OnLog(line.substr(0, kMaxContextLength));
}

}  // namespace strata
