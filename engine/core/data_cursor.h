// TDataCursor: one user's view of a table for the length of an operation.
// It names a table in a directory, opens it through the directory (shared or
// exclusive, possibly read-only) and closes it again; it reads records by
// physical number, and gets and sets field values in record buffers of the
// table's record size. It carries the hooks its operations report through:
// progress in whole percent, data losses with the in-and-out StopAsking and
// Continue flags, and log lines.
//
// Reading follows the change-detection protocol: with strict change
// detection an operation starts under the table read lock; otherwise the
// read lock is taken on the first cache miss, and a change found then makes
// the read start again. The read lock is released when the operation ends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/field_descriptor.h"

namespace strata {

class TDataDirectory;
class TDataSession;
class TDataTable;

enum TDataLossCause : std::uint8_t {
  dlUnknown = 0,
  dlKeyViolation = 1,
  dlValidityCheckFail = 2,
  dlFieldDeletion = 3,
  dlFieldConversion = 4,
};

struct CursorModes {
  // No table or record locks; header writes wait for the flush or close.
  bool Exclusive = false;
  bool ReadOnly = false;
  bool Temporary = false;
  // Inserts keep the RecordID the buffer carries.
  bool KeepRecordIDs = false;
  // Insert triggers and the insert-error handler are not called.
  bool NoTriggers = false;
  // Field numbers name the descriptors' stored numbers, not positions.
  bool FieldsByNumber = false;
};

using ProgressHook = std::function<void(std::uint16_t percent, std::string_view text)>;
using DataLossHook = std::function<void(TDataLossCause cause, std::string_view context,
                                        bool& stopAsking, bool& continueOperation)>;
using LogHook = std::function<void(std::string_view line)>;

class TDataCursor {
 public:
  TDataCursor(TDataDirectory& directory, std::string_view tableName, CursorModes modes = {});
  // Closes the table, dropping any failure.
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // Opens the table through the directory (11013 on an exclusive conflict).
  // A table whose index file had to be recreated reports IndexRecreated.
  void Open(bool verifyHeaders = false);
  void Close();
  bool IsOpen() const { return table_ != nullptr; }

  TDataDirectory& Directory() const { return directory_; }
  TDataSession& Session() const;
  const std::string& TableName() const { return tableName_; }
  CursorModes& Modes() { return modes_; }
  const CursorModes& Modes() const { return modes_; }
  // The open table; nullptr while closed.
  TDataTable* Table() const { return table_; }
  // Read-only by request or because the table opened read-only.
  bool ReadOnly() const;

  // The table's fields and record size (the cursor must be open).
  std::span<const FieldDescriptor> Fields() const;
  std::int32_t RecordSize() const;
  std::vector<std::uint8_t> NewRecordBuffer() const;
  // Physical records 1 to the record count; 8710 for any other number.
  std::int32_t PhysicalRecordCount() const;

  // Copies slot `record` into buffer (at least RecordSize bytes); true when
  // the slot holds a record, false for a deleted one.
  bool ReadRecord(std::int32_t record, std::span<std::uint8_t> buffer);

  // The field of a number (position from 1, or stored number in
  // FieldsByNumber mode; 65535 RecordID and 65534 RecordHash); nullptr when
  // there is none.
  const FieldDescriptor* FieldByNumber(std::uint16_t number) const;
  // The value bytes of a field, nullopt for NULL. A BLOB field gives the
  // first 4 bytes of its reference. std::out_of_range for an unknown field.
  std::optional<std::vector<std::uint8_t>> GetField(std::span<const std::uint8_t> buffer,
                                                    std::uint16_t number) const;
  // Sets a field (nullopt: NULL). Strings take the text up to a zero byte,
  // lose trailing blanks (except fixed-length strings), follow the field's
  // character case and store an empty text as NULL; booleans store 0 or 1;
  // other types copy the field's size. RecordID, RecordHash and computed
  // fields are left alone.
  void SetField(std::span<std::uint8_t> buffer, std::uint16_t number,
                std::optional<std::span<const std::uint8_t>> value) const;
  // A BLOB field's reference (its first 4 bytes). The NullFlag follows the
  // reference (set exactly when not 0), or, for the negative handle of an
  // open BLOB, the caller's flag.
  void SetBlobField(std::span<std::uint8_t> buffer, std::uint16_t number, std::int32_t reference,
                    bool hasValue) const;

  // Hooks, set by the creator of the cursor; each may be empty.
  ProgressHook OnProgress;
  DataLossHook OnDataLost;
  LogHook OnLog;

  // Progress of one operation over `total` units: a report whenever the
  // percentage has grown by the session's ProgressStep, and a final 100
  // unless that was reported already.
  void BeginProgress(std::string_view text = {});
  void StepProgress(std::int64_t done, std::int64_t total);
  void EndProgress();

  // Data-loss reports of one operation: StopAsking starts false and Continue
  // true; the hook is asked only while StopAsking is false (or when forced).
  // Returns Continue.
  void ResetDataLoss();
  bool ReportDataLoss(TDataLossCause cause, std::string_view context, bool evenWhenStopAsking = false);
  bool StopAsking() const { return stopAsking_; }
  bool ContinueOperation() const { return continue_; }

  // A log line, cut to 255 characters.
  void Log(std::string_view line) const;

 private:
  void RequireOpen() const;

  TDataDirectory& directory_;
  std::string tableName_;
  std::string displayName_;
  CursorModes modes_;
  TDataTable* table_ = nullptr;
  std::string progressText_;
  std::int32_t lastProgress_ = 0;
  bool progressEnded_ = false;
  bool stopAsking_ = false;
  bool continue_ = true;
};

}  // namespace strata
