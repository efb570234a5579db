#include "engine/core/journal/table_journal.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <span>
#include <type_traits>

#include "engine/common/byte_order.h"
#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"

namespace strata {

namespace {

// Further tries of a journal's delete that a reader's look refuses, 1 ms
// apart.
constexpr int kRemoveRetries = 20;

enum class EntryKind : std::uint8_t {
  RemoveFile = 1,
  RestoreCopy = 2,
  RestoreBytes = 3,
  Swap = 4,
  SwapStaged = 5,
  Recovered = 6,
};

// Entry framing: payload length, kind, payload, CRC-32.
constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kKindSize = 1;
constexpr std::size_t kCrcSize = 4;

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  uLong crc = ::crc32(0L, Z_NULL, 0);
  crc = ::crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
  return static_cast<std::uint32_t>(crc);
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

class Writer {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) { Put(v, 2); }
  void U32(std::uint32_t v) { Put(v, 4); }
  void I64(std::int64_t v) { Put(static_cast<std::uint64_t>(v), 8); }
  void Text(const std::string& text) {
    U16(static_cast<std::uint16_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
  }
  void Bytes(const std::vector<std::uint8_t>& run) {
    U32(static_cast<std::uint32_t>(run.size()));
    bytes_.insert(bytes_.end(), run.begin(), run.end());
  }
  std::vector<std::uint8_t>& Image() { return bytes_; }

 private:
  void Put(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> bytes_;
};

// Reads a payload; every read past its end leaves the reader failed.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Ok() const { return ok_; }
  bool AtEnd() const { return at_ == bytes_.size(); }

  std::uint8_t U8() { return Take(1) ? bytes_[at_ - 1] : 0; }
  std::uint16_t U16() { return Take(2) ? LoadU16(&bytes_[at_ - 2]) : 0; }
  std::uint32_t U32() { return Take(4) ? LoadU32(&bytes_[at_ - 4]) : 0; }
  std::int64_t I64() { return Take(8) ? LoadI64(&bytes_[at_ - 8]) : 0; }
  std::string Text() {
    const std::size_t n = U16();
    if (!Take(n)) return {};
    return std::string(reinterpret_cast<const char*>(&bytes_[at_ - n]), n);
  }
  std::vector<std::uint8_t> Bytes() {
    const std::size_t n = U32();
    if (!Take(n)) return {};
    return std::vector<std::uint8_t>(bytes_.begin() + static_cast<std::ptrdiff_t>(at_ - n),
                                     bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
  }

 private:
  bool Take(std::size_t n) {
    if (!ok_ || bytes_.size() - at_ < n) {
      ok_ = false;
      return false;
    }
    at_ += n;
    return true;
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

void EncodePayload(const JournalEntry& entry, Writer& out, EntryKind& kind) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, JournalRemoveFile>) {
          kind = EntryKind::RemoveFile;
          out.Text(e.Path);
        } else if constexpr (std::is_same_v<T, JournalRestoreCopy>) {
          kind = EntryKind::RestoreCopy;
          out.Text(e.Target);
          out.Text(e.Copy);
        } else if constexpr (std::is_same_v<T, JournalRestoreBytes>) {
          kind = EntryKind::RestoreBytes;
          out.Text(e.Target);
          out.I64(e.Offset);
          out.Bytes(e.Bytes);
        } else if constexpr (std::is_same_v<T, JournalSwap>) {
          kind = EntryKind::Swap;
          out.U8(static_cast<std::uint8_t>(e.NewFiles.size()));
          for (const JournalSwap::NewFile& file : e.NewFiles) {
            out.Text(file.Temp);
            out.Text(file.Staged);
            out.Text(file.Final);
          }
          out.U8(static_cast<std::uint8_t>(e.OldFiles.size()));
          for (const JournalSwap::OldFile& file : e.OldFiles) {
            out.Text(file.Final);
            out.Text(file.Backup);
            out.U8(file.Discard ? 1 : 0);
          }
        } else if constexpr (std::is_same_v<T, JournalSwapStaged>) {
          kind = EntryKind::SwapStaged;
        } else {
          kind = EntryKind::Recovered;
        }
      },
      entry);
}

std::optional<JournalEntry> DecodePayload(EntryKind kind, Reader& in) {
  switch (kind) {
    case EntryKind::RemoveFile:
      return JournalRemoveFile{in.Text()};
    case EntryKind::RestoreCopy: {
      JournalRestoreCopy e;
      e.Target = in.Text();
      e.Copy = in.Text();
      return e;
    }
    case EntryKind::RestoreBytes: {
      JournalRestoreBytes e;
      e.Target = in.Text();
      e.Offset = in.I64();
      e.Bytes = in.Bytes();
      return e;
    }
    case EntryKind::Swap: {
      JournalSwap e;
      for (std::uint8_t n = in.U8(); n > 0 && in.Ok(); --n) {
        JournalSwap::NewFile file;
        file.Temp = in.Text();
        file.Staged = in.Text();
        file.Final = in.Text();
        e.NewFiles.push_back(std::move(file));
      }
      for (std::uint8_t n = in.U8(); n > 0 && in.Ok(); --n) {
        JournalSwap::OldFile file;
        file.Final = in.Text();
        file.Backup = in.Text();
        file.Discard = in.U8() != 0;
        e.OldFiles.push_back(std::move(file));
      }
      return e;
    }
    case EntryKind::SwapStaged:
      return JournalSwapStaged{};
    case EntryKind::Recovered:
      return JournalRecovered{};
  }
  return std::nullopt;
}

[[noreturn]] void RaiseFileError(std::uint16_t fallback, const std::string& path) {
  const std::uint16_t code = platform::LastErrorNumber() != 0 ? RecordOsError() : fallback;
  RaiseTableError(code, path);
}

}  // namespace

