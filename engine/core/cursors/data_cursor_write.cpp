// TDataCursor: the record write path (inserting and deleting records with
// their keys, full-text words and BLOB values) and the index operations.
#include <algorithm>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/cursor_write_state.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/cursors/write_locks.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/field_value_rules.h"
#include "engine/core/indexing/sorted_index_build.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/blob_buffer.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

bool IsAutoInc(const FieldDescriptor& field) {
  return field.EngineType == kTypeInteger && field.SubType == kSubTypeAutoInc;
}

std::int32_t RecordIdOf(std::span<const std::uint8_t> record) {
  return LoadI32(record.data() + record_layout::kId);
}

std::int32_t FirstBlockOf(std::span<const std::uint8_t> record, const FieldDescriptor& field) {
  return ReadBlobReference(record, field).FirstBlock;
}

std::string_view TextOf(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A BLOB value the record being inserted carries open.
struct PendingBlob {
  const FieldDescriptor* Field = nullptr;
  TBlobBuffer* Blob = nullptr;
  BlobReference Before;
  bool Written = false;
};

}  // namespace

CursorWriteState& TDataCursor::WriteState() {
  RequireOpen();
  if (write_) return *write_;
  auto state = std::make_unique<CursorWriteState>();
  const TDataFile& data = *table_->DataFile();
  state->TableCollation = Collation::For(data.LocaleID());
  for (const FieldDescriptor& field : data.Fields()) {
    if (IsAutoInc(field)) state->AutoIncFields.push_back(&field);
    if (HasValueRules(field)) state->RuleFields.push_back(&field);
    if (!field.DefaultValue.empty() && field.EngineType != kTypeBlob) {
      state->DefaultFields.push_back(&field);
    }
    if (field.EngineType == kTypeBlob) state->BlobFields.push_back(&field);
  }
  state->Indexes = std::make_unique<TableIndexWriter>(*table_->IndexFile(), data.Fields(),
                                                      data.LocaleID(), table_->ErrorTableName(),
                                                      table_->ErrorDatabaseName(), this);
  state->Indexes->Hooks = &table_->Engine().TextIndex;
  // An exclusive table given a memory budget holds the keys that refuse no
  // record and puts them in sorted, a tree page taking many at a time.
  if (modes_.Exclusive && !table_->InTransaction() && !table_->ReadOnly() &&
      table_->Engine().Options().MemoryBudget > 0) {
    state->Indexes->HoldKeys(table_->Engine().SortMemory());
    table_->BeforeFlush = [this] {
      if (write_) write_->Indexes->ApplyHeldKeys();
    };
  }
  state->Work.assign(static_cast<std::size_t>(data.Header().RecordSize), 0);
  write_ = std::move(state);
  return *write_;
}

CursorWriteState& TDataCursor::BeginWrite(WriteLocks& locks) {
  const bool shared = !modes_.Exclusive && !table_->InTransaction();
  if (shared && locks.LockTable()) write_.reset();
  return WriteState();
}

TableIndexWriter& TDataCursor::Indexes() { return *WriteState().Indexes; }

// ---------------------------------------------------------------------------
// Record-level steps

void TDataCursor::ApplyDefaults(std::span<std::uint8_t> record) {
  const CursorWriteState& state = WriteState();
  const std::size_t size = state.Work.size();
  if (record.size() < size) throw std::length_error("record buffer smaller than the record");
  std::fill_n(record.begin(), size, 0);
  for (const FieldDescriptor* field : state.DefaultFields) {
    ApplyDefaultValue(record, *field, state.TableCollation);
  }
}

void TDataCursor::CheckConstraints(std::span<const std::uint8_t> record) {
  const CursorWriteState& state = WriteState();
  for (const FieldDescriptor* field : state.RuleFields) {
    if (const ErrorCode code = CheckFieldValue(record, *field, state.TableCollation)) {
      Raise(code, field->Name);
    }
  }
}

void TDataCursor::AssignAutoInc(std::span<std::uint8_t> work) {
  const std::int32_t next = table_->DataFile()->NextAutoIncValue();
  for (const FieldDescriptor* field : WriteState().AutoIncFields) {
    if (FieldIsNull(work, *field)) WriteInteger(work, *field, next);
  }
}

void TDataCursor::AssignRecordID(std::span<std::uint8_t> work) {
  if (modes_.KeepRecordIDs) return;
  StoreI32(work.data() + record_layout::kId,
           NextCounterValue(table_->DataFile()->LastRecordID()));
}

