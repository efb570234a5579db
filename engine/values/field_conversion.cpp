#include "engine/values/field_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "engine/common/byte_order.h"
#include "engine/values/bcd.h"
#include "engine/values/convert_error.h"
#include "engine/values/currency.h"
#include "engine/values/date_time.h"
#include "engine/values/decimal_separator.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"
#include "engine/values/number_text.h"

namespace strata {
namespace {

bool IsIntegerType(std::uint8_t type) {
  return type == kTypeSmallint || type == kTypeInteger || type == kTypeWord ||
         type == kTypeLargeint;
}

bool IsByteType(std::uint8_t type) { return type == kTypeBytes || type == kTypeVarBytes; }

// Source types with conversion rules; any other source is left as it is.
bool HasConversionRules(std::uint8_t type) {
  return type == kTypeString || type == kTypeDate || type == kTypeTime || type == kTypeTimestamp ||
         type == kTypeBoolean || IsIntegerType(type) || type == kTypeFloat || type == kTypeBcd ||
         IsByteType(type);
}

// A stored integer of any integer type, sign- or zero-extended.
std::int64_t LoadInteger(std::uint8_t type, const std::uint8_t* p) {
  switch (type) {
    case kTypeSmallint: return LoadI16(p);
    case kTypeWord: return LoadU16(p);
    case kTypeInteger: return LoadI32(p);
    default: return LoadI64(p);
  }
}

// Keeps the low bits that fit the integer type.
void StoreInteger(std::uint8_t type, std::uint8_t* p, std::int64_t value) {
  switch (type) {
    case kTypeSmallint:
    case kTypeWord: StoreU16(p, static_cast<std::uint16_t>(value)); break;
    case kTypeInteger: StoreU32(p, static_cast<std::uint32_t>(value)); break;
    default: StoreI64(p, value); break;
  }
}

// Truncation toward zero; nullopt outside the 64-bit range.
std::optional<std::int64_t> TruncateToInt64(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double whole = std::trunc(value);
  if (whole < -9223372036854775808.0 || whole >= 9223372036854775808.0) return std::nullopt;
  return static_cast<std::int64_t>(whole);
}

class Conversion {
 public:
  Conversion(std::uint8_t oldType, std::uint16_t oldSize, std::span<std::uint8_t> buffer,
             std::uint8_t newDecimals, std::uint16_t newSize, std::uint8_t newType)
      : oldType_(oldType),
        oldSize_(oldSize),
        buffer_(buffer),
        newDecimals_(newDecimals),
        newSize_(newSize),
        newType_(newType) {}

  bool Run() {
    if (oldType_ == newType_) return SameType();
    if (!HasConversionRules(oldType_)) return true;
    if (IsByteType(oldType_)) return FromBytes();
    if (IsByteType(newType_)) return ToBytes();
    std::optional<bool> result;
    switch (oldType_) {
      case kTypeString: result = FromString(); break;
      case kTypeDate: result = FromDate(); break;
      case kTypeTime: result = FromTime(); break;
      case kTypeTimestamp: result = FromTimestamp(); break;
      case kTypeBoolean: result = FromBoolean(); break;
      case kTypeFloat: result = FromFloat(); break;
      case kTypeBcd: result = FromBcd(); break;
      default: result = FromInteger(); break;
    }
    if (!result) return Unsupported();
    return *result;
  }

 private:
  std::uint8_t* Data() { return buffer_.data(); }

  bool SameType() {
    if (oldType_ == kTypeString && newSize_ < oldSize_ && newSize_ > 0) Data()[newSize_ - 1] = 0;
    return true;
  }

  // Bytes become the new type's bytes; a smaller field ends in a zero byte.
  bool FromBytes() {
    if (newType_ == kTypeBlob) return Unsupported();
    if (newSize_ < oldSize_ && newSize_ > 0) Data()[newSize_ - 1] = 0;
    return true;
  }

  // The raw bytes stay; a string's bytes after its terminating zero become
  // zeros up to the smaller length.
  bool ToBytes() {
    if (oldType_ == kTypeString) {
      const std::size_t end = std::min<std::size_t>(oldSize_, newSize_);
      const std::size_t length = std::min(OldText().size(), end);
      std::fill(Data() + length, Data() + end, std::uint8_t{0});
    }
    return true;
  }

  // A pair without a conversion rule: the new value's bytes are zeros.
  bool Unsupported() {
    std::fill_n(Data(), newSize_, std::uint8_t{0});
    return false;
  }

