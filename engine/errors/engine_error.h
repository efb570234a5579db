// Engine errors: every failure inside the storage engine is raised as an
// EStrataEngineError carrying a 16-bit code, a copy of the engine-wide error
// context (the names of what failed) and the message
// "Strata Engine Error # <code> <text>".
//
// Low-level file operations do not raise: they return the negated code that
// RecordOsError gives, and the layer above raises with the file's path.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "engine/errors/error_codes.h"

namespace strata {

// The framework's database error: the least base exception with a message.
class EDatabaseError : public std::exception {
 public:
  explicit EDatabaseError(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// The names and numbers that describe one failure. Texts are at most 255
// bytes (Windows-1252 text, cut by bytes); absent names are empty.
struct EngineErrorContext {
  ErrorCode Code = 0;
  std::int32_t OsErrorCode = 0;
  std::int32_t SocketErrorCode = 0;
  std::string ServerAddress;
  std::string UserName;
  std::string DatabaseName;
  std::string TableName;
  std::string FieldName;
  std::string IndexName;
  std::string Detail;
  std::string ProcedureName;
  std::string EventName;
  std::int32_t Line = 0;
  std::int32_t Column = 0;
};

// The engine's exception: the context of the failure (Code, TableName, ...
// as public members) and its message, built once from that context.
class EStrataEngineError : public EDatabaseError, public EngineErrorContext {
 public:
  explicit EStrataEngineError(const EngineErrorContext& context);
};

// Fills the engine-wide context under its lock, consumes the recorded OS and
// socket errors, and throws EStrataEngineError. Never returns.
[[noreturn]] void RaiseEngineError(ErrorCode code, std::string_view serverAddress = {},
                                   std::string_view userName = {},
                                   std::string_view databaseName = {},
                                   std::string_view tableName = {},
                                   std::string_view fieldName = {},
                                   std::string_view indexName = {},
                                   std::string_view detail = {},
                                   std::string_view procedureName = {},
                                   std::string_view eventName = {}, std::int32_t line = 0,
                                   std::int32_t column = 0);

// Shorthand for the common case: a failure naming a table (or a file's full
// path) and its database.
[[noreturn]] void RaiseTableError(ErrorCode code, std::string_view tableName,
                                  std::string_view databaseName = {});

// Maps the calling thread's last operating-system error to an engine code
// (STRATA_OSENOENT ... STRATA_OSUNKNOWN), records it for the next raise and returns it.
// A full disk (ENOSPC, EDQUOT) also gives the next raise that names no detail of
// its own the Detail kNoSpaceDetail.
ErrorCode RecordOsError();

// The Detail of an error raised because the disk was full.
inline constexpr char kNoSpaceDetail[] = "no space left on the device";

// Records a socket error number for the next raise (remote transport).
void RecordSocketError(std::int32_t socketError);

// The message text of a code, filled from the current context (at most 254
// characters); "An unknown error occurred" for a code without a template.
std::string EngineErrorText(ErrorCode code);

// The same text filled from the given context.
std::string EngineErrorText(ErrorCode code, const EngineErrorContext& context);

// The constant name of a code ("STRATA_KEYVIOL"), empty for codes without one.
std::string EngineErrorName(ErrorCode code);

// The Code of an EStrataEngineError; STRATA_OSUNKNOWN for any other exception.
ErrorCode ErrorCodeOf(const std::exception& error);

// A copy of the engine-wide context as the last raise left it.
EngineErrorContext LastEngineErrorContext();

}  // namespace strata