void TDataCursor::ComputeRecordHash(std::span<std::uint8_t> work) {
  const Md5Digest hash = strata::ComputeRecordHash(work, table_->DataFile()->Fields());
  std::copy(hash.begin(), hash.end(), work.begin() + record_layout::kHash);
}

// ---------------------------------------------------------------------------
// Inserting

void TDataCursor::InsertRecord(std::span<std::uint8_t> record, const InsertOptions& options) {
  RequireOpen();
  if (ReadOnly()) Raise(STRATA_OSEACCES);
  if (record.size() < static_cast<std::size_t>(RecordSize())) {
    throw std::length_error("record buffer smaller than the record");
  }
  const bool triggers = !modes_.NoTriggers;
  const InsertTriggers& hooks = table_->Engine().Triggers;
  constexpr int kMaxRestarts = 3;
  for (int restarts = 0;;) {
    try {
      if (triggers && hooks.BeforeInsertTrigger) {
        hooks.BeforeInsertTrigger(Session(), record, *this, directory_);
      }
      StoreRecord(record, options);
      if (triggers && hooks.AfterInsertTrigger) {
        hooks.AfterInsertTrigger(Session(), record, *this, directory_);
      }
      return;
    } catch (const ERestartRequired&) {
      // Another user changed the table under a cache miss; nothing of this
      // insert is left, so it starts again.
      if (++restarts > kMaxRestarts) throw;
    } catch (const std::exception& error) {
      if (!triggers || !hooks.OnInsertError) throw;
      switch (hooks.OnInsertError(*this, error)) {
        case TInsertErrorAction::Abort: return;
        case TInsertErrorAction::Retry: continue;
        case TInsertErrorAction::Fail: break;
      }
      throw;
    }
  }
}