const std::vector<std::uint8_t>& TableJournal::Magic() {
  static const std::vector<std::uint8_t> magic = {'S', 'T', 'R', 'J', 'R', 'N', 'L', '1'};
  return magic;
}

std::vector<std::uint8_t> TableJournal::Encode(const JournalEntry& entry) {
  Writer payload;
  EntryKind kind = EntryKind::RemoveFile;
  EncodePayload(entry, payload, kind);
  const std::vector<std::uint8_t>& body = payload.Image();
  Writer framed;
  framed.U32(static_cast<std::uint32_t>(body.size()));
  framed.U8(static_cast<std::uint8_t>(kind));
  framed.Image().insert(framed.Image().end(), body.begin(), body.end());
  framed.U32(Crc32(std::span(framed.Image()).subspan(kLengthSize)));
  return std::move(framed.Image());
}

std::vector<JournalEntry> TableJournal::Decode(const std::vector<std::uint8_t>& image) {
  std::vector<JournalEntry> entries;
  const std::vector<std::uint8_t>& magic = Magic();
  if (image.size() < magic.size() || !std::equal(magic.begin(), magic.end(), image.begin())) {
    return entries;
  }
  std::size_t at = magic.size();
  while (image.size() - at >= kLengthSize + kKindSize + kCrcSize) {
    const std::uint32_t length = LoadU32(&image[at]);
    if (length > image.size() - at - kLengthSize - kKindSize - kCrcSize) break;
    const std::span<const std::uint8_t> covered(&image[at + kLengthSize], kKindSize + length);
    if (Crc32(covered) != LoadU32(&image[at + kLengthSize + kKindSize + length])) break;
    Reader payload(covered.subspan(kKindSize));
    const auto entry = DecodePayload(static_cast<EntryKind>(covered[0]), payload);
    if (!entry || !payload.Ok() || !payload.AtEnd()) break;
    entries.push_back(*entry);
    at += kLengthSize + kKindSize + length + kCrcSize;
  }
  return entries;
}

TableJournal::TableJournal(platform::FileSystem& files, std::string path,
                           std::unique_ptr<platform::FileHandle> handle)
    : files_(&files), path_(std::move(path)), handle_(std::move(handle)) {}

TableJournal::TableJournal(TableJournal&&) noexcept = default;
TableJournal& TableJournal::operator=(TableJournal&&) noexcept = default;

TableJournal::~TableJournal() {
  if (handle_) handle_->Close();
}

void TableJournal::RaiseError(std::uint16_t code) const { RaiseFileError(code, path_); }

TableJournal TableJournal::Create(platform::FileSystem& files, const std::string& path) {
  platform::SetLastErrorNumber(0);
  auto handle = files.CreateNew(path);
  if (!handle) RaiseFileError(STRATA_OSEACCES, path);
  TableJournal journal(files, path, std::move(handle));
  const std::vector<std::uint8_t>& magic = Magic();
  platform::SetLastErrorNumber(0);
  if (journal.handle_->WriteAt(0, std::as_bytes(std::span(magic))) !=
      static_cast<std::int64_t>(magic.size())) {
    journal.RaiseError(STRATA_WRITEERR);
  }
  journal.size_ = static_cast<std::int64_t>(magic.size());
  return journal;
}

std::optional<TableJournal> TableJournal::OpenLeftover(platform::FileSystem& fs,
                                                       const std::string& path, int retryCount,
                                                       std::uint32_t waitMs) {
  for (int attempt = 0;; ++attempt) {
    if (!fs.FileExists(path)) return std::nullopt;
    platform::SetLastErrorNumber(0);
    platform::OpenedFile opened = fs.Open(path, platform::OpenRequest{.exclusive = true});
    if (opened.handle) {
      TableJournal journal(fs, path, std::move(opened.handle));
      const std::int64_t size = journal.handle_->Size();
      if (size < 0) journal.RaiseError(STRATA_READERR);
      std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
      if (journal.handle_->ReadAt(0, std::as_writable_bytes(std::span(image))) != size) {
        journal.RaiseError(STRATA_READERR);
      }
      const std::vector<std::uint8_t>& magic = Magic();
      const std::size_t compared = std::min(image.size(), magic.size());
      // The header reaches the disk with the first entry, in one sync: a
      // header that is missing or cut short (zeros where a power cut lost
      // its bytes but kept the file's size) means no entry was ever
      // complete, whatever follows it, so no change began.
      for (std::size_t i = 0; i < compared; ++i) {
        if (image[i] != magic[i] && image[i] != 0) {
          // Not a journal of this engine: nothing to recover, and not ours
          // to remove.
          return std::nullopt;
        }
      }
      journal.entries_ = Decode(image);
      journal.size_ = size;
      return journal;
    }
    if (platform::LastErrorNumber() == ENOENT) return std::nullopt;  // removed in between
    if (platform::LastErrorNumber() != EAGAIN || attempt >= retryCount) RaiseFileError(STRATA_OSEACCES, path);
    platform::SleepMilliseconds(waitMs);
  }
}

