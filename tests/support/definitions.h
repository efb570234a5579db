// Field and index definitions for tests, benchmarks and fuzz seeds, built the
// way a table's creator states them:
//
//   FieldDef(2, "Name").String(20)        FieldDef(4, "Notes").Memo()
//   IndexDef("ByName", {2}).Unique()      IndexDef("", {1, 3}).Descending()
//
// Each converts to the engine's descriptor. A field gets its number, name,
// type, subtype and declared length; an index its name, key fields (with
// FieldCount) and flags. Everything else stays as a new descriptor has it:
// the engine derives sizes, offsets and key lengths itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"
#include "engine/values/field_types.h"

namespace strata::testing {

class FieldDef {
 public:
  FieldDef(std::uint16_t number, std::string name) {
    field_.FieldNumber = number;
    field_.Name = std::move(name);
  }

  // Types with a declared length.
  FieldDef& String(std::uint16_t length) { return Type(kTypeString, kSubTypeNone, length); }
  FieldDef& FixedChar(std::uint16_t length) {
    return Type(kTypeString, kSubTypeFixedChar, length);
  }
  FieldDef& WideString(std::uint16_t length) {
    return Type(kTypeString, kSubTypeWideString, length);
  }
  FieldDef& Guid(std::uint16_t length) { return Type(kTypeString, kSubTypeGuid, length); }
  FieldDef& Bytes(std::uint16_t length) { return Type(kTypeBytes, kSubTypeNone, length); }
  FieldDef& VarBytes(std::uint16_t length) { return Type(kTypeVarBytes, kSubTypeNone, length); }

  // Types without one.
  FieldDef& Integer() { return Type(kTypeInteger); }
  FieldDef& AutoInc() { return Type(kTypeInteger, kSubTypeAutoInc); }
  FieldDef& Smallint() { return Type(kTypeSmallint); }
  FieldDef& Word() { return Type(kTypeWord); }
  FieldDef& Largeint() { return Type(kTypeLargeint); }
  FieldDef& Float() { return Type(kTypeFloat); }
  FieldDef& Currency() { return Type(kTypeFloat, kSubTypeCurrency); }
  FieldDef& Bcd() { return Type(kTypeBcd); }
  FieldDef& Date() { return Type(kTypeDate); }
  FieldDef& Time() { return Type(kTypeTime); }
  FieldDef& Timestamp() { return Type(kTypeTimestamp); }
  FieldDef& Boolean() { return Type(kTypeBoolean); }
  FieldDef& Blob() { return Type(kTypeBlob); }
  FieldDef& Memo() { return Type(kTypeBlob, kSubTypeMemo); }
  FieldDef& Graphic() { return Type(kTypeBlob, kSubTypeGraphic); }

  // Any other combination, as the engine's type and subtype numbers.
  FieldDef& Type(std::uint8_t type, std::uint8_t subType = kSubTypeNone,
                 std::uint16_t length = 0) {
    field_.EngineType = type;
    field_.SubType = subType;
    field_.DeclaredLength = length;
    return *this;
  }

  operator FieldDescriptor() const { return field_; }

 private:
  FieldDescriptor field_;
};

class IndexDef {
 public:
  // An index over the key fields (field numbers) in this order; ascending,
  // not unique, case-sensitive, uncompressed.
  IndexDef(std::string name, const std::vector<std::uint16_t>& keyFields) {
    index_.Name = std::move(name);
    index_.FieldCount = static_cast<std::uint8_t>(keyFields.size());
    for (std::size_t i = 0; i < keyFields.size(); ++i) index_.FieldNumbers[i] = keyFields[i];
  }

  IndexDef& Unique(bool on = true) {
    index_.Unique = on ? 1 : 0;
    return *this;
  }
  IndexDef& CaseInsensitive(bool on = true) {
    index_.CaseInsensitive = on ? 1 : 0;
    return *this;
  }
  // The whole index descending: the flag and every key field.
  IndexDef& Descending() {
    index_.Descending = 1;
    for (std::size_t i = 0; i < index_.FieldCount; ++i) index_.DescendingFields[i] = 1;
    return *this;
  }
  // Single key fields descending, in key order; the whole-index flag stays.
  IndexDef& DescendingKeys(const std::vector<bool>& descending) {
    for (std::size_t i = 0; i < descending.size(); ++i) {
      index_.DescendingFields[i] = descending[i] ? 1 : 0;
    }
    return *this;
  }
  IndexDef& Compression(std::uint8_t compression) {
    index_.Compression = compression;
    return *this;
  }

  operator IndexDescriptor() const { return index_; }

 private:
  IndexDescriptor index_;
};

}  // namespace strata::testing
