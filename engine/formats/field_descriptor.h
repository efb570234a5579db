// FieldDescriptor: the 768-byte record that describes one field of a table.
// The components fill the caller's part (name, types, declared sizes, flags,
// value texts); the engine computes PhysicalSize, PhysicalDecimals and
// FieldOffset and stores the array after the data file header.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/formats/field_descriptor_layout.h"

namespace strata {

// The field numbers of the two system fields every record carries; indexes
// may use them as key fields.
inline constexpr std::uint16_t kRecordIdFieldNumber = 65535;
inline constexpr std::uint16_t kRecordHashFieldNumber = 65534;

struct FieldDescriptor {
  std::uint16_t FieldNumber = 0;
  std::string Name;          // at most 60 characters
  std::string Description;   // at most 100 characters
  std::uint8_t EngineType = 0;
  std::uint8_t SubType = 0;
  std::uint16_t DeclaredLength = 0;
  std::uint8_t DeclaredDecimals = 0;
  std::uint16_t PhysicalSize = 0;
  std::uint8_t PhysicalDecimals = 0;
  std::uint16_t FieldOffset = 0;  // record offset of the field's NullFlag
  std::uint8_t Required = 0;
  std::uint8_t CharCase = 0;      // 0 unchanged, 1 lower, 2 upper
  std::string MinValue;           // value texts, at most 100 characters each
  std::string MaxValue;
  std::string DefaultValue;
  std::uint8_t Compression = 0;   // 0 to 9, BLOB fields only
  std::uint8_t Computed = 0;      // always 0 in a stored table

  // Fills the 768-byte image; reserved bytes are zero.
  void Encode(std::span<std::uint8_t, kFieldDescriptorSize> image) const;

  // Reads a 768-byte image. False when a text's length byte is out of range.
  bool Decode(std::span<const std::uint8_t, kFieldDescriptorSize> image);

  bool operator==(const FieldDescriptor&) const = default;
};

}  // namespace strata
