#include "engine/formats/field_descriptor.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

constexpr std::size_t kFieldNumber = 0;
constexpr std::size_t kName = 2;
constexpr std::size_t kDescription = 63;
constexpr std::size_t kEngineType = 164;
constexpr std::size_t kSubType = 165;
constexpr std::size_t kDeclaredLength = 166;
constexpr std::size_t kDeclaredDecimals = 168;
constexpr std::size_t kPhysicalSize = 169;
constexpr std::size_t kPhysicalDecimals = 171;
constexpr std::size_t kFieldOffset = 172;
constexpr std::size_t kRequired = 174;
constexpr std::size_t kCharCase = 175;
constexpr std::size_t kMinValue = 176;
constexpr std::size_t kMaxValue = 277;
constexpr std::size_t kDefaultValue = 378;
constexpr std::size_t kCompression = 479;
constexpr std::size_t kComputed = 480;

constexpr std::size_t kNameLength = 60;
constexpr std::size_t kTextLength = 100;

}  // namespace

void FieldDescriptor::Encode(std::span<std::uint8_t, kFieldDescriptorSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  StoreU16(p + kFieldNumber, FieldNumber);
  WriteShortText(image.subspan(kName), kNameLength, Name);
  WriteShortText(image.subspan(kDescription), kTextLength, Description);
  p[kEngineType] = EngineType;
  p[kSubType] = SubType;
  StoreU16(p + kDeclaredLength, DeclaredLength);
  p[kDeclaredDecimals] = DeclaredDecimals;
  StoreU16(p + kPhysicalSize, PhysicalSize);
  p[kPhysicalDecimals] = PhysicalDecimals;
  StoreU16(p + kFieldOffset, FieldOffset);
  p[kRequired] = Required;
  p[kCharCase] = CharCase;
  WriteShortText(image.subspan(kMinValue), kTextLength, MinValue);
  WriteShortText(image.subspan(kMaxValue), kTextLength, MaxValue);
  WriteShortText(image.subspan(kDefaultValue), kTextLength, DefaultValue);
  p[kCompression] = Compression;
  p[kComputed] = Computed;
}

bool FieldDescriptor::Decode(std::span<const std::uint8_t, kFieldDescriptorSize> image) {
  const std::uint8_t* p = image.data();
  auto name = ReadShortText(image.subspan(kName), kNameLength);
  auto description = ReadShortText(image.subspan(kDescription), kTextLength);
  auto min_value = ReadShortText(image.subspan(kMinValue), kTextLength);
  auto max_value = ReadShortText(image.subspan(kMaxValue), kTextLength);
  auto default_value = ReadShortText(image.subspan(kDefaultValue), kTextLength);
  if (!name || !description || !min_value || !max_value || !default_value) return false;
  FieldNumber = LoadU16(p + kFieldNumber);
  Name = std::move(*name);
  Description = std::move(*description);
  EngineType = p[kEngineType];
  SubType = p[kSubType];
  DeclaredLength = LoadU16(p + kDeclaredLength);
  DeclaredDecimals = p[kDeclaredDecimals];
  PhysicalSize = LoadU16(p + kPhysicalSize);
  PhysicalDecimals = p[kPhysicalDecimals];
  FieldOffset = LoadU16(p + kFieldOffset);
  Required = p[kRequired];
  CharCase = p[kCharCase];
  MinValue = std::move(*min_value);
  MaxValue = std::move(*max_value);
  DefaultValue = std::move(*default_value);
  Compression = p[kCompression];
  Computed = p[kComputed];
  return true;
}

}  // namespace strata
