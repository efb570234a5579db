#include "update/progress_handler.h"

#include <optional>
#include <string>

#include "engine/values/convert_error.h"
#include "engine/values/number_text.h"
#include "platform/process.h"

namespace strata {

void TProgressHandler::AlterProgress(const void* /*sender*/, std::uint16_t percentDone) {
  if (bar_ == nullptr) return;
  const long double product =
      static_cast<long double>(bar_->Maximum()) * (percentDone / 100.0L);
  const std::string text =
      FloatToText(static_cast<double>(product), platform::DecimalSeparator());
  const std::optional<std::int32_t> position = ParseInt32(text);
  if (!position) throw EConvertError("'" + text + "' is not a valid integer value");
  bar_->SetPosition(*position);
}

}  // namespace strata
