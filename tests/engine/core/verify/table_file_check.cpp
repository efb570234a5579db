#include "tests/engine/core/verify/table_file_check.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "engine/common/byte_order.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/crypto/md5.h"
#include "engine/formats/blob_block_layout.h"
#include "engine/formats/blob_file_header_layout.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/index_file_header_layout.h"
#include "engine/formats/index_key_layout.h"
#include "engine/formats/index_page_layout.h"
#include "engine/formats/record_layout.h"
#include "engine/locale/collation.h"
#include "engine/values/bcd.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"

namespace strata::testing {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Key = std::vector<std::uint8_t>;

constexpr std::uint16_t kRecordIdNumber = 65535;
constexpr std::uint16_t kRecordHashNumber = 65534;
constexpr std::int64_t kLastDay = 3652059;
constexpr std::int64_t kDayMs = 86400000;
constexpr int kMaxLevels = 64;

Bytes ReadWhole(const std::string& path, bool& exists) {
  std::ifstream in(path, std::ios::binary);
  exists = static_cast<bool>(in);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// text[n] at p: the text when its length byte fits and (strict) the bytes
// after the text are zero.
std::optional<std::string> CanonicalText(std::span<const std::uint8_t> p, std::size_t n,
                                         bool strict) {
  if (p[0] > n || (strict && !AllZero(p.subspan(1 + p[0], n - p[0])))) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(p.data() + 1), p[0]);
}

void StoreBig(std::uint64_t value, int bytes, std::uint8_t* out) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
}

