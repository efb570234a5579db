#include "engine/formats/stored_value_rules.h"

#include <algorithm>
#include <cmath>

#include "engine/common/byte_order.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/record_values.h"
#include "engine/values/bcd.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

// Day numbers of 0001-01-01 and 9999-12-31, and a day in milliseconds.
constexpr std::int64_t kFirstDay = 1;
constexpr std::int64_t kLastDay = 3652059;
constexpr std::int64_t kDayMilliseconds = 86400000;

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

std::optional<std::string> StringFault(std::span<const std::uint8_t> value, std::size_t unit) {
  // The first unit that is zero ends the text; the slot's last byte always
  // lies after the characters (a slot holds one byte more than they need).
  std::size_t end = 0;
  auto unitIsZero = [&](std::size_t at) { return AllZero(value.subspan(at, unit)); };
  while (end + unit <= value.size() && !unitIsZero(end)) end += unit;
  if (end == 0) return "an empty text";
  if (end >= value.size()) return "a text without its terminating zero";
  if (!AllZero(value.subspan(end))) return "bytes after the text's terminating zero";
  return std::nullopt;
}

// Where the padding starts: after the last field's value.
std::size_t FieldsEnd(std::span<const FieldDescriptor> fields) {
  if (fields.empty()) return kFirstFieldOffset;
  return fields.back().FieldOffset + record_layout::kNullFlagSize + fields.back().PhysicalSize;
}

}  // namespace

std::optional<std::string> StoredValueFault(std::span<const std::uint8_t> record,
                                            const FieldDescriptor& field) {
  const std::size_t at = field.FieldOffset;
  const std::size_t valueAt = at + record_layout::kNullFlagSize;
  if (valueAt + field.PhysicalSize > record.size()) return "a value beyond the record";
  const std::uint8_t flag = record[at];
  const std::span<const std::uint8_t> value = record.subspan(valueAt, field.PhysicalSize);
  if (flag > 1) return "a NullFlag of " + std::to_string(flag);
  // Every load below stays inside the slot.
  if (value.size() < FixedValueSize(field.EngineType)) return "a value slot too small for its type";
  if (field.EngineType == kTypeBlob) {
    const std::int32_t first = LoadI32(value.data() + record_layout::kBlobFirstBlock);
    if (flag == 1 && first == 0) return "a BLOB value without a first block";
    // An emptied value keeps the revision it was written under.
    if (flag == 0 && first != 0) return "a NULL BLOB value with a reference";
    return std::nullopt;
  }
  if (flag == 0) {
    if (!AllZero(value)) return "non-zero bytes in a NULL value";
    return std::nullopt;
  }
  switch (field.EngineType) {
    case kTypeString:
      return StringFault(value, IsWideString(field.EngineType, field.SubType) ? 2 : 1);
    case kTypeDate: {
      const std::int32_t day = LoadI32(value.data());
      if (day < kFirstDay || day > kLastDay) return "day " + std::to_string(day);
      return std::nullopt;
    }
    case kTypeBoolean: {
      const std::uint16_t boolean = LoadU16(value.data());
      if (boolean > 1) return "a boolean of " + std::to_string(boolean);
      return std::nullopt;
    }
    case kTypeTime: {
      const std::int32_t milliseconds = LoadI32(value.data());
      if (milliseconds < 0 || milliseconds >= kDayMilliseconds) {
        return "a time of " + std::to_string(milliseconds) + " ms";
      }
      return std::nullopt;
    }
    case kTypeTimestamp: {
      const double milliseconds = LoadF64(value.data());
      if (!std::isfinite(milliseconds) ||
          milliseconds < static_cast<double>(kFirstDay * kDayMilliseconds) ||
          milliseconds >= static_cast<double>((kLastDay + 1) * kDayMilliseconds)) {
        return "a timestamp outside the calendar";
      }
      return std::nullopt;
    }
    case kTypeBcd:
      if (!ReadBcd(record, field)) return "an unreadable BCD value";
      return std::nullopt;
    default: return std::nullopt;
  }
}

bool RecordPaddingIsZero(std::span<const std::uint8_t> record,
                         std::span<const FieldDescriptor> fields) {
  const std::size_t end = FieldsEnd(fields);
  return end >= record.size() || AllZero(record.subspan(end));
}

void ZeroRecordPadding(std::span<std::uint8_t> record, std::span<const FieldDescriptor> fields) {
  const std::size_t end = FieldsEnd(fields);
  if (end < record.size()) {
    std::fill(record.begin() + static_cast<std::ptrdiff_t>(end), record.end(), 0);
  }
}

}  // namespace strata