void TDataCursor::StoreRecord(std::span<std::uint8_t> record, const InsertOptions& options) {
  TDataTable& table = *table_;
  TDataFile& data = *table.DataFile();
  WriteLocks locks(table);
  CursorWriteState& state = BeginWrite(locks);
  // Inside a transaction every key goes in at once: a rollback must find
  // the trees as the records left them.
  if (table.InTransaction()) state.Indexes->HoldKeys(0);

  // The slot the record will take: the head of the free chain when it is a
  // free slot (a chain whose head is in use is abandoned), else a new one.
  std::int32_t slot = data.Header().NextRecordNumber;
  if (const std::int32_t head = data.FirstFreeRecord(); head != 0) {
    if (head < 0 || head > data.UnitCount()) data.RaiseCorruptError();
    BufferPin pin;
    if (!data.GetBuffer(this, TBufferedFile::kNoDirection, false, head, pin)) {
      throw ERestartRequired();
    }
    if (TDataFile::RecordOf(pin).Deleted()) slot = head;
  }
  if (!modes_.Exclusive) locks.LockRecord(slot);

  const std::span<std::uint8_t> work(state.Work);
  std::copy_n(record.begin(), work.size(), work.begin());
  if (!options.KeepLink) StoreI32(work.data() + record_layout::kLink, 0);
  std::vector<std::int32_t> nullAutoInc;
  const bool autoIncBefore = !options.SkipAutoInc && !state.AutoIncFields.empty();
  if (autoIncBefore) {
    for (const FieldDescriptor* field : state.AutoIncFields) {
      nullAutoInc.push_back(FieldIsNull(work, *field) ? 1 : 0);
    }
    AssignAutoInc(work);
  }
  if (!state.RuleFields.empty()) CheckConstraints(work);
  AssignRecordID(work);
  if (options.ComputeHash) ComputeRecordHash(work);
  const std::int32_t recordId = RecordIdOf(work);
  if (!options.SkipUniqueCheck && deferredKeys_ == nullptr) {
    state.Indexes->CheckUnique(work, recordId);
  }

  // The open BLOB values the record carries.
  std::vector<PendingBlob> blobs;
  for (const FieldDescriptor* field : state.BlobFields) {
    const std::int32_t first = FirstBlockOf(work, *field);
    if (first >= 0) continue;
    TBlobBuffer* blob = OpenBlobOf(work, *field);
    if (blob->Field().FieldNumber != field->FieldNumber) Raise(STRATA_MEMOCORRUPT, field->Name);
    blobs.push_back({field, blob, blob->Reference(), false});
  }

  // The texts of the full-text index: strings from the record, memos from
  // their changed values.
  state.TextStore.clear();
  state.Texts.clear();
  // Reserved so that the views into the stored texts stay valid.
  state.TextStore.reserve(state.Indexes->TextFields().size());
  for (const FieldDescriptor* field : state.Indexes->TextFields()) {
    if (field->EngineType == kTypeString) {
      if (FieldIsNull(work, *field)) continue;
      state.TextStore.push_back(ReadString(work, *field));
      state.Texts.push_back({field->FieldNumber, state.TextStore.back()});
      continue;
    }
    for (const PendingBlob& pending : blobs) {
      if (pending.Field == field && pending.Blob->Modified) {
        state.Texts.push_back({field->FieldNumber, TextOf(pending.Blob->Value)});
      }
    }
  }

  if (deferredKeys_ == nullptr) state.Indexes->InsertRecordKeys(work, recordId, slot, state.Texts);
  try {
    // Changed BLOB values go into new chains under new revisions; the
    // record then holds their references.
    for (PendingBlob& pending : blobs) {
      TBlobBuffer& blob = *pending.Blob;
      if (blob.Modified && blob.OpenMode != TBlobBuffer::kOpenNoWriteBack) {
        blob.Revision = data.IncrementLastBlobRevision();
        blob.FirstBlock = 0;
        pending.Written = true;
        table.BlobFile()->WriteBlobChain(blob);
      }
      WriteBlobReference(work, *pending.Field, blob.Reference());
    }
    BufferPin pin;
    if (!data.AllocateSlot(this, pin)) throw ERestartRequired();
    TRecord& stored = TDataFile::RecordOf(pin);
    if (stored.Number != slot) data.RaiseCorruptError();
    work[record_layout::kStatus] = 0;
    StoreI32(work.data() + record_layout::kLink, slot);
    const std::span<std::uint8_t> image = stored.Image();
    std::copy(work.begin(), work.end(), image.begin());
    stored.Dirty = true;
  } catch (...) {
    for (PendingBlob& pending : blobs) {
      if (!pending.Written) continue;
      SetAsideError("cleanup after a failure; the first error wins", [&] {
        if (pending.Blob->FirstBlock > 0) table.BlobFile()->FreeBlobChain(pending.Blob->FirstBlock);
      });
      pending.Blob->FirstBlock = pending.Before.FirstBlock;
      pending.Blob->Revision = pending.Before.Revision;
      pending.Blob->Modified = true;
    }
    if (deferredKeys_ == nullptr) state.Indexes->DeleteRecordKeys(work, recordId, slot, state.Texts);
    throw;
  }
  if (deferredKeys_ != nullptr) deferredKeys_->AddRecord(work, recordId, slot, state.Texts);

  // The record is stored: the counters follow it.
  data.IncrementRecordCount();
  for (std::size_t i = 0; i < state.AutoIncFields.size(); ++i) {
    const FieldDescriptor& field = *state.AutoIncFields[i];
    if (FieldIsNull(work, field)) continue;
    const auto value = static_cast<std::int32_t>(ReadInteger(work, field));
    // A value given here follows the counter even when it wrapped around.
    const bool assigned = autoIncBefore && nullAutoInc[i] != 0;
    if (assigned || value > data.LastAutoIncValue()) data.SetLastAutoIncValue(value);
    Session().SetLastAutoIncValue(value);
  }
  if (!modes_.KeepRecordIDs || recordId > data.LastRecordID()) data.SetLastRecordID(recordId);

  // The caller's buffer becomes the stored record; its open BLOB values are
  // written and released.
  std::copy(work.begin(), work.end(), record.begin());
  for (const PendingBlob& pending : blobs) {
    const auto it = std::find_if(blobs_.begin(), blobs_.end(),
                                 [&](const auto& b) { return b.get() == pending.Blob; });
    if (it != blobs_.end()) it->reset();
  }
  currentRecord_ = slot;
  FinishWrite(locks.TableLocked());
}

void TDataCursor::FinishWrite(bool shared) {
  TDataTable& table = *table_;
  if (shared) {
    table.Flush();
  } else {
    table.DataFile()->TouchHeader();
  }
}

// ---------------------------------------------------------------------------
// Deleting