JournalState TableJournal::Inspect(platform::FileSystem& fs, const std::string& path,
                                   std::vector<JournalEntry>* recorded) {
  if (!fs.FileExists(path)) return JournalState::None;
  platform::SetLastErrorNumber(0);
  platform::OpenedFile opened = fs.Open(path, platform::OpenRequest{.readOnly = true});
  if (!opened.handle) {
    if (platform::LastErrorNumber() == ENOENT) return JournalState::None;  // removed in between
    // Its writer holds it exclusively from creation to removal.
    if (platform::LastErrorNumber() == EAGAIN) return JournalState::InProgress;
    return JournalState::Interrupted;
  }
  const std::int64_t size = opened.handle->Size();
  std::vector<std::uint8_t> image(size > 0 ? static_cast<std::size_t>(size) : 0);
  const bool read =
      size >= 0 && opened.handle->ReadAt(0, std::as_writable_bytes(std::span(image))) == size;
  opened.handle->Close();
  if (!read) return JournalState::Interrupted;
  const std::vector<std::uint8_t>& magic = Magic();
  for (std::size_t i = 0; i < std::min(image.size(), magic.size()); ++i) {
    if (image[i] != magic[i] && image[i] != 0) return JournalState::Complete;  // not this engine's
  }
  std::vector<JournalEntry> entries = Decode(image);
  const bool recovered = std::any_of(entries.begin(), entries.end(), [](const JournalEntry& entry) {
    return std::holds_alternative<JournalRecovered>(entry);
  });
  if (entries.empty() || recovered) return JournalState::Complete;
  if (recorded != nullptr) *recorded = std::move(entries);
  return JournalState::Interrupted;
}

void TableJournal::Append(const std::vector<JournalEntry>& entries) {
  if (!handle_) RaiseError(STRATA_WRITEERR);
  std::vector<std::uint8_t> bytes;
  for (const JournalEntry& entry : entries) {
    const std::vector<std::uint8_t> encoded = Encode(entry);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  platform::SetLastErrorNumber(0);
  if (handle_->WriteAt(size_, std::as_bytes(std::span(bytes))) !=
      static_cast<std::int64_t>(bytes.size())) {
    RaiseError(STRATA_WRITEERR);
  }
  size_ += static_cast<std::int64_t>(bytes.size());
  platform::SetLastErrorNumber(0);
  if (entries_.empty()) {
    // The first entries and the journal's own name: neither waits for the
    // other, both are durable before the change begins.
    platform::FileHandle* handle = handle_.get();
    const std::string directory = DirectoryOf(path_);
    if (files_->SyncAll(std::span(&handle, 1), std::span(&directory, 1)) >= 0) {
      RaiseError(STRATA_WRITEERR);
    }
  } else if (!handle_->Sync()) {
    RaiseError(STRATA_WRITEERR);
  }
  entries_.insert(entries_.end(), entries.begin(), entries.end());
}

void TableJournal::Remove(bool syncDirectory) {
  platform::FileSystem& fs = *files_;
  if (handle_) {
    platform::SetLastErrorNumber(0);
    if (!handle_->Truncate(0)) RaiseError(STRATA_WRITEERR);
    // Empty, the journal records nothing: the change is complete.
    entries_.clear();
    const bool closed = handle_->Close();
    handle_.reset();
    if (!closed) RaiseError(STRATA_WRITEERR);
  }
  // Refused only while someone who found the file empty holds it: a writer
  // that recovers removes it; a reader looks for a moment, so the delete is
  // tried a few more times. A journal left empty records no change.
  bool deleted = false;
  for (int attempt = 0; !deleted; ++attempt) {
    platform::SetLastErrorNumber(0);
    deleted = fs.Delete(path_);
    if (deleted || platform::LastErrorNumber() == ENOENT) break;
    if (platform::LastErrorNumber() != EAGAIN) RaiseError(STRATA_WRITEERR);
    if (attempt >= kRemoveRetries) break;
    platform::SleepMilliseconds(1);
  }
  platform::SetLastErrorNumber(0);
  if (syncDirectory && !fs.SyncDirectory(DirectoryOf(path_))) RaiseError(STRATA_WRITEERR);
}

}  // namespace strata
