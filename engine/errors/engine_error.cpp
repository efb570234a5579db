#include "engine/errors/engine_error.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "engine/errors/error_table.h"
#include "platform/os_error.h"

namespace strata {

namespace {

constexpr std::size_t kMaxContextText = 255;
constexpr std::size_t kMaxErrorText = 254;
constexpr const char* kUnknownErrorText = "An unknown error occurred";

// The engine-wide context, written only under its lock.
std::mutex g_context_lock;
EngineErrorContext g_context;

// The most recent low-level failures of this thread, consumed by the next
// raise on the same thread. Kept per thread so that a raise never reports an
// OS error that another thread's file operation recorded.
thread_local std::int32_t t_recorded_os_error = 0;
thread_local std::int32_t t_recorded_socket_error = 0;
// The words for a recorded OS error that the engine code alone does not
// tell (a full disk maps to STRATA_OSUNKNOWN); empty for the others.
thread_local const char* t_recorded_os_detail = "";

std::string Cut(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, limit));
}

std::string_view ArgText(ErrorArg arg, const EngineErrorContext& c) {
  switch (arg) {
    case ErrorArg::kServer: return c.ServerAddress;
    case ErrorArg::kUser: return c.UserName;
    case ErrorArg::kDatabase: return c.DatabaseName;
    case ErrorArg::kTable: return c.TableName;
    case ErrorArg::kField: return c.FieldName;
    case ErrorArg::kIndex: return c.IndexName;
    case ErrorArg::kDetail: return c.Detail;
    case ErrorArg::kProcedure: return c.ProcedureName;
    case ErrorArg::kEvent: return c.EventName;
    default: return {};
  }
}

std::uint32_t ArgNumber(ErrorArg arg, const EngineErrorContext& c) {
  switch (arg) {
    case ErrorArg::kLine: return static_cast<std::uint32_t>(c.Line);
    case ErrorArg::kColumn: return static_cast<std::uint32_t>(c.Column);
    case ErrorArg::kOsError: return static_cast<std::uint32_t>(c.OsErrorCode);
    default: return 0;
  }
}

// Replaces each "%s" and "%u" of the template with the next listed value;
// "%%" is a literal percent sign.
std::string FormatTemplate(const ErrorTableEntry& entry, const EngineErrorContext& c) {
  std::string out;
  std::size_t next = 0;
  for (const char* p = entry.message; *p != '\0'; ++p) {
    if (*p != '%' || (p[1] != 's' && p[1] != 'u' && p[1] != '%')) {
      out += *p;
      continue;
    }
    ++p;
    if (*p == '%') {
      out += '%';
      continue;
    }
    if (next >= entry.arg_count) continue;
    const ErrorArg arg = entry.args[next++];
    if (*p == 's') {
      out += ArgText(arg, c);
    } else {
      out += std::to_string(ArgNumber(arg, c));
    }
  }
  return out;
}

}  // namespace

EStrataEngineError::EStrataEngineError(const EngineErrorContext& context)
    : EDatabaseError(""), EngineErrorContext(context) {
  SetMessage("Strata Engine Error # " + std::to_string(Code) + " " +
             EngineErrorText(Code, context));
}

std::string EngineErrorText(ErrorCode code, const EngineErrorContext& context) {
  const ErrorTableEntry* entry = FindErrorTableEntry(code);
  if (entry == nullptr || entry->message == nullptr) return kUnknownErrorText;
  std::string text = FormatTemplate(*entry, context);
  text.resize(std::min(text.size(), kMaxContextText));
  text.resize(std::min(text.size(), kMaxErrorText));
  return text;
}

std::string EngineErrorText(ErrorCode code) {
  std::lock_guard guard(g_context_lock);
  return EngineErrorText(code, g_context);
}

std::string EngineErrorName(ErrorCode code) {
  const ErrorTableEntry* entry = FindErrorTableEntry(code);
  return entry == nullptr ? std::string() : std::string(entry->name);
}

void RaiseEngineError(ErrorCode code, std::string_view serverAddress, std::string_view userName,
                      std::string_view databaseName, std::string_view tableName,
                      std::string_view fieldName, std::string_view indexName,
                      std::string_view detail, std::string_view procedureName,
                      std::string_view eventName, std::int32_t line, std::int32_t column) {
  // The lock is held until the exception is built; the throw leaves the scope.
  std::lock_guard guard(g_context_lock);
  g_context = EngineErrorContext{};
  g_context.Code = code;
  g_context.OsErrorCode = t_recorded_os_error;
  g_context.SocketErrorCode = t_recorded_socket_error;
  g_context.ServerAddress = Cut(serverAddress, kMaxContextText);
  g_context.UserName = Cut(userName, kMaxContextText);
  g_context.DatabaseName = Cut(databaseName, kMaxContextText);
  g_context.TableName = Cut(tableName, kMaxContextText);
  g_context.FieldName = Cut(fieldName, kMaxContextText);
  g_context.IndexName = Cut(indexName, kMaxContextText);
  g_context.Detail = Cut(detail.empty() ? std::string_view(t_recorded_os_detail) : detail,
                         kMaxContextText);
  g_context.ProcedureName = Cut(procedureName, kMaxContextText);
  g_context.EventName = Cut(eventName, kMaxContextText);
  g_context.Line = line;
  g_context.Column = column;
  t_recorded_os_error = 0;
  t_recorded_socket_error = 0;
  t_recorded_os_detail = "";
  throw EStrataEngineError(g_context);
}

void RaiseTableError(ErrorCode code, std::string_view tableName, std::string_view databaseName) {
  RaiseEngineError(code, {}, {}, databaseName, tableName);
}

ErrorCode RecordOsError() {
  ErrorCode code;
  switch (platform::LastErrorNumber()) {
    case ENOENT:
    case ENOTDIR:
      code = STRATA_OSENOENT;
      break;
    case EMFILE:
    case ENFILE:
      code = STRATA_OSEMFILE;
      break;
    case EACCES:
    case EPERM:
    case EAGAIN:
    case EEXIST:
    case EROFS:
    case ETXTBSY:
      code = STRATA_OSEACCES;
      break;
    case EBADF:
      code = STRATA_OSEBADF;
      break;
    case ENOMEM:
      code = STRATA_OSENOMEM;
      break;
    case ENODEV:
    case ENXIO:
      code = STRATA_OSENODEV;
      break;
    case EXDEV:
      code = STRATA_OSENOTSAM;
      break;
    default:
      code = STRATA_OSUNKNOWN;
      break;
  }
  t_recorded_os_error = code;
  const int number = platform::LastErrorNumber();
  t_recorded_os_detail = number == ENOSPC || number == EDQUOT ? kNoSpaceDetail : "";
  return code;
}

void RecordSocketError(std::int32_t socketError) { t_recorded_socket_error = socketError; }

ErrorCode ErrorCodeOf(const std::exception& error) {
  if (const auto* engine_error = dynamic_cast<const EStrataEngineError*>(&error)) {
    return engine_error->Code;
  }
  return STRATA_OSUNKNOWN;
}

EngineErrorContext LastEngineErrorContext() {
  std::lock_guard guard(g_context_lock);
  return g_context;
}

}  // namespace strata