bool ValidFirst(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::string UpperAnsi(std::string_view s, const Collation& collation) {
  std::string out(s);
  collation.Upper(std::span<char>(out.data(), out.size()));
  return out;
}

struct Field {
  std::uint16_t Number = 0;
  std::string Name;
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  std::uint16_t Length = 0;
  std::uint8_t Decimals = 0;
  std::uint16_t Size = 0;  // PhysicalSize
  std::uint16_t Offset = 0;
  std::uint8_t Required = 0;
  std::uint8_t CharCase = 0;
  std::string Min, Max;
  std::uint8_t Compression = 0;
  bool Wide() const { return Type == kTypeString && SubType == kSubTypeWideString; }
  std::uint16_t KeyBytes() const { return Type == kTypeBcd ? 8 : Size; }
};

// The physical size a type and declared length give.
std::uint16_t SizeOf(std::uint8_t type, std::uint8_t subType, std::uint16_t length) {
  switch (type) {
    case kTypeString:
      return static_cast<std::uint16_t>(subType == kSubTypeWideString ? 2 * length + 1
                                                                       : length + 1);
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime: return 4;
    case kTypeBlob:
    case kTypeFloat:
    case kTypeTimestamp:
    case kTypeLargeint: return 8;
    case kTypeBoolean:
    case kTypeSmallint:
    case kTypeWord: return 2;
    case kTypeBcd: return 34;
    default: return length;
  }
}

struct Index {
  std::string Name;
  std::uint16_t KeyLength = 0;
  bool Unique = false;
  bool CaseInsensitive = false;
  bool FullText = false;
  std::uint8_t Compression = 0;
  std::vector<std::uint16_t> Fields;
  std::vector<bool> Descending;
};

// The texts of a record's full-text fields, by field number.
using TextMap = std::map<std::uint16_t, std::string>;

struct RecordInfo {
  std::int32_t Number = 0;
  std::int32_t Id = 0;
  TextMap Texts;
};

class Checker {
 public:
  Checker(std::string base, bool bytes) : base_(std::move(base)), bytes_(bytes) {}

  std::vector<std::string> Run() {
    bool exists = false;
    data_ = ReadWhole(base_ + ".dat", exists);
    if (!exists) return {"no data file"};
    index_ = ReadWhole(base_ + ".idx", exists);
    if (!exists) return {"no index file"};
    if (!DataHeader() || !Descriptors() || !DataLayout()) return problems_;
    if (!blobFields_.empty()) {
      blob_ = ReadWhole(base_ + ".blb", exists);
      if (!exists) {
        Problem("no BLOB file");
        return problems_;
      }
      if (!BlobHeader()) return problems_;
    }
    const bool indexUsable = IndexHeader();
    Records();
    if (indexUsable) Trees();
    BlobSpace();
    return problems_;
  }

 private:
  void Problem(std::string text) {
    if (problems_.size() < 40) problems_.push_back(std::move(text));
  }
  static std::string Slot(std::int32_t n) { return "slot " + std::to_string(n) + ": "; }

  // -------------------------------------------------------------------------
  // Data file header and descriptors

  bool DataHeader() {
    namespace h = data_header_layout;
    if (data_.size() < kDataHeaderSize) {
      Problem("data file shorter than its header");
      return false;
    }
    const std::uint8_t* p = data_.data();
    if (p[h::kFormatVersion] != 6) Problem("data FormatVersion " + std::to_string(p[h::kFormatVersion]));
    if (bytes_ && (!AllZero({p + 4, 4}) ||
                   !AllZero({p + h::kHeaderModified + 1, kDataHeaderSize - h::kHeaderModified - 1}))) {
      Problem("data header reserved bytes not zero");
    }
    if (bytes_ && p[h::kHeaderModified] > 1) Problem("data HeaderModified not 0/1");
    firstFree_ = LoadI32(p + h::kFirstFreeRecord);
    nextRecord_ = LoadI32(p + h::kNextRecordNumber);
    lastRecordId_ = LoadI32(p + h::kLastRecordID);
    lastAutoInc_ = LoadI32(p + h::kLastAutoIncValue);
    recordCount_ = LoadI32(p + h::kRecordCount);
    recordSize_ = LoadU16(p + h::kRecordSize);
    fieldCount_ = LoadU16(p + h::kFieldCount);
    blobFieldCount_ = LoadU16(p + h::kBlobFieldCount);
    blockSize_ = LoadI32(p + h::kBlobBlockSize);
    pageSize_ = LoadI32(p + h::kIndexPageSize);
    localeId_ = LoadU32(p + h::kLocaleID);
    if (blockSize_ < 64 || blockSize_ > 65536 || blockSize_ % 8 != 0) {
      Problem("BlobBlockSize " + std::to_string(blockSize_));
      blockSize_ = 0;
    }
    if (pageSize_ < 1024 || pageSize_ > 16384 || pageSize_ % 8 != 0) {
      Problem("IndexPageSize " + std::to_string(pageSize_));
      pageSize_ = 0;
    }
    if (!CanonicalText({p + h::kDescription, h::kDescriptionSize}, h::kDescriptionLength, bytes_)) {
      Problem("data header description not a canonical text");
    }
    if (p[h::kEncrypted] != 0) Problem("table marked enciphered");
    if (!AllZero({p + h::kPasswordCheck, h::kPasswordCheckSize})) {
      Problem("password check value in a plain table");
    }
    if (fieldCount_ < 1 || fieldCount_ > 1024) {
      Problem("FieldCount " + std::to_string(fieldCount_));
      return false;
    }
    if (localeId_ != kAnsiLocaleId && !LocaleAvailable(localeId_)) {
      Problem("LocaleID " + std::to_string(localeId_) + " not available");
      return false;
    }
    collation_ = Collation::For(localeId_);
    return true;
  }

  bool Descriptors() {
    namespace d = field_descriptor_layout;
    if (data_.size() < kDataHeaderSize + kFieldDescriptorSize * fieldCount_) {
      Problem("data file shorter than its descriptors");
      return false;
    }
    std::int64_t offset = kFirstFieldOffset;
    std::set<std::string> names;
    for (std::size_t i = 0; i < fieldCount_; ++i) {
      const std::uint8_t* p = data_.data() + kDataHeaderSize + kFieldDescriptorSize * i;
      const std::span<const std::uint8_t> image(p, kFieldDescriptorSize);
      const std::string at = "field " + std::to_string(i + 1) + ": ";
      Field f;
      f.Number = LoadU16(p + d::kFieldNumber);
      const auto name = CanonicalText(image.subspan(d::kName), d::kNameLength, bytes_);
      const auto description = CanonicalText(image.subspan(d::kDescription), d::kTextLength, bytes_);
      const auto min = CanonicalText(image.subspan(d::kMinValue), d::kTextLength, bytes_);
      const auto max = CanonicalText(image.subspan(d::kMaxValue), d::kTextLength, bytes_);
      const auto def = CanonicalText(image.subspan(d::kDefaultValue), d::kTextLength, bytes_);
      if (!name || !description || !min || !max || !def) {
        Problem(at + "a text that is not canonical");
        return false;
      }
      f.Name = *name;
      f.Type = p[d::kEngineType];
      f.SubType = p[d::kSubType];
      f.Length = LoadU16(p + d::kDeclaredLength);
      f.Decimals = p[d::kDeclaredDecimals];
      f.Size = LoadU16(p + d::kPhysicalSize);
      f.Offset = LoadU16(p + d::kFieldOffset);
      f.Required = p[d::kRequired];
      f.CharCase = p[d::kCharCase];
      f.Min = *min;
      f.Max = *max;
      f.Compression = p[d::kCompression];
      if (f.Number != i + 1) Problem(at + "number " + std::to_string(f.Number));
      const std::string_view trimmed = Trim(f.Name);
      std::string upper = UpperAnsi(trimmed, Collation());
      if (trimmed.empty() || !ValidFirst(static_cast<unsigned char>(trimmed.front()))) {
        Problem(at + "name '" + f.Name + "'");
      }
      if (!names.insert(upper).second || upper == "RECORDID" || upper == "RECORDHASH") {
        Problem(at + "duplicate or reserved name '" + f.Name + "'");
      }
      if (f.Type == 0) Problem(at + "type 0");
      const bool sized = f.Type == kTypeString || f.Type == kTypeBytes || f.Type == kTypeVarBytes;
      const std::uint16_t limit = f.Type == kTypeString && f.SubType == kSubTypeWideString ? 256 : 512;
      if (sized ? (f.Length < 1 || f.Length > limit) : f.Length != 0) {
        Problem(at + "declared length " + std::to_string(f.Length));
      }
      if (f.Type != kTypeBcd && f.Decimals != 0) Problem(at + "decimals");
      // Readers work both out from the type; a repair stores them.
      if (bytes_ && f.Size != SizeOf(f.Type, f.SubType, f.Length)) Problem(at + "PhysicalSize");
      if (bytes_ && p[d::kPhysicalDecimals] != f.Decimals) Problem(at + "physical decimals");
      f.Size = SizeOf(f.Type, f.SubType, f.Length);
      if (f.Offset != offset) {
        Problem(at + "offset " + std::to_string(f.Offset) + " instead of " +
                std::to_string(offset));
        return false;
      }
      if (f.Required > 1) Problem(at + "required flag " + std::to_string(f.Required));
      if (f.CharCase > 2) Problem(at + "character case " + std::to_string(f.CharCase));
      if (f.Compression > 9 || (f.Type != kTypeBlob && f.Compression != 0)) {
        Problem(at + "compression level " + std::to_string(f.Compression));
      }
      if (p[d::kComputed] != 0) Problem(at + "computed flag");
      if (bytes_ && !AllZero(image.subspan(d::kComputed + 1))) {
        Problem(at + "reserved bytes not zero");
      }
      for (const std::string& text : {f.Min, f.Max, *def}) {
        if (!ValueTextValid(f, text)) {
          Problem(at + "value text '" + text + "' not valid for type " + std::to_string(f.Type));
        }
      }
      offset += f.Size + 1;
      if (f.Type == kTypeBlob) blobFields_.push_back(fields_.size());
      fields_.push_back(f);
    }
    fieldsEnd_ = offset;
    if (recordSize_ != (offset + 7) / 8 * 8) {
      Problem("RecordSize " + std::to_string(recordSize_));
      return false;
    }
    if (blobFieldCount_ != blobFields_.size()) Problem("BlobFieldCount");
    return true;
  }

  static bool ValueTextValid(const Field& f, const std::string& text) {
    if (text.empty()) return true;
    const auto keyword = [&](std::string_view word) {
      return UpperAnsi(text, Collation()) == word;
    };
    try {
      switch (f.Type) {
        case kTypeBlob: return false;
        case kTypeDate:
          if (keyword("CURRENT_DATE")) return true;
          EngineTextToDate(text);
          return true;
        case kTypeTime:
          if (keyword("CURRENT_TIME")) return true;
          EngineTextToTime(text);
          return true;
        case kTypeTimestamp:
          if (keyword("CURRENT_TIMESTAMP") || keyword("CURRENT_DATE") || keyword("CURRENT_TIME")) {
            return true;
          }
          EngineTextToTimestamp(text);
          return true;
        case kTypeBoolean: EngineTextToBoolean(text); return true;
        case kTypeSmallint: {
          const std::int64_t v = EngineTextToLargeint(text);
          return v >= -32768 && v <= 32767;
        }
        case kTypeInteger: EngineTextToInteger(text); return true;
        case kTypeWord: {
          const std::int64_t v = EngineTextToLargeint(text);
          return v >= 0 && v <= 65535;
        }
        case kTypeLargeint: EngineTextToLargeint(text); return true;
        case kTypeFloat:
        case kTypeBcd: return std::isfinite(EngineTextToFloat(text));
        default: return true;
      }
    } catch (const std::exception&) {
      return false;
    }
  }

  bool DataLayout() {
    const std::int64_t start = kDataHeaderSize + std::int64_t{kFieldDescriptorSize} * fieldCount_;
    const std::int64_t excess = static_cast<std::int64_t>(data_.size()) - start;
    if (excess % recordSize_ != 0) Problem("data file not a whole number of slots");
    slots_ = static_cast<std::int32_t>(excess / recordSize_);
    slotStart_ = start;
    if (nextRecord_ != slots_ + 1) {
      Problem("NextRecordNumber " + std::to_string(nextRecord_) + " for " +
              std::to_string(slots_) + " slots");
    }
    if (firstFree_ < 0 || firstFree_ > slots_) Problem("FirstFreeRecord out of range");
    return true;
  }

  std::span<const std::uint8_t> SlotBytes(std::int32_t n) const {
    return {data_.data() + slotStart_ + std::int64_t{recordSize_} * (n - 1), recordSize_};
  }

  // -------------------------------------------------------------------------
  // BLOB file

  bool BlobHeader() {
    namespace h = blob_header_layout;
    if (blockSize_ == 0) return false;
    if (blob_.size() < kBlobHeaderSize) {
      Problem("BLOB file shorter than its header");
      return false;
    }
    const std::uint8_t* p = blob_.data();
    if (p[h::kFormatVersion] != 6) Problem("BLOB FormatVersion");
    if (bytes_ && (!AllZero({p + 4, 4}) ||
                   !AllZero({p + h::kHeaderModified + 1, kBlobHeaderSize - h::kHeaderModified - 1}))) {
      Problem("BLOB header reserved bytes not zero");
    }
    const std::int64_t excess = static_cast<std::int64_t>(blob_.size()) - kBlobHeaderSize;
    if (excess % blockSize_ != 0) Problem("BLOB file not a whole number of blocks");
    blocks_ = static_cast<std::int32_t>(excess / blockSize_);
    if (LoadI32(p + h::kNextBlockNumber) != blocks_ + 1) Problem("NextBlockNumber");
    blockOwner_.assign(static_cast<std::size_t>(blocks_) + 1, 0);
    // The free chain: blocks of the file, each once.
    std::int32_t block = LoadI32(p + h::kFirstFreeBlock);
    for (std::int32_t steps = 0; block != 0; ++steps) {
      if (block < 1 || block > blocks_ || blockOwner_[block] != 0) {
        Problem("free BLOB chain reaches block " + std::to_string(block));
        break;
      }
      blockOwner_[block] = -1;
      block = LoadI32(Block(block) + blob_block_layout::kNextBlock);
    }
    return true;
  }

  const std::uint8_t* Block(std::int32_t n) const {
    return blob_.data() + kBlobHeaderSize + std::int64_t{blockSize_} * (n - 1);
  }

  // The stored bytes of a BLOB value; nullopt (with a problem) when its
  // chain is broken.
  std::optional<Bytes> ReadChain(std::int32_t record, const Field& f, std::int32_t first,
                                 std::int32_t revision) {
    namespace b = blob_block_layout;
    const std::string at = Slot(record) + f.Name + ": ";
    if (blob_.empty() || first < 1 || first > blocks_) {
      Problem(at + "first block " + std::to_string(first) + " outside the BLOB file");
      return std::nullopt;
    }
    const std::int32_t payload = blockSize_ - static_cast<std::int32_t>(kBlockHeaderSize);
    const std::int32_t length = LoadI32(Block(first) + b::kBlobLength);
    if (length <= 0) {
      Problem(at + "BlobLength " + std::to_string(length));
      return std::nullopt;
    }
    // No reader follows PrevBlock; a repair sets it.
    if (bytes_ && LoadI32(Block(first) + b::kPrevBlock) != 0) Problem(at + "first block's PrevBlock");
    Bytes value;
    std::int32_t block = first;
    while (true) {
      if (blockOwner_[block] != 0) {
        Problem(at + "block " + std::to_string(block) + " already in use");
        return std::nullopt;
      }
      blockOwner_[block] = record;
      const std::uint8_t* p = Block(block);
      if (LoadI32(p + b::kBlobRevision) != revision) {
        Problem(at + "block " + std::to_string(block) + " of another revision");
        return std::nullopt;
      }
      const std::int32_t want =
          std::min<std::int32_t>(payload, length - static_cast<std::int32_t>(value.size()));
      if (LoadU16(p + b::kDataLength) != want) {
        Problem(at + "block " + std::to_string(block) + " DataLength");
        return std::nullopt;
      }
      value.insert(value.end(), p + b::kPayload, p + b::kPayload + want);
      const std::int32_t next = LoadI32(p + b::kNextBlock);
      if (static_cast<std::int32_t>(value.size()) == length) {
        if (next != 0) Problem(at + "last block has a NextBlock");
        return value;
      }
      if (next < 1 || next > blocks_) {
        Problem(at + "chain ends early");
        return std::nullopt;
      }
      block = next;
    }
  }

  void BlobSpace() {
    // Space that no value and no free chain holds is lost, no harm to a
    // reader: a repair frees it.
    if (!bytes_) return;
    std::int32_t lost = 0;
    for (std::int32_t block = 1; block <= blocks_; ++block) lost += blockOwner_[block] == 0;
    if (lost > 0) Problem(std::to_string(lost) + " BLOB blocks neither used nor free");
  }

  // -------------------------------------------------------------------------
  // Records

  void Records() {
    std::set<std::int32_t> ids;
    std::set<std::int32_t> deleted;
    std::int32_t inUse = 0;
    std::int32_t highestId = 0;
    std::int32_t highestAutoInc = 0;
    for (std::int32_t n = 1; n <= slots_; ++n) {
      const auto slot = SlotBytes(n);
      const std::int32_t id = LoadI32(slot.data() + record_layout::kId);
      if (id == 0 || !ids.insert(id).second) Problem(Slot(n) + "RecordID " + std::to_string(id));
      highestId = std::max(highestId, id);
      if (slot[record_layout::kStatus] == 1) {
        deleted.insert(n);
        for (const std::size_t i : blobFields_) {
          if (LoadI32(slot.data() + fields_[i].Offset + 1) != 0) {
            Problem(Slot(n) + "deleted slot names a BLOB block");
          }
        }
        continue;
      }
      ++inUse;
      Record(n, slot, highestAutoInc);
    }
    // The free chain: the deleted slots, each once.
    std::set<std::int32_t> chained;
    for (std::int32_t n = firstFree_; n != 0;) {
      if (n < 0 || n > slots_ || !deleted.contains(n) || !chained.insert(n).second) {
        Problem("free record chain reaches slot " + std::to_string(n));
        break;
      }
      n = LoadI32(SlotBytes(n).data() + record_layout::kLink);
    }
    if (chained.size() != deleted.size()) Problem("deleted slots missing from the free chain");
    if (recordCount_ != inUse) Problem("RecordCount " + std::to_string(recordCount_));
    if (lastRecordId_ < highestId) Problem("LastRecordID below a RecordID");
    if (lastAutoInc_ < highestAutoInc) Problem("LastAutoIncValue below a value");
  }

  void Record(std::int32_t n, std::span<const std::uint8_t> slot, std::int32_t& highestAutoInc) {
    const std::string at = Slot(n);
    const std::uint8_t status = slot[record_layout::kStatus];
    if (status != 0 && status != 3) Problem(at + "status " + std::to_string(status));
    if (LoadI32(slot.data() + record_layout::kLink) != n) Problem(at + "link");
    Bytes hashed(slot.begin() + kFirstFieldOffset, slot.end());
    for (const std::size_t i : blobFields_) {
      std::fill_n(hashed.begin() + (fields_[i].Offset - kFirstFieldOffset), 9, 0);
    }
    const Md5Digest hash = Md5::Digest(hashed);
    if (!std::equal(hash.begin(), hash.end(), slot.begin() + record_layout::kHash)) {
      Problem(at + "RecordHash");
    }
    if (!AllZero(slot.subspan(static_cast<std::size_t>(fieldsEnd_)))) Problem(at + "padding");

    TextMap texts;
    for (const Field& f : fields_) {
      const std::uint8_t flag = slot[f.Offset];
      const auto value = slot.subspan(f.Offset + 1u, f.Size);
      const std::string where = at + f.Name + ": ";
      if (flag > 1) {
        Problem(where + "NullFlag " + std::to_string(flag));
        continue;
      }
      if (f.Type == kTypeBlob) {
        const std::int32_t first = LoadI32(value.data());
        if ((flag == 1) != (first != 0)) Problem(where + "NullFlag against its first block");
        if (first == 0) continue;
        const auto stored = ReadChain(n, f, first, LoadI32(value.data() + 4));
        if (!stored) continue;
        Bytes content = *stored;
        if (f.Compression > 0) {
          try {
            content = ZlibDecompress(*stored, kDefaultMaxDecompressedBytes);
          } catch (const std::exception&) {
            Problem(where + "compressed BLOB that does not decompress");
            continue;
          }
        }
        if (f.SubType == kSubTypeMemo) texts[f.Number] = std::string(content.begin(), content.end());
        continue;
      }
      if (flag == 0) {
        if (!AllZero(value)) Problem(where + "NULL with bytes");
        if (f.Required != 0) Problem(where + "required field NULL");
        if (f.Type == kTypeString && !f.Min.empty() && !LimitKeyword(f.Min) &&
            collation_.Compare("", f.Min, false, 0) < 0) {
          Problem(where + "NULL below the minimum");
        }
        continue;
      }
      Value(where, f, value, texts);
      if (f.Type == kTypeInteger && f.SubType == kSubTypeAutoInc) {
        highestAutoInc = std::max(highestAutoInc, LoadI32(value.data()));
      }
    }
    for (const std::uint16_t number : PrimaryFields()) {
      if (number <= fields_.size() && slot[fields_[number - 1].Offset] == 0) {
        Problem(at + "primary key field " + fields_[number - 1].Name + " NULL");
      }
    }
    records_.push_back({n, LoadI32(slot.data() + record_layout::kId), std::move(texts)});
  }

  static bool LimitKeyword(const std::string& text) {
    const std::string upper = UpperAnsi(text, Collation());
    return upper == "CURRENT_DATE" || upper == "CURRENT_TIME" || upper == "CURRENT_TIMESTAMP";
  }

  void Value(const std::string& where, const Field& f, std::span<const std::uint8_t> value,
             TextMap& texts) {
    switch (f.Type) {
      case kTypeString: {
        if (f.Wide()) {
          std::u16string units;
          std::size_t i = 0;
          for (; i + 1 < value.size(); i += 2) {
            const char16_t unit = LoadU16(value.data() + i);
            if (unit == 0) break;
            units += unit;
          }
          if (units.empty()) Problem(where + "empty wide text");
          if (!AllZero(value.subspan(std::min(i, value.size())))) Problem(where + "wide text padding");
          if (!units.empty() && units.back() == u' ') Problem(where + "trailing blank");
          std::u16string cased = units;
          if (f.CharCase == 1) collation_.LowerWide(cased);
          if (f.CharCase == 2) collation_.UpperWide(cased);
          if (cased != units) Problem(where + "letter case");
          return;
        }
        const auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
        const std::string text(value.begin(), end);
        if (end == value.end()) {
          Problem(where + "text without terminator");
          return;
        }
        if (text.empty()) Problem(where + "empty text");
        if (!AllZero({end, value.end()})) Problem(where + "bytes after the terminator");
        if (f.SubType != kSubTypeFixedChar && !text.empty() && text.back() == ' ') {
          Problem(where + "trailing blank");
        }
        std::string cased = text;
        if (f.CharCase == 1) collation_.Lower(std::span<char>(cased.data(), cased.size()));
        if (f.CharCase == 2) collation_.Upper(std::span<char>(cased.data(), cased.size()));
        if (cased != text) Problem(where + "letter case");
        if (!f.Min.empty() && !LimitKeyword(f.Min) && collation_.Compare(text, f.Min, false, 0) < 0) {
          Problem(where + "below the minimum");
        }
        if (!f.Max.empty() && !LimitKeyword(f.Max) && collation_.Compare(text, f.Max, false, 0) > 0) {
          Problem(where + "above the maximum");
        }
        texts[f.Number] = text;
        return;
      }
      case kTypeDate: {
        const std::int32_t day = LoadI32(value.data());
        if (day < 1 || day > kLastDay) Problem(where + "day " + std::to_string(day));
        Limits(where, f, day, [](const std::string& t) { return EngineTextToDate(t) + 693594; });
        return;
      }
      case kTypeBoolean:
        if (LoadU16(value.data()) > 1) Problem(where + "boolean");
        return;
      case kTypeTime: {
        const std::int32_t ms = LoadI32(value.data());
        if (ms < 0 || ms >= kDayMs) Problem(where + "time");
        return;
      }
      case kTypeTimestamp: {
        const double ms = LoadF64(value.data());
        if (!std::isfinite(ms) || ms < kDayMs || ms >= static_cast<double>((kLastDay + 1) * kDayMs)) {
          Problem(where + "timestamp");
        }
        return;
      }
      case kTypeBcd:
        if (!BcdToCurrency(std::span<const std::uint8_t, kBcdSize>(value.data(), kBcdSize))) {
          Problem(where + "unreadable BCD");
        }
        return;
      case kTypeSmallint:
        Limits(where, f, LoadI16(value.data()), EngineTextToFloat);
        return;
      case kTypeInteger:
        Limits(where, f, LoadI32(value.data()), EngineTextToFloat);
        return;
      case kTypeWord:
        Limits(where, f, LoadU16(value.data()), EngineTextToFloat);
        return;
      case kTypeFloat:
        Limits(where, f, LoadF64(value.data()), EngineTextToFloat);
        return;
      default: return;
    }
  }

  template <typename Reader>
  void Limits(const std::string& where, const Field& f, double value, Reader read) {
    if (!f.Min.empty() && !LimitKeyword(f.Min) && value < read(f.Min)) {
      Problem(where + "below the minimum " + f.Min);
    }
    if (!f.Max.empty() && !LimitKeyword(f.Max) && value > read(f.Max)) {
      Problem(where + "above the maximum " + f.Max);
    }
  }

  std::vector<std::uint16_t> PrimaryFields() const {
    std::vector<std::uint16_t> numbers;
    if (indexes_.empty()) return numbers;
    for (const std::uint16_t number : indexes_[0].Fields) {
      if (number != kRecordIdNumber && number != kRecordHashNumber) numbers.push_back(number);
    }
    return numbers;
  }

  // -------------------------------------------------------------------------
  // Index file

  bool IndexHeader() {
    namespace h = index_header_layout;
    namespace d = index_descriptor_layout;
    if (pageSize_ == 0) return false;
    if (index_.size() < static_cast<std::size_t>(kFirstIndexPageOffset)) {
      Problem("index file shorter than its descriptors");
      return false;
    }
    const std::uint8_t* p = index_.data();
    if (p[h::kFormatVersion] != 6) Problem("index FormatVersion");
    if (bytes_ && (!AllZero({p + 4, 4}) ||
                   !AllZero({p + h::kHeaderModified + 1, kIndexHeaderSize - h::kHeaderModified - 1}))) {
      Problem("index header reserved bytes not zero");
    }
    const std::int64_t excess = static_cast<std::int64_t>(index_.size()) - kFirstIndexPageOffset;
    if (excess % pageSize_ != 0) Problem("index file not a whole number of pages");
    pages_ = static_cast<std::int32_t>(excess / pageSize_);
    if (LoadI32(p + h::kNextPageNumber) != pages_ + 1) {
      Problem("NextPageNumber " + std::to_string(LoadI32(p + h::kNextPageNumber)) + " for " +
              std::to_string(pages_) + " pages");
    }
    const int count = p[h::kSecondaryIndexCount];
    if (count > 30) {
      Problem("SecondaryIndexCount " + std::to_string(count));
      return false;
    }
    pageOwner_.assign(static_cast<std::size_t>(pages_) + 1, 0);
    std::set<std::string> names;
    bool usable = true;
    for (int s = 0; s < 32; ++s) {
      const std::uint8_t* q = p + h::kDescriptors + kIndexDescriptorSize * s;
      const std::span<const std::uint8_t> image(q, kIndexDescriptorSize);
      const std::int32_t root = LoadI32(p + h::kRootPage + 4 * s);
      const std::int32_t aux = LoadI32(p + h::kAuxPage + 4 * s);
      const std::string at = "index slot " + std::to_string(s) + ": ";
      if (s > count && s < 31) {
        // Without the bytes a reader ignores, the fields it reads.
        Bytes fields(image.begin(), image.end());
        if (!bytes_) {
          std::fill(fields.begin() + d::kKeyLength + d::kKeyLengthSize,
                    fields.begin() + d::kDescending, 0);
          std::fill(fields.begin() + d::kFullText + d::kFullTextSize, fields.end(), 0);
          if (fields[d::kName] <= d::kNameLength) {
            std::fill(fields.begin() + 1 + fields[d::kName], fields.begin() + d::kNameSize, 0);
          }
        }
        if (!AllZero(fields) || root != 0 || aux != 0) Problem(at + "unused slot not empty");
        continue;
      }
      if (root < 0 || root > pages_) Problem(at + "RootPage");
      if (s != 31 ? aux != 0 : (aux < 0 || aux > pages_)) Problem(at + "AuxPage");
      Index x;
      const auto name = CanonicalText(image.subspan(d::kName), d::kNameLength, bytes_);
      if (!name) {
        Problem(at + "name not a canonical text");
        usable = false;
        continue;
      }
      x.Name = *name;
      x.KeyLength = LoadU16(q + d::kKeyLength);
      x.FullText = q[d::kFullText] != 0;
      x.Unique = q[d::kUnique] != 0;
      x.CaseInsensitive = q[d::kCaseInsensitive] != 0;
      x.Compression = q[d::kCompression];
      for (const std::size_t flag : {d::kDescending, d::kCaseInsensitive, d::kUnique, d::kFullText}) {
        if (q[flag] > 1) Problem(at + "flag at " + std::to_string(flag) + " not 0/1");
      }
      if (bytes_ && (!AllZero(image.subspan(d::kKeyLength + d::kKeyLengthSize,
                                            d::kDescending - d::kKeyLength - d::kKeyLengthSize)) ||
                     !AllZero(image.subspan(d::kFullText + 1)))) {
        Problem(at + "reserved bytes not zero");
      }
      const int fieldCount = q[d::kFieldCount];
      for (int i = 0; i < 128; ++i) {
        const std::uint16_t number = LoadU16(q + d::kFieldNumbers + 2 * i);
        const std::uint8_t descending = q[d::kDescendingFields + i];
        if (i < fieldCount) {
          if (number == 0) Problem(at + "key field " + std::to_string(i) + " is 0");
          x.Fields.push_back(number);
          x.Descending.push_back(descending != 0);
          if (descending > 1) Problem(at + "descending flag " + std::to_string(descending));
        } else if (number != 0 || descending != 0) {
          Problem(at + "key field entry after the list: " + std::to_string(number) + "/" +
                  std::to_string(descending));
        }
      }
      std::uint32_t fieldBytes = 0;
      for (const std::uint16_t number : x.Fields) {
        const Field* f = KeyField(number);
        if (f == nullptr) {
          Problem(at + "key field " + std::to_string(number) + " missing");
          usable = false;
          continue;
        }
        const bool textField = f->Type == kTypeString || (f->Type == kTypeBlob && f->SubType == kSubTypeMemo);
        if (s == 31 ? !textField : f->Type == kTypeBlob) {
          Problem(at + "key field " + f->Name + " of a type this index cannot hold");
          usable = false;
        }
        fieldBytes += 1u + f->KeyBytes();
      }
      if (s == 31) {
        if (x.Name != "Sys Text" || x.KeyLength != 68 || x.Compression != 3 || !x.FullText ||
            x.Unique || x.CaseInsensitive || q[d::kDescending] != 0) {
          Problem(at + "not the full-text definition");
        }
        for (const bool descending : x.Descending) {
          if (descending) Problem(at + "descending full-text field");
        }
      } else {
        if (x.FullText) Problem(at + "full-text flag");
        if (x.Compression > 3) Problem(at + "compression " + std::to_string(x.Compression));
        if (x.Fields.empty()) Problem(at + "no key fields");
        if (fieldBytes < 1 || fieldBytes > 4106 || fieldBytes > static_cast<std::uint32_t>(pageSize_ - 13) / 3) {
          Problem(at + "key size " + std::to_string(fieldBytes));
          usable = false;
        }
        if (x.KeyLength != fieldBytes + (x.Unique ? 0 : 4)) {
          Problem(at + "key length " + std::to_string(x.KeyLength));
          usable = false;
        }
        if (s == 0 && (!x.Name.empty() || !x.Unique)) Problem(at + "not a primary index");
        if (s > 0) {
          const std::string_view trimmed = Trim(x.Name);
          if (trimmed.empty() || !ValidFirst(static_cast<unsigned char>(x.Name.front())) ||
              !names.insert(UpperAnsi(trimmed, Collation())).second) {
            Problem(at + "name '" + x.Name + "'");
          }
        }
      }
      slotOf_.push_back(s);
      roots_.push_back(root);
      indexes_.push_back(std::move(x));
    }
    auxPage_ = LoadI32(p + h::kAuxPage + 4 * 31);
    freePage_ = LoadI32(p + h::kFirstFreePage);
    return usable;
  }

  const Field* KeyField(std::uint16_t number) const {
    static const Field recordId = [] {
      Field f;
      f.Number = kRecordIdNumber;
      f.Type = kTypeInteger;
      f.Size = 4;
      return f;
    }();
    static const Field recordHash = [] {
      Field f;
      f.Number = kRecordHashNumber;
      f.Type = kTypeBytes;
      f.Size = 16;
      return f;
    }();
    if (number == kRecordIdNumber) return &recordId;
    if (number == kRecordHashNumber) return &recordHash;
    if (number == 0 || number > fields_.size()) return nullptr;
    return &fields_[number - 1];
  }

  const std::uint8_t* Page(std::int32_t n) const {
    return index_.data() + kFirstIndexPageOffset + std::int64_t{pageSize_} * (n - 1);
  }

  // The key a record gives for an ordinary index.
  Key BuildKey(const Index& x, std::span<const std::uint8_t> slot, std::int32_t id) const {
    Key key;
    for (const std::uint16_t number : x.Fields) {
      const Field& f = *KeyField(number);
      const std::size_t at = key.size();
      key.resize(at + 1 + f.KeyBytes(), 0);
      std::uint8_t* out = key.data() + at + 1;
      if (number == kRecordIdNumber || number == kRecordHashNumber) {
        key[at] = 1;
        if (number == kRecordIdNumber) {
          StoreBig(static_cast<std::uint32_t>(id) ^ 0x80000000u, 4, out);
        } else {
          std::copy_n(slot.data() + record_layout::kHash, 16, out);
        }
        continue;
      }
      if (slot[f.Offset] == 0) continue;
      key[at] = 1;
      const std::uint8_t* v = slot.data() + f.Offset + 1;
      switch (f.Type) {
        case kTypeString:
          if (f.Wide()) {
            std::u16string units;
            for (std::size_t i = 0; i + 1 < f.Size; i += 2) {
              const char16_t unit = LoadU16(v + i);
              if (unit == 0) break;
              units += unit;
            }
            if (x.CaseInsensitive) collation_.UpperWide(units);
            for (std::size_t i = 0; i < units.size(); ++i) StoreU16(out + 2 * i, units[i]);
          } else {
            std::string text(reinterpret_cast<const char*>(v),
                             strnlen(reinterpret_cast<const char*>(v), f.Size));
            if (x.CaseInsensitive) text = UpperAnsi(text, collation_);
            std::copy(text.begin(), text.end(), out);
          }
          break;
        case kTypeDate:
        case kTypeInteger:
        case kTypeTime: StoreBig(LoadU32(v) ^ 0x80000000u, 4, out); break;
        case kTypeSmallint: StoreBig(LoadU16(v) ^ 0x8000u, 2, out); break;
        case kTypeBoolean:
        case kTypeWord: StoreBig(LoadU16(v), 2, out); break;
        case kTypeFloat:
        case kTypeTimestamp: {
          const double d = LoadF64(v);
          std::uint64_t bits = std::bit_cast<std::uint64_t>(d);
          bits = d >= 0 ? bits | 0x8000000000000000ull : ~bits;
          StoreBig(bits, 8, out);
          break;
        }
        case kTypeLargeint:
          StoreBig(static_cast<std::uint64_t>(LoadI64(v)) ^ 0x8000000000000000ull, 8, out);
          break;
        case kTypeBcd: {
          const auto value = BcdToCurrency(std::span<const std::uint8_t, kBcdSize>(v, kBcdSize));
          StoreBig(static_cast<std::uint64_t>(value.value_or(0)) ^ 0x8000000000000000ull, 8, out);
          break;
        }
        default: std::copy_n(v, f.KeyBytes(), out); break;
      }
    }
    if (!x.Unique) {
      key.resize(key.size() + 4);
      StoreBig(static_cast<std::uint32_t>(id) ^ 0x80000000u, 4, key.data() + key.size() - 4);
    }
    return key;
  }

  // Ordinary keys compare field by field (NullFlag and bytes, or the text
  // through the table's collation), each field turned round when it
  // descends, then the RecordID suffix.
  int Compare(const Index& x, const Key& a, const Key& b) const {
    if (x.FullText) {
      int c = std::memcmp(a.data(), b.data(), 3);
      if (c == 0) {
        c = collation_.Compare({reinterpret_cast<const char*>(a.data() + 3), 61},
                               {reinterpret_cast<const char*>(b.data() + 3), 61}, false, 61);
      }
      if (c == 0) c = std::memcmp(a.data() + 64, b.data() + 64, 4);
      return c < 0 ? -1 : c > 0;
    }
    std::size_t at = 0;
    for (std::size_t i = 0; i < x.Fields.size(); ++i) {
      const Field& f = *KeyField(x.Fields[i]);
      const std::size_t width = 1u + f.KeyBytes();
      int c = 0;
      if (localeId_ != kAnsiLocaleId && f.Type == kTypeString && x.Fields[i] < kRecordHashNumber) {
        c = std::memcmp(a.data() + at, b.data() + at, 1);
        if (c == 0 && f.Wide()) {
          auto units = [&](const Key& k) {
            std::u16string u;
            for (std::size_t j = 0; j + 1 < f.KeyBytes(); j += 2) {
              const char16_t unit = LoadU16(k.data() + at + 1 + j);
              if (unit == 0) break;
              u += unit;
            }
            return u;
          };
          c = collation_.CompareWide(units(a), units(b), false);
        } else if (c == 0) {
          c = collation_.Compare({reinterpret_cast<const char*>(a.data() + at + 1), f.KeyBytes()},
                                 {reinterpret_cast<const char*>(b.data() + at + 1), f.KeyBytes()},
                                 false, f.KeyBytes());
        }
      } else {
        c = std::memcmp(a.data() + at, b.data() + at, width);
      }
      c = c < 0 ? -1 : c > 0;
      if (c != 0) return x.Descending[i] ? -c : c;
      at += width;
    }
    const int c = std::memcmp(a.data() + at, b.data() + at, a.size() - at);
    return c < 0 ? -1 : c > 0;
  }

  struct PageInfo {
    std::int32_t Number = 0;
    bool Leaf = false;
    std::int32_t Prev = 0, Next = 0;
    std::vector<Key> Keys;
    std::vector<std::int32_t> Pointers;
    std::vector<std::int32_t> KeyCounts;
    std::int64_t LeafKeys = 0;
  };

  // Reads a tree page of an index; nullopt (with a problem) when its bytes
  // cannot be its entries.
  std::optional<PageInfo> ReadPage(const Index& x, std::int32_t n, bool root) {
    namespace pl = index_page_layout;
    const std::string at = "index " + x.Name + " page " + std::to_string(n) + ": ";
    const std::uint8_t* p = Page(n);
    PageInfo info;
    info.Number = n;
    const std::uint8_t type = p[pl::kPageType];
    if (root ? (type != 0 && type != 3) : (type != 1 && type != 2)) {
      Problem(at + "type " + std::to_string(type));
      return std::nullopt;
    }
    info.Leaf = type >= 2;
    info.Prev = LoadI32(p + pl::kPrevPage);
    info.Next = LoadI32(p + pl::kNextPage);
    const int count = LoadU16(p + pl::kEntryCount);
    const int used = LoadU16(p + pl::kUsedBytes);
    const int payload = pageSize_ - 13;
    const int k = x.KeyLength;
    if (count == 0) {
      Problem(at + "no entries");
      return std::nullopt;
    }
    const int compression = info.Leaf ? x.Compression : 0;
    const std::uint8_t* q = p + 13;
    int pos = 0;
    auto take = [&](int bytes, std::uint8_t* out) {
      if (bytes < 0 || pos + bytes > payload) return false;
      if (out != nullptr) std::copy_n(q + pos, bytes, out);
      pos += bytes;
      return true;
    };
    for (int i = 0; i < count; ++i) {
      Key key(static_cast<std::size_t>(k), 0);
      std::uint8_t pointer[4];
      if (compression == 0) {
        if (!take(k, key.data()) || !take(4, pointer)) {
          Problem(at + "entries beyond the page");
          return std::nullopt;
        }
        info.Pointers.push_back(LoadI32(pointer));
        if (!info.Leaf && !x.FullText) {
          if (!take(4, pointer)) {
            Problem(at + "entries beyond the page");
            return std::nullopt;
          }
          info.KeyCounts.push_back(LoadI32(pointer));
        }
        info.Keys.push_back(std::move(key));
        continue;
      }
      std::uint8_t dupByte = 0, trailByte = 0;
      if ((compression & 1) && !take(1, &dupByte)) return BadEntries(at);
      if ((compression & 2) && !take(1, &trailByte)) return BadEntries(at);
      const int dup = i == 0 ? 0 : dupByte;
      if (i == 0 && compression == 1 && dupByte != 0) Problem(at + "first entry shares bytes");
      const int trail = trailByte;
      if (dup > k) return BadEntries(at);
      if (dup > 0) std::copy_n(info.Keys.back().begin(), dup, key.begin());
      const bool suffix = (compression & 2) && !x.Unique && k - dup >= 5;
      const int end = suffix ? k - 4 : k;
      if (dup + trail > end) return BadEntries(at);
      if (!take(end - trail - dup, key.data() + dup)) return BadEntries(at);
      if (suffix && !take(4, key.data() + end)) return BadEntries(at);
      if (!take(4, pointer)) return BadEntries(at);
      info.Pointers.push_back(LoadI32(pointer));
      info.Keys.push_back(std::move(key));
    }
    if (compression != 0 ? used != pos : used != 0) {
      Problem(at + "UsedBytes " + std::to_string(used) + " for " + std::to_string(pos));
    }
    if (compression == 0) {
      const int entry = info.Leaf ? k + 4 : (x.FullText ? k + 4 : k + 8);
      if (count > payload / entry) Problem(at + "over capacity");
    }
    return info;
  }

  std::nullopt_t BadEntries(const std::string& at) {
    Problem(at + "entries that cannot be read");
    return std::nullopt;
  }

  void Trees() {
    // Pages of the full-text parameter chain, then the free chain.
    FullTextParameters();
    for (std::size_t i = 0; i < indexes_.size(); ++i) Tree(i);
    for (std::int32_t n = freePage_; n != 0;) {
      if (n < 1 || n > pages_ || pageOwner_[n] != 0) {
        Problem("free page chain reaches page " + std::to_string(n));
        break;
      }
      pageOwner_[n] = -1;
      n = LoadI32(Page(n) + index_page_layout::kNextPage);
    }
  }

  void Tree(std::size_t which) {
    const Index& x = indexes_[which];
    // The entries the records give, as (key, record number).
    std::multiset<std::pair<Key, std::int32_t>> expected;
    for (const RecordInfo& r : records_) {
      if (x.FullText) {
        for (const Key& key : TextKeys(x, r)) expected.insert({key, r.Number});
      } else {
        expected.insert({BuildKey(x, SlotBytes(r.Number), r.Id), r.Number});
      }
    }
    const std::int32_t root = roots_[which];
    const std::string at = "index " + x.Name + ": ";
    if (root == 0) {
      if (!expected.empty()) Problem(at + "empty tree for " + std::to_string(expected.size()) + " keys");
      return;
    }
    std::vector<std::vector<PageInfo>> levels;
    std::vector<std::int32_t> current{root};
    while (!current.empty()) {
      if (levels.size() >= kMaxLevels) {
        Problem(at + "deeper than 64 levels");
        return;
      }
      std::vector<PageInfo> level;
      std::vector<std::int32_t> next;
      for (const std::int32_t n : current) {
        if (n < 1 || n > pages_ || pageOwner_[n] != 0) {
          Problem(at + "page " + std::to_string(n) + " outside the file or reached twice");
          return;
        }
        pageOwner_[n] = static_cast<int>(which) + 1;
        auto page = ReadPage(x, n, levels.empty());
        if (!page) return;
        if (!page->Leaf) next.insert(next.end(), page->Pointers.begin(), page->Pointers.end());
        level.push_back(std::move(*page));
      }
      for (std::size_t i = 0; i < level.size(); ++i) {
        const PageInfo& page = level[i];
        if (page.Leaf != level.front().Leaf) Problem(at + "leaves at different depths");
        const std::int32_t prev = i == 0 ? 0 : level[i - 1].Number;
        const std::int32_t after = i + 1 == level.size() ? 0 : level[i + 1].Number;
        if (page.Prev != prev || page.Next != after) {
          Problem(at + "page " + std::to_string(page.Number) + " links " +
                  std::to_string(page.Prev) + "/" + std::to_string(page.Next) + " instead of " +
                  std::to_string(prev) + "/" + std::to_string(after));
        }
      }
      const bool leaves = level.front().Leaf;
      levels.push_back(std::move(level));
      if (leaves) break;
      current = std::move(next);
    }
    // Node entries against their children, bottom up.
    for (PageInfo& leaf : levels.back()) leaf.LeafKeys = static_cast<std::int64_t>(leaf.Keys.size());
    for (std::size_t depth = levels.size() - 1; depth-- > 0;) {
      std::size_t child = 0;
      for (PageInfo& node : levels[depth]) {
        node.LeafKeys = 0;
        for (std::size_t e = 0; e < node.Keys.size(); ++e, ++child) {
          const PageInfo& below = levels[depth + 1][child];
          if (node.Keys[e] != below.Keys.front()) {
            Problem(at + "node " + std::to_string(node.Number) + " entry " + std::to_string(e) +
                    " not its child's first key");
          }
          if (!x.FullText && node.KeyCounts[e] != below.LeafKeys) {
            Problem(at + "node " + std::to_string(node.Number) + " KeyCount");
          }
          node.LeafKeys += below.LeafKeys;
        }
      }
    }
    // The leaf level in order, holding exactly the records' keys.
    const Key* previous = nullptr;
    std::multiset<std::pair<Key, std::int32_t>> found;
    for (const PageInfo& leaf : levels.back()) {
      for (std::size_t e = 0; e < leaf.Keys.size(); ++e) {
        if (previous != nullptr && Compare(x, *previous, leaf.Keys[e]) >= 0) {
          Problem(at + "keys out of order in page " + std::to_string(leaf.Number));
        }
        previous = &leaf.Keys[e];
        found.insert({leaf.Keys[e], leaf.Pointers[e]});
      }
    }
    if (found != expected) {
      std::vector<std::pair<Key, std::int32_t>> missing, extra;
      std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                          std::back_inserter(missing));
      std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                          std::back_inserter(extra));
      std::string text = at + std::to_string(missing.size()) + " keys missing, " +
                         std::to_string(extra.size()) + " extra";
      if (!missing.empty()) text += "; first missing for record " + std::to_string(missing[0].second);
      if (!extra.empty()) text += "; first extra for record " + std::to_string(extra[0].second);
      Problem(text);
    }
  }

  // -------------------------------------------------------------------------
  // Full-text words

  struct Params {
    std::vector<std::string> StopWords;
    std::array<std::uint8_t, 32> Space{}, Include{};
  };

  static void AddRange(std::array<std::uint8_t, 32>& set, int from, int to) {
    for (int c = from; c <= to; ++c) set[c / 8] = static_cast<std::uint8_t>(set[c / 8] | 1 << (c % 8));
  }

  void FullTextParameters() {
    if (auxPage_ == 0) {
      params_.StopWords = {"A",  "AN", "AND",  "BE", "FOR", "HOW",  "IN",   "IS",    "IT",  "OF",   "ON",
                           "OR", "THAT", "THE", "THIS", "TO", "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
      AddRange(params_.Space, 1, 32);
      AddRange(params_.Space, 42, 47);
      AddRange(params_.Space, 58, 62);
      AddRange(params_.Space, 92, 92);
      AddRange(params_.Space, 96, 96);
      AddRange(params_.Include, 48, 57);
      AddRange(params_.Include, 65, 90);
      AddRange(params_.Include, 95, 95);
      AddRange(params_.Include, 97, 122);
      AddRange(params_.Include, 128, 254);
      return;
    }
    // The stream through the chain of parameter pages; a value that does
    // not fit into the rest of a page starts the next one.
    const int payload = pageSize_ - 13;
    std::int32_t page = auxPage_;
    int pos = 0;
    bool broken = false;
    auto claim = [&](std::int32_t n) {
      if (n < 1 || n > pages_ || pageOwner_[n] != 0 || Page(n)[0] != 4) return false;
      pageOwner_[n] = -2;
      return true;
    };
    if (!claim(page)) broken = true;
    auto read = [&](int bytes, std::uint8_t* out) {
      if (broken) return false;
      if (pos + bytes > payload) {
        page = LoadI32(Page(page) + index_page_layout::kNextPage);
        pos = 0;
        if (bytes > payload || !claim(page)) {
          broken = true;
          return false;
        }
      }
      std::copy_n(Page(page) + 13 + pos, bytes, out);
      pos += bytes;
      return true;
    };
    std::uint8_t four[4];
    if (read(4, four)) {
      const std::int32_t count = LoadI32(four);
      for (std::int32_t i = 0; i < count && !broken && i < 100000; ++i) {
        if (!read(4, four)) break;
        const std::int32_t length = LoadI32(four);
        std::string word(static_cast<std::size_t>(std::clamp(length, 0, payload)), '\0');
        if (!read(static_cast<int>(word.size()), reinterpret_cast<std::uint8_t*>(word.data()))) break;
        params_.StopWords.push_back(word);
      }
      if (read(4, four) && LoadI32(four) == 32) read(32, params_.Space.data());
      if (read(4, four) && LoadI32(four) == 32) read(32, params_.Include.data());
    }
    if (broken) Problem("full-text parameter chain broken");
    // The rest of the chain is the parameters' too.
    for (std::int32_t n = LoadI32(Page(page) + index_page_layout::kNextPage); !broken && n != 0;
         n = LoadI32(Page(n) + index_page_layout::kNextPage)) {
      if (!claim(n)) {
        Problem("full-text parameter chain broken");
        break;
      }
    }
  }

  bool SameWord(const std::string& a, const std::string& b) const {
    return collation_.Compare(a, b, true, 0) == 0;
  }

  std::vector<Key> TextKeys(const Index& x, const RecordInfo& r) const {
    std::vector<Key> keys;
    for (const std::uint16_t number : x.Fields) {
      const auto text = r.Texts.find(number);
      if (text == r.Texts.end()) continue;
      std::vector<std::string> words;
      std::string word;
      auto finish = [&] {
        if (word.empty()) return;
        const bool stop = std::any_of(params_.StopWords.begin(), params_.StopWords.end(),
                                      [&](const std::string& s) { return SameWord(s, word); });
        const bool seen = std::any_of(words.begin(), words.end(),
                                      [&](const std::string& w) { return SameWord(w, word); });
        if (!stop && !seen) words.push_back(word);
        word.clear();
      };
      for (const char ch : text->second) {
        const auto c = static_cast<unsigned char>(ch);
        if (params_.Space[c / 8] >> (c % 8) & 1) {
          finish();
        } else if ((params_.Include[c / 8] >> (c % 8) & 1) && word.size() < 61) {
          word += ch;
        }
      }
      finish();
      for (const std::string& w : words) {
        Key key(68, 0);
        key[0] = 1;
        StoreBig(number, 2, key.data() + 1);
        const std::string upper = UpperAnsi(w, collation_);
        std::copy(upper.begin(), upper.end(), key.begin() + 3);
        StoreBig(static_cast<std::uint32_t>(r.Id) ^ 0x80000000u, 4, key.data() + 64);
        keys.push_back(std::move(key));
      }
    }
    return keys;
  }

  std::string base_;
  // Also the bytes a reader ignores or works out itself: reserved bytes and
  // text padding zero, flags it clears 0 or 1, PhysicalSize and physical
  // decimals as the type gives them, the PrevBlock of a value's first block
  // 0; and no BLOB block lost to both values and the free chain.
  bool bytes_;
  Bytes data_, index_, blob_;
  std::vector<std::string> problems_;
  Collation collation_;
  std::uint32_t localeId_ = 0;
  std::int32_t firstFree_ = 0, nextRecord_ = 0, lastRecordId_ = 0, lastAutoInc_ = 0,
               recordCount_ = 0;
  std::uint16_t recordSize_ = 0, fieldCount_ = 0, blobFieldCount_ = 0;
  std::int32_t blockSize_ = 0, pageSize_ = 0;
  std::vector<Field> fields_;
  std::vector<std::size_t> blobFields_;
  std::int64_t fieldsEnd_ = 0;
  std::int64_t slotStart_ = 0;
  std::int32_t slots_ = 0;
  std::int32_t blocks_ = 0;
  std::vector<std::int32_t> blockOwner_;  // 0 unused, -1 free, else a slot
  std::vector<RecordInfo> records_;
  std::vector<Index> indexes_;
  std::vector<int> slotOf_;
  std::vector<std::int32_t> roots_;
  std::int32_t pages_ = 0;
  std::int32_t auxPage_ = 0;
  std::int32_t freePage_ = 0;
  std::vector<int> pageOwner_;  // 0 unused, -1 free, -2 parameters, else index + 1
  Params params_;
};

}  // namespace

std::vector<std::string> CheckTableFiles(const std::string& base, bool ignoredBytes) {
  return Checker(base, ignoredBytes).Run();
}

}  // namespace strata::testing
