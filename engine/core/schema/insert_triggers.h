// The engine-wide hooks an insert calls: the before- and after-insert
// triggers and the insert-error handler. Each may be empty. Cursors in
// no-triggers mode (the restructure's) call none of them.
//
// The handler is asked when an insert fails with an exception and answers
// with an action: fail raises the exception again, abort ends the insert
// without an error, retry runs the insert again from the before-insert
// trigger.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <span>

namespace strata {

class TDataCursor;
class TDataDirectory;
class TDataSession;

enum class TInsertErrorAction : std::uint8_t { Fail = 0, Abort = 1, Retry = 2 };

using InsertTrigger = std::function<void(TDataSession& session, std::span<std::uint8_t> record,
                                         TDataCursor& cursor, TDataDirectory& database)>;
using InsertErrorHandler =
    std::function<TInsertErrorAction(TDataCursor& cursor, const std::exception& error)>;

struct InsertTriggers {
  InsertTrigger BeforeInsertTrigger;
  InsertTrigger AfterInsertTrigger;
  InsertErrorHandler OnInsertError;
};

}  // namespace strata