  std::string OldText() const {
    const std::size_t limit = std::min<std::size_t>(oldSize_, buffer_.size());
    const auto* begin = buffer_.data();
    const auto* end = std::find(begin, begin + limit, std::uint8_t{0});
    return std::string(begin, end);
  }

  bool WriteText(const std::string& text) {
    const std::size_t length = std::min(text.size(), buffer_.size() - 1);
    std::memcpy(Data(), text.data(), length);
    Data()[length] = 0;
    return true;
  }

  bool StoreBcd(Currency value) {
    return CurrencyToBcd(value, newDecimals_, buffer_.first<kBcdSize>());
  }

  // Writes the zero value of the new type and reports failure.
  bool Fail() {
    std::uint8_t* p = Data();
    switch (newType_) {
      case kTypeString: std::fill_n(p, std::max<std::size_t>(newSize_, 1), std::uint8_t{0}); break;
      case kTypeDate: StoreI32(p, kDayNumberOf18991230); break;
      case kTypeTime: StoreI32(p, 0); break;
      case kTypeTimestamp:
        StoreF64(p, static_cast<double>(kDayNumberOf18991230) * kMillisecondsPerDay);
        break;
      case kTypeBoolean: StoreU16(p, 0); break;
      case kTypeFloat: StoreF64(p, 0.0); break;
      case kTypeBcd:
        if (!StoreBcd(0)) std::fill_n(p, kBcdSize, std::uint8_t{0});
        break;
      default:
        if (IsIntegerType(newType_)) StoreInteger(newType_, p, 0);
        break;
    }
    return false;
  }

  // Runs a reader that may raise a conversion error; a raise becomes
  // failure with the zero value.
  template <typename Store>
  bool Guarded(Store store) {
    try {
      return store() || Fail();
    } catch (const EConvertError&) {
      return Fail();
    }
  }

  std::optional<bool> FromString() {
    const std::string text = OldText();
    std::uint8_t* p = Data();
    switch (newType_) {
      case kTypeDate:
        return Guarded([&] {
          StoreI32(p, DateTimeToDayNumber(EngineTextToDate(text)));
          return true;
        });
      case kTypeTime:
        return Guarded([&] {
          StoreI32(p, DateTimeToTimeMilliseconds(EngineTextToTime(text)));
          return true;
        });
      case kTypeTimestamp:
        return Guarded([&] {
          StoreF64(p, DateTimeToTimestampMilliseconds(EngineTextToTimestamp(text)));
          return true;
        });
      case kTypeBoolean:
        return Guarded([&] {
          StoreU16(p, EngineTextToBoolean(text) ? 1 : 0);
          return true;
        });
      case kTypeSmallint:
      case kTypeWord:
      case kTypeInteger:
        return Guarded([&] {
          const auto value = ParseInt32(text);
          if (value) StoreInteger(newType_, p, *value);
          return value.has_value();
        });
      case kTypeLargeint:
        return Guarded([&] {
          const auto value = ParseInt64(text);
          if (value) StoreI64(p, *value);
          return value.has_value();
        });
      case kTypeFloat:
        return Guarded([&] {
          StoreF64(p, EngineTextToFloat(text));
          return true;
        });
      case kTypeBcd:
        return Guarded([&] {
          // Read with the system's separator, not ".": a text typed by a user.
          const auto value = ParseCurrency(text, SystemDecimalSeparator());
          return value && StoreBcd(*value);
        });
      default: return std::nullopt;
    }
  }

  std::optional<bool> FromDate() {
    const std::int32_t day = LoadI32(Data());
    switch (newType_) {
      case kTypeString:
        return Guarded([&] { return WriteText(DateToEngineText(DayNumberToDateTime(day))); });
      case kTypeTimestamp:
        StoreF64(Data(), static_cast<double>(day) * kMillisecondsPerDay);
        return true;
      default: return std::nullopt;
    }
  }

  std::optional<bool> FromTime() {
    const std::int32_t ms = LoadI32(Data());
    switch (newType_) {
      case kTypeString:
        return Guarded([&] {
          return DecodeMilliseconds(ms) &&
                 WriteText(TimeToEngineText(TimeMillisecondsToDateTime(ms)));
        });
      case kTypeTimestamp: {
        const std::int32_t today = DateTimeToDayNumber(CurrentDateTime());
        StoreF64(Data(), static_cast<double>(today) * kMillisecondsPerDay + ms);
        return true;
      }
      default: return std::nullopt;
    }
  }

