#include "engine/core/restructure/field_value_carry.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "engine/values/field_conversion.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

// Bytes past the wider of the two values that are zeroed too.
constexpr std::size_t kCarrySlack = 16;

bool IsWide(const FieldDescriptor& field) { return IsWideString(field.EngineType, field.SubType); }

bool HoldsText(const FieldDescriptor& field) {
  return field.EngineType == kTypeString || IsMemo(field.EngineType, field.SubType);
}

// The bytes up to the first zero byte.
std::string TextUpToZero(std::span<const std::uint8_t> bytes) {
  return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0}));
}

// The text of a string or memo value in the code page; `lossless` tells
// whether every character of a wide string had a byte.
std::string TextOf(TDataCursor& source, std::span<std::uint8_t> record, std::uint16_t position,
                   const FieldDescriptor& field, std::span<const std::uint8_t> value,
                   bool& lossless) {
  lossless = true;
  if (field.EngineType == kTypeBlob) {
    source.OpenBlob(record, position);
    std::string text = TextUpToZero(source.BlobValue(record, position));
    source.CloseBlob(record, position);
    return text;
  }
  if (IsWide(field)) return Utf16ToWindows1252(WideUnitsOf(value), '?', &lossless);
  return TextUpToZero(value);
}

// Stores a text in a string (cut to its size) or memo field.
void StoreText(TDataCursor& target, std::span<std::uint8_t> record, const FieldDescriptor& field,
               std::string_view text) {
  if (field.EngineType == kTypeBlob) {
    target.SetBlobValue(record, field.FieldNumber,
                        {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return;
  }
  if (IsWide(field)) {
    target.SetField(record, field.FieldNumber, WideBytesOf(Windows1252ToUtf16(text)));
    return;
  }
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  target.SetField(record, field.FieldNumber, bytes);
}

}  // namespace

bool CarryFieldValue(TDataCursor& source, std::span<std::uint8_t> oldRecord,
                     std::uint16_t oldPosition, const FieldDescriptor& oldField,
                     std::span<const std::uint8_t> oldValue, TDataCursor& target,
                     std::span<std::uint8_t> newRecord, const FieldDescriptor& newField,
                     std::span<std::uint8_t> scratch) {
  const bool oldBlob = oldField.EngineType == kTypeBlob;
  const bool newBlob = newField.EngineType == kTypeBlob;
  if (oldBlob && newBlob) {
    source.OpenBlob(oldRecord, oldPosition);
    target.SetBlobValue(newRecord, newField.FieldNumber, source.BlobValue(oldRecord, oldPosition));
    source.CloseBlob(oldRecord, oldPosition);
    return true;
  }
  if (oldBlob || newBlob) {
    // A reference converted into or out of another type would be a
    // meaningless value; only text crosses between a memo and a string.
    if (!HoldsText(oldField) || !HoldsText(newField)) return false;
    bool lossless = true;
    StoreText(target, newRecord, newField,
              TextOf(source, oldRecord, oldPosition, oldField, oldValue, lossless));
    return lossless;
  }

  // A wide string converts as its text, and a wide field receives the text
  // of a string of its length in characters.
  const bool fromText = IsWide(oldField) && !IsWide(newField);
  const bool toText = IsWide(newField) && !IsWide(oldField);
  std::uint16_t oldSize = oldField.PhysicalSize;
  // Zero where either value may reach: a longer byte field is padded with
  // zero bytes, a text ends at its first zero.
  const std::size_t reach = std::max<std::size_t>(
      {std::size_t{oldField.PhysicalSize}, std::size_t{newField.PhysicalSize},
       std::size_t{newField.DeclaredLength}}) + kCarrySlack;
  std::fill_n(scratch.begin(), std::min(scratch.size(), reach), 0);
  bool lossless = true;
  if (fromText) {
    const std::string text = Utf16ToWindows1252(WideUnitsOf(oldValue), '?', &lossless);
    std::copy(text.begin(), text.end(), scratch.begin());
    oldSize = static_cast<std::uint16_t>(text.size() + 1);
  } else {
    std::copy(oldValue.begin(), oldValue.end(), scratch.begin());
  }
  const std::uint16_t newSize =
      toText ? static_cast<std::uint16_t>(newField.DeclaredLength + 1) : newField.PhysicalSize;
  if (!ConvertFieldValue(oldField.EngineType, oldSize, scratch, newField.PhysicalDecimals, newSize,
                         newField.EngineType)) {
    return false;
  }
  if (toText) {
    StoreText(target, newRecord, newField, TextUpToZero(scratch));
  } else {
    target.SetField(newRecord, newField.FieldNumber, std::span<const std::uint8_t>(scratch));
  }
  return lossless;
}

}  // namespace strata
