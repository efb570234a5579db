// Damage made to order: little-endian values written over a table file's
// bytes in place (the file keeps its length), and the file offset of a
// value in the data file's header or in one of its field descriptors, so a
// test names what it damages by layout name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"

namespace strata::testing {

// Writes `size` bytes of value, least significant first, at offset.
inline void PatchFile(const std::string& path, std::int64_t offset, std::uint64_t value,
                      std::size_t size) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  ASSERT_TRUE(file.is_open()) << path;
  file.seekp(offset);
  for (std::size_t i = 0; i < size; ++i) file.put(static_cast<char>((value >> (8 * i)) & 0xFF));
  ASSERT_TRUE(file.good()) << path;
}

// Reads `size` bytes at offset as an unsigned little-endian value.
inline std::uint64_t PeekFile(const std::string& path, std::int64_t offset, std::size_t size) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(offset);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(file.get())) << (8 * i);
  }
  return value;
}

// The offset in the data file of a value of field `position`'s descriptor
// (from 1), given by its field_descriptor_layout offset.
constexpr std::int64_t DescriptorOffset(std::size_t position, std::size_t at) {
  return static_cast<std::int64_t>(data_header_layout::kFieldDescriptors +
                                   (position - 1) * kFieldDescriptorSize + at);
}

}  // namespace strata::testing