void TDataCursor::DeleteRecord(std::int32_t recordNumber) {
  RequireOpen();
  if (ReadOnly()) Raise(STRATA_OSEACCES);
  TDataTable& table = *table_;
  TDataFile& data = *table.DataFile();
  WriteLocks locks(table);
  CursorWriteState& state = BeginWrite(locks);
  if (recordNumber < 1 || recordNumber > data.UnitCount()) Raise(STRATA_RECNOTFOUND);
  if (!modes_.Exclusive) locks.LockRecord(recordNumber);
  BufferPin pin;
  if (!data.GetBuffer(this, TBufferedFile::kNoDirection, false, recordNumber, pin)) {
    throw ERestartRequired();
  }
  TRecord& stored = TDataFile::RecordOf(pin);
  if (stored.Deleted()) Raise(STRATA_KEYORRECDELETED);
  const std::span<std::uint8_t> work(state.Work);
  const auto image = stored.Image();
  std::copy(image.begin(), image.end(), work.begin());
  const std::int32_t recordId = RecordIdOf(work);

  // The words come from the record's strings and its stored memos. A memo
  // that cannot be read keeps its words: removing the record goes first.
  std::vector<std::string> texts;
  std::vector<FieldText> fieldTexts;
  for (const FieldDescriptor* field : state.Indexes->TextFields()) {
    if (FieldIsNull(work, *field)) continue;
    if (field->EngineType == kTypeString) {
      texts.push_back(ReadString(work, *field));
    } else {
      TBlobBuffer blob(*field, ReadBlobReference(work, *field), recordNumber);
      try {
        if (table.BlobFile() == nullptr || table.BlobFile()->ReadBlobChain(blob, this)) continue;
      } catch (const EStrataEngineError&) {
        continue;
      }
      texts.emplace_back(TextOf(blob.Value));
    }
    fieldTexts.push_back({field->FieldNumber, {}});
  }
  for (std::size_t i = 0; i < texts.size(); ++i) fieldTexts[i].Text = texts[i];
  state.Indexes->DeleteRecordKeys(work, recordId, recordNumber, fieldTexts);

  for (const FieldDescriptor* field : state.BlobFields) {
    const std::int32_t first = FirstBlockOf(work, *field);
    if (first <= 0 || table.BlobFile() == nullptr) continue;
    try {
      table.BlobFile()->FreeBlobChain(first);
    } catch (const EStrataEngineError&) {
      // A broken chain stays where it is; verification finds it.
    }
    // A deleted slot names no blocks: they may belong to another record
    // once they are reused.
    WriteBlobReference(stored.Image(), *field, BlobReference{});
  }
  data.DeleteSlot(stored);
  data.DecrementRecordCount();
  if (currentRecord_ == recordNumber) currentRecord_ = 0;
  pin.Release();
  FinishWrite(locks.TableLocked());
}

// ---------------------------------------------------------------------------
// Index operations

std::span<const std::uint8_t> TDataCursor::BuildKey(std::span<const std::uint8_t> record) {
  if (currentIndex_ == TableIndexWriter::kNoIndex) throw std::logic_error("no current index");
  return Indexes().BuildKey(currentIndex_, record, RecordIdOf(record));
}

std::optional<std::int32_t> TDataCursor::FindKey(std::span<const std::uint8_t> key) {
  if (currentIndex_ == TableIndexWriter::kNoIndex) throw std::logic_error("no current index");
  return Indexes().FindKey(currentIndex_, key);
}

void TDataCursor::InsertKey(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  if (currentIndex_ == TableIndexWriter::kNoIndex) throw std::logic_error("no current index");
  Indexes().InsertKey(currentIndex_, key, recordNumber);
}

void TDataCursor::DeleteKey(std::span<const std::uint8_t> key) {
  if (currentIndex_ == TableIndexWriter::kNoIndex) throw std::logic_error("no current index");
  Indexes().DeleteKey(currentIndex_, key);
}

std::vector<FieldText> TDataCursor::RecordTexts(std::span<const std::uint8_t> record,
                                                std::int32_t recordNumber,
                                                std::vector<std::string>& storage) {
  TableIndexWriter& indexes = Indexes();
  storage.clear();
  std::vector<FieldText> fieldTexts;
  for (const FieldDescriptor* field : indexes.TextFields()) {
    if (FieldIsNull(record, *field)) continue;
    if (field->EngineType == kTypeString) {
      storage.push_back(ReadString(record, *field));
    } else {
      TBlobBuffer blob(*field, ReadBlobReference(record, *field), recordNumber);
      if (table_->BlobFile() == nullptr) continue;
      if (table_->BlobFile()->ReadBlobChain(blob, this)) Raise(STRATA_MEMOCORRUPT, field->Name);
      storage.emplace_back(TextOf(blob.Value));
    }
    fieldTexts.push_back({field->FieldNumber, {}});
  }
  for (std::size_t i = 0; i < storage.size(); ++i) fieldTexts[i].Text = storage[i];
  return fieldTexts;
}

void TDataCursor::AddRecordWords(std::span<const std::uint8_t> record, std::int32_t recordNumber) {
  std::vector<std::string> storage;
  const std::vector<FieldText> texts = RecordTexts(record, recordNumber, storage);
  Indexes().InsertWords(RecordIdOf(record), recordNumber, texts);
}

}  // namespace strata
