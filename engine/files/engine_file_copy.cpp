// The copy operations of TEngineFile: plain and compressed copies of a file
// and restoring a file from such a copy.
#include <algorithm>
#include <vector>

#include "engine/crypto/compressed_copy.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/files/engine_file.h"

namespace strata {

namespace {

// Bytes moved by one transfer from or to a store.
constexpr std::size_t kRunBytes = std::size_t{64} << 10;

// Whole percent of the source read: a report whenever it has grown by the
// step, below 100 until Finish reports 100 once.
class CopyProgress {
 public:
  CopyProgress(const FileCopyOptions& options, std::int64_t total)
      : options_(options), step_(std::max<std::int32_t>(1, options.ProgressStep)), total_(total) {}

  void Advance(std::int64_t bytes) {
    done_ += bytes;
    if (total_ <= 0 || !options_.OnProgress) return;
    const auto percent = static_cast<std::int32_t>(std::min<std::int64_t>(99, done_ * 100 / total_));
    if (percent < last_ + step_) return;
    last_ = percent;
    options_.OnProgress(static_cast<std::uint16_t>(percent));
  }

  void Finish() {
    if (options_.OnProgress) options_.OnProgress(100);
  }

 private:
  const FileCopyOptions& options_;
  std::int32_t step_;
  std::int64_t total_;
  std::int64_t done_ = 0;
  std::int32_t last_ = 0;
};

// Reads a file from its start, one positioned transfer per call.
class FileSource final : public ByteSource {
 public:
  FileSource(TEngineFile& file, CopyProgress& progress) : file_(file), progress_(progress) {}

  std::size_t Read(std::span<std::uint8_t> buffer) override {
    const std::span<std::uint8_t> run = buffer.first(std::min(buffer.size(), kRunBytes));
    const std::int64_t got = file_.ReadAt(offset_, std::as_writable_bytes(run), true);
    offset_ += got;
    progress_.Advance(got);
    return static_cast<std::size_t>(got);
  }

 private:
  TEngineFile& file_;
  CopyProgress& progress_;
  std::int64_t offset_ = 0;
};

// Writes a file from its start, gathering the small pieces of a compressed
// copy into runs of kRunBytes.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(TEngineFile& file) : file_(file) { pending_.reserve(2 * kRunBytes); }

  void Write(std::span<const std::uint8_t> bytes) override {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    if (pending_.size() >= kRunBytes) Drain(false);
  }

  // Writes what is still gathered.
  void Finish() { Drain(true); }

 private:
  void Drain(bool all) {
    std::size_t at = 0;
    while (pending_.size() - at >= kRunBytes || (all && at < pending_.size())) {
      const std::size_t n = std::min(kRunBytes, pending_.size() - at);
      // Never a 0-byte write: that would set the end of the file.
      file_.WriteAt(offset_, std::as_bytes(std::span(pending_).subspan(at, n)));
      offset_ += static_cast<std::int64_t>(n);
      at += n;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  }

  TEngineFile& file_;
  std::vector<std::uint8_t> pending_;
  std::int64_t offset_ = 0;
};

// Opens the source for the copy when its user has not, and closes it again.
class SourceOpening {
 public:
  explicit SourceOpening(TEngineFile& source) : source_(source), openedHere_(!source.IsOpen()) {
    if (openedHere_) source_.Open();
  }
  ~SourceOpening() {
    if (!openedHere_) return;
    SetAsideError("closing a source only read from; nothing was written through it",
                  [&] { source_.Close(); });
  }
  SourceOpening(const SourceOpening&) = delete;
  SourceOpening& operator=(const SourceOpening&) = delete;

 private:
  TEngineFile& source_;
  bool openedHere_;
};

// Runs after a failed copy, whose error is the one that propagates.
void DiscardTarget(TEngineFile& target) noexcept {
  SetAsideError("closing the target of a failed copy; the copy's error wins", [&] {
    if (target.IsOpen()) target.Close();
  });
  // A temporary target went with its close.
  SetAsideError("deleting the target of a failed copy; the copy's error wins",
                [&] { target.Delete(); });
}

// Copies (restore false) or restores (restore true) source into target,
// which it creates; closeTarget closes it at the end.
void Transfer(TEngineFile& source, TEngineFile& target, const FileCopyOptions& options,
              bool restore, bool closeTarget) {
  // Recreating the source itself would empty it before it is read.
  if (&source == &target) RaiseTableError(STRATA_OSEACCES, target.GetName());
  if (!restore && options.Level > 9) RaiseEngineError(STRATA_COMPRESS);
  const CompressionHooks builtIn;
  const CompressionHooks& hooks = options.Hooks != nullptr ? *options.Hooks : builtIn;

  // The source is open before the target is created, so a target of the
  // same path is refused as a file in use instead of being emptied.
  SourceOpening opening(source);
  CopyProgress progress(options, source.GetFileSize());
  // The bare file: a format's own creation would write a header.
  target.TEngineFile::CreateNew();
  try {
    FileSource reader(source, progress);
    FileSink writer(target);
    if (restore) {
      ReadCompressedCopy(reader, writer, hooks);
    } else {
      WriteCompressedCopy(reader, writer, options.Level, hooks);
    }
    writer.Finish();
    target.Flush();
    if (closeTarget) target.Close();
  } catch (...) {
    DiscardTarget(target);
    throw;
  }
  progress.Finish();
}

}  // namespace

void TEngineFile::CopyTo(const std::string& targetPath, const FileCopyOptions& options) {
  TEngineFile target(registry_, targetPath, inMemory_);
  Transfer(*this, target, options, false, true);
}

void TEngineFile::CopyTo(TEngineFile& target, const FileCopyOptions& options) {
  Transfer(*this, target, options, false, false);
}

void TEngineFile::RestoreFrom(const std::string& copyPath, const FileCopyOptions& options) {
  TEngineFile copy(registry_, copyPath, inMemory_);
  copy.ReadOnly = true;
  Transfer(copy, *this, options, true, false);
}

void TEngineFile::RestoreFrom(TEngineFile& copy, const FileCopyOptions& options) {
  Transfer(copy, *this, options, true, false);
}

}  // namespace strata
