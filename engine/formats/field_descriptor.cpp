#include "engine/formats/field_descriptor.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

// The descriptor fields, where field_descriptor_layout.h places them.
using field_descriptor_layout::kFieldNumber;
using field_descriptor_layout::kName;
using field_descriptor_layout::kDescription;
using field_descriptor_layout::kEngineType;
using field_descriptor_layout::kSubType;
using field_descriptor_layout::kDeclaredLength;
using field_descriptor_layout::kDeclaredDecimals;
using field_descriptor_layout::kPhysicalSize;
using field_descriptor_layout::kPhysicalDecimals;
using field_descriptor_layout::kFieldOffset;
using field_descriptor_layout::kRequired;
using field_descriptor_layout::kCharCase;
using field_descriptor_layout::kMinValue;
using field_descriptor_layout::kMaxValue;
using field_descriptor_layout::kDefaultValue;
using field_descriptor_layout::kCompression;
using field_descriptor_layout::kComputed;

using field_descriptor_layout::kNameLength;
using field_descriptor_layout::kTextLength;

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
