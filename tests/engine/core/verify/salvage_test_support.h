// A reader of the salvage file a repair writes next to a table, following
// docs/salvage-file.md on its own: the tests read back what a repair kept.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"

namespace strata::testing {

struct SalvagedValue {
  std::uint16_t FieldNumber = 0;
  std::optional<std::vector<std::uint8_t>> Stored;  // nullopt: unreadable
};

struct SalvageEntry {
  std::string Tag;  // "STBL", "SREC" or "SVAL"
  // STBL
  std::string TableName;
  std::uint16_t RecordSize = 0;
  std::uint16_t FieldCount = 0;
  bool Enciphered = false;
  // SREC and SVAL
  std::int32_t Slot = 0;
  std::int32_t RecordId = 0;
  std::string Reason;
  std::vector<std::uint8_t> SlotBytes;  // SREC
  std::vector<SalvagedValue> Values;    // SREC: each BLOB value; SVAL: one
};

// Every entry of the file in order; an empty list for a missing file. A
// file that does not follow the format ends the list with an entry tagged
// "BAD".
inline std::vector<SalvageEntry> ReadSalvageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<SalvageEntry> entries;
  std::size_t at = 0;
  bool enciphered = false;
  const auto need = [&](std::size_t n) { return at + n <= bytes.size(); };
  const auto u8 = [&] { return bytes[at++]; };
  const auto u16 = [&] {
    const std::uint16_t v = LoadU16(bytes.data() + at);
    at += 2;
    return v;
  };
  const auto i32 = [&] {
    const std::int32_t v = LoadI32(bytes.data() + at);
    at += 4;
    return v;
  };
  const auto text = [&](std::string& out) {
    if (!need(1)) return false;
    const std::size_t n = u8();
    if (!need(n)) return false;
    out.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    return true;
  };
  const auto block = [&](std::int32_t length, std::vector<std::uint8_t>& out) {
    const std::size_t stored =
        enciphered ? (static_cast<std::size_t>(length) + 7) / 8 * 8 : static_cast<std::size_t>(length);
    if (length < 0 || !need(stored)) return false;
    out.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + stored));
    at += stored;
    return true;
  };
  const auto value = [&](SalvagedValue& out) {
    if (!need(6)) return false;
    out.FieldNumber = u16();
    const std::int32_t length = i32();
    if (length == -1) return true;
    out.Stored.emplace();
    return block(length, *out.Stored);
  };
  while (at < bytes.size()) {
    SalvageEntry entry;
    bool ok = need(4);
    if (ok) {
      entry.Tag.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
      at += 4;
    }
    if (ok && entry.Tag == "STBL") {
      ok = need(7) && u8() == 1;
      if (ok) {
        entry.Enciphered = enciphered = u8() == 1;
        entry.RecordSize = u16();
        entry.FieldCount = u16();
        std::vector<std::uint8_t> descriptors;
        ok = text(entry.TableName) && need(4) && block(i32(), descriptors) &&
             descriptors.size() == 768u * entry.FieldCount;
      }
    } else if (ok && (entry.Tag == "SREC" || entry.Tag == "SVAL")) {
      ok = need(8);
      if (ok) {
        entry.Slot = i32();
        entry.RecordId = i32();
        ok = text(entry.Reason);
      }
      if (ok && entry.Tag == "SREC") {
        ok = need(4) && block(i32(), entry.SlotBytes) && need(2);
        for (std::uint16_t n = ok ? u16() : 0; ok && n > 0; --n) {
          entry.Values.emplace_back();
          ok = value(entry.Values.back());
        }
      } else if (ok) {
        entry.Values.emplace_back();
        ok = value(entry.Values.back());
      }
    } else {
      ok = false;
    }
    if (!ok) {
      SalvageEntry bad;
      bad.Tag = "BAD";
      entries.push_back(std::move(bad));
      break;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace strata::testing