  std::optional<bool> FromTimestamp() {
    const double stored = LoadF64(Data());
    switch (newType_) {
      case kTypeString:
        return Guarded([&] {
          const auto value = TimestampMillisecondsToDateTime(stored);
          return value && stored >= 0 && WriteText(TimestampToEngineText(*value));
        });
      case kTypeDate:
      case kTypeTime:
        return Guarded([&] {
          if (!std::isfinite(stored) || std::fabs(stored) >= 9.2e18) return false;
          const std::int64_t t = std::llround(stored);
          const std::int64_t day = t / kMillisecondsPerDay;
          if (newType_ == kTypeTime) {
            StoreI32(Data(), static_cast<std::int32_t>(t % kMillisecondsPerDay));
            return true;
          }
          if (day < INT32_MIN || day > INT32_MAX) return false;
          StoreI32(Data(), static_cast<std::int32_t>(day));
          return true;
        });
      default: return std::nullopt;
    }
  }

  std::optional<bool> FromBoolean() {
    const bool value = LoadU16(Data()) != 0;
    switch (newType_) {
      case kTypeString: return WriteText(BooleanToEngineText(value));
      case kTypeFloat: StoreF64(Data(), value ? 1.0 : 0.0); return true;
      case kTypeBcd: return Guarded([&] { return StoreBcd(value ? kCurrencyScale : 0); });
      default:
        if (!IsIntegerType(newType_)) return std::nullopt;
        StoreInteger(newType_, Data(), value ? 1 : 0);
        return true;
    }
  }

  std::optional<bool> FromInteger() {
    const std::int64_t value = LoadInteger(oldType_, Data());
    switch (newType_) {
      case kTypeString: return WriteText(IntegerToEngineText(value));
      case kTypeBoolean: StoreU16(Data(), value != 0 ? 1 : 0); return true;
      case kTypeFloat: StoreF64(Data(), static_cast<double>(value)); return true;
      case kTypeBcd:
        return Guarded([&] {
          const auto currency = IntegerToCurrency(value);
          return currency && StoreBcd(*currency);
        });
      default:
        if (!IsIntegerType(newType_)) return std::nullopt;
        StoreInteger(newType_, Data(), value);
        return true;
    }
  }

  std::optional<bool> FromFloat() {
    const double value = LoadF64(Data());
    switch (newType_) {
      case kTypeString: return Guarded([&] { return WriteText(FloatToEngineText(value)); });
      case kTypeBoolean: StoreU16(Data(), value != 0 ? 1 : 0); return true;
      case kTypeBcd:
        return Guarded([&] {
          const auto currency = FloatToCurrency(value);
          return currency && StoreBcd(*currency);
        });
      default:
        if (!IsIntegerType(newType_)) return std::nullopt;
        return Guarded([&] {
          const auto whole = TruncateToInt64(value);
          if (whole) StoreInteger(newType_, Data(), *whole);
          return whole.has_value();
        });
    }
  }

  std::optional<bool> FromBcd() {
    if (newType_ != kTypeString && newType_ != kTypeBoolean && newType_ != kTypeFloat &&
        !IsIntegerType(newType_)) {
      return std::nullopt;
    }
    const auto value = BcdToCurrency(std::span<const std::uint8_t>(buffer_).first<kBcdSize>());
    if (!value) return Fail();
    switch (newType_) {
      case kTypeString: return WriteText(CurrencyToText(*value, SystemDecimalSeparator()));
      case kTypeBoolean: StoreU16(Data(), *value != 0 ? 1 : 0); return true;
      case kTypeFloat: StoreF64(Data(), static_cast<double>(*value) / kCurrencyScale); return true;
      default: StoreInteger(newType_, Data(), *value / kCurrencyScale); return true;
    }
  }

  std::uint8_t oldType_;
  std::uint16_t oldSize_;
  std::span<std::uint8_t> buffer_;
  std::uint8_t newDecimals_;
  std::uint16_t newSize_;
  std::uint8_t newType_;
};

}  // namespace

bool ConvertFieldValue(std::uint8_t oldType, std::uint16_t oldSize, std::span<std::uint8_t> buffer,
                       std::uint8_t newDecimals, std::uint16_t newSize, std::uint8_t newType) {
  const std::size_t required = std::max({std::size_t{1}, std::size_t{oldSize}, std::size_t{newSize},
                                         std::size_t{PhysicalSizeOf(oldType, 0, 0)},
                                         std::size_t{PhysicalSizeOf(newType, 0, 0)}});
  if (buffer.size() < required) return false;
  return Conversion(oldType, oldSize, buffer, newDecimals, newSize, newType).Run();
}

}  // namespace strata
