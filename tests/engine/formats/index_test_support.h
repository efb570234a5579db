// Helpers for the index tests: field descriptors laid out as a record,
// record images, and a fixture that owns an index file in a private
// temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/formats/record_layout.h"
#include "engine/values/field_types.h"
#include "tests/engine/formats/format_test_support.h"
#include "tests/support/definitions.h"

namespace strata::testing {

// Field descriptors numbered from 1 with their record offsets.
inline std::vector<FieldDescriptor> MakeFields(
    std::initializer_list<std::tuple<const char*, std::uint8_t, std::uint16_t>> columns) {
  std::vector<FieldDescriptor> fields;
  std::uint16_t offset = kFirstFieldOffset;
  for (const auto& [name, type, length] : columns) {
    FieldDescriptor f;
    f.FieldNumber = static_cast<std::uint16_t>(fields.size() + 1);
    f.Name = name;
    f.EngineType = type;
    f.DeclaredLength = type == kTypeString || type == kTypeBytes ? length : 0;
    f.SubType = type == kTypeBlob ? static_cast<std::uint8_t>(length) : 0;
    f.PhysicalSize = PhysicalSizeOf(type, f.SubType, f.DeclaredLength);
    f.FieldOffset = offset;
    offset = static_cast<std::uint16_t>(offset + record_layout::kNullFlagSize + f.PhysicalSize);
    fields.push_back(f);
  }
  return fields;
}

inline std::size_t RecordSizeOf(const std::vector<FieldDescriptor>& fields) {
  const FieldDescriptor& last = fields.back();
  return (last.FieldOffset + record_layout::kNullFlagSize + last.PhysicalSize + 7u) / 8u * 8u;
}

// Where a field's value lies in a record image: right after its NullFlag.
inline std::size_t ValueAt(const FieldDescriptor& field) {
  return field.FieldOffset + record_layout::kNullFlagSize;
}

// Bytes from a text of hexadecimal pairs; blanks and "|" are ignored.
inline std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

class IndexFileTest : public TempDirTest {
 protected:
  // A new index file with the given page size.
  TIndexFile& Create(std::int32_t pageSize = 1024) {
    pageSize_ = pageSize;
    file_.reset();
    file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, pageSize);
    file_->CreateNew();
    return *file_;
  }
  // Writes everything and opens the file again.
  TIndexFile& Reopen() {
    Flush();
    file_->Close();
    file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, pageSize_);
    file_->Open();
    return *file_;
  }
  void Flush() {
    file_->WriteBack(false);
    file_->WriteHeader(false);
  }
  std::string Path() const { return dir_ + "people.idx"; }
  std::vector<std::uint8_t> FileBytes() const { return Bytes(Slurp("people.idx")); }
  std::vector<std::uint8_t> PageBytes(std::int32_t page) const {
    const auto bytes = FileBytes();
    const auto start = kFirstIndexPageOffset + (page - 1) * std::int64_t{pageSize_};
    return {bytes.begin() + start, bytes.begin() + start + pageSize_};
  }
  void PutFileBytes(std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream out(Path(), std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(offset);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  // A damage case: what it breaks, where (from the first page), and the
  // bytes written there (Hex).
  struct Damage {
    const char* what;
    std::int64_t offset;
    std::string bytes;
  };
  // Closes the file, writes the damage and opens the file again; nothing
  // cached is written back over the damage.
  void DamageAndReopen(const Damage& damage) {
    file_->Close();
    PutFileBytes(kFirstIndexPageOffset + damage.offset, Hex(damage.bytes));
    file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, pageSize_);
    file_->Open();
  }

  FileRegistry registry_;
  FakeOwner owner_;
  std::unique_ptr<TIndexFile> file_;
  std::int32_t pageSize_ = 1024;
};

}  // namespace strata::testing
