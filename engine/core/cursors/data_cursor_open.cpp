// TDataCursor: opening a cursor on its table. A table whose index file was
// recreated on opening gets its primary index back from the records here,
// through the write path, which is why opening sits above writing.
#include <exception>

#include "engine/core/cursors/cursor_write_state.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/cursors/write_locks.h"
#include "engine/core/indexing/table_index_writer.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/data_file.h"
#include "engine/formats/index_file.h"

namespace strata {

void TDataCursor::Open(bool verifyHeaders) { OpenTable(verifyHeaders, false); }

void TDataCursor::OpenTable(bool verifyHeaders, bool rebuildLostIndex) {
  if (table_ != nullptr) return;
  TableOpenRequest request;
  request.VerifyHeaders = verifyHeaders;
  request.RebuildLostIndex = rebuildLostIndex;
  request.Temporary = modes_.Temporary;
  request.Exclusive = modes_.Exclusive;
  table_ = &directory_.OpenTable(tableName_, displayName_, request);
  if (!table_->IndexRecreated()) return;
  try {
    RecoverIndexes();
  } catch (...) {
    SetAsideError("cleanup after a failure; the first error wins", [&] { Close(); });
    throw;
  }
}

void TDataCursor::RecoverIndexes() {
  TDataTable& table = *table_;
  if (table.ReadOnly()) return;
  TDataFile& data = *table.DataFile();
  TIndexFile& index = *table.IndexFile();
  WriteLocks locks(table);
  if (!modes_.Exclusive) locks.LockTable();
  write_.reset();
  std::exception_ptr failure;
  try {
    index.DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), data.Fields());
    index.SetTextIndex(TIndexFile::EmptyTextDescriptor(), data.Fields());
    TableIndexWriter& indexes = Indexes();
    data.SetRecordCount(0);
    std::int32_t count = 0;
    for (std::int32_t number = 1; number <= data.UnitCount(); ++number) {
      BufferPin pin;
      if (!data.GetBuffer(this, TBufferedFile::kForward, true, number, pin)) {
        throw ERestartRequired();
      }
      const TRecord& record = TDataFile::RecordOf(pin);
      if (record.Deleted()) continue;
      ++count;
      indexes.InsertKey(0, indexes.BuildKey(0, record.Image(), record.RecordID()), number);
    }
    data.SetRecordCount(count);
    index.TouchHeader();
  } catch (...) {
    failure = std::current_exception();
  }
  write_.reset();
  // Written at once, whatever the cursor's mode.
  KeepFirstError(failure, [&] { table.Flush(false, FlushHeaders{true, true, false}); });
  if (failure) std::rethrow_exception(failure);
  table.IndexRecovered();
}

}  // namespace strata
