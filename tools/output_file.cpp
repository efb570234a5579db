#include "tools/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/process.h"

namespace strata::tools {

namespace {

constexpr std::size_t kCopyChunk = 1 << 16;

}  // namespace

std::string TemporaryNameFor(const std::string& path) {
  const std::filesystem::path target(path);
  return (target.parent_path() /
          ("." + target.filename().string() + ".strata-" + platform::ThreadIdText()))
      .string();
}

std::string OsReason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "no space left on the device";
  return std::strerror(error);
}

OutputFile::OutputFile(std::string path, Use use, std::ostream& standardOutput)
    : path_(std::move(path)), use_(use) {
  if (path_ == "-") {
    stream_ = &standardOutput;
    inPlace_ = true;
  } else {
    platform::OutputPathDescription target;
    if (!platform::DescribeOutputPath(path_, target)) Fail(errno);
    const bool exists = target.Exists;
    if (target.Folder) Fail("it is a folder");
    // A link to nothing yet is written through: its target is created.
    inPlace_ = target.Symlink || (exists && (!target.Regular || target.Links > 1));
    if (!inPlace_) {
      try {
        OpenTemporary(exists, target.OwnerId, target.GroupId, target.Mode);
      } catch (const OutputError&) {
        // The folder refuses new names; a file that may be written is
        // written where it is.
        if (!exists || !platform::MayWrite(path_)) throw;
        inPlace_ = true;
      }
    }
    if (inPlace_) {
      if (use_ == Use::Stream) {
        OpenTarget();
      } else if (exists && !platform::MayWrite(path_)) {
        // Opened only when the staged file is complete (a FIFO's reader
        // then gets the file at once), but refused now when it cannot be.
        Fail(errno);
      }
    }
  }
  if (inPlace_ && use_ == Use::Staged) {
    // The complete file is built aside and copied into the target.
    const std::string leaf = stream_ != nullptr ? std::string("stdout")
                                                : std::filesystem::path(path_).filename().string();
    temporary_ = platform::TemporaryPath() + "." + leaf + ".strata-" + platform::ThreadIdText();
    cleanup_.emplace(temporary_, platform::SignalCleanup::Kind::File);
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);  // a file of a dead process of the same id
  }
}

void OutputFile::OpenTarget() {
  if (!target_.OpenForWriting(path_)) Fail(errno);
  truncate_ = target_.IsRegularFile();
}

void OutputFile::OpenTemporary(bool exists, unsigned ownerId, unsigned groupId, unsigned mode) {
  temporary_ = TemporaryNameFor(path_);
  cleanup_.emplace(temporary_, platform::SignalCleanup::Kind::File);
  platform::OutputDescriptor file;
  bool created = file.CreateNew(temporary_);
  if (!created && errno == EEXIST) {
    // Left by a dead process that had the same id.
    platform::RemoveFile(temporary_);
    created = file.CreateNew(temporary_);
  }
  if (!created) {
    const int error = errno;
    cleanup_.reset();
    temporary_.clear();
    Fail(error);
  }
  if (exists) {
    // Owner first: a change of owner clears the set-id bits that the mode
    // then sets again. Only a privileged process may give the file away;
    // otherwise it keeps the writer's owner.
    const bool ownerKept = file.TakeOwner(ownerId, groupId);
    static_cast<void>(ownerKept);
    if (!file.SetMode(mode)) Fail(errno);
  }
  if (use_ == Use::Stream) target_ = std::move(file);
}

OutputFile::~OutputFile() {
  target_.Close();
  if (!committed_ && !temporary_.empty()) platform::RemoveFile(temporary_);
}

std::string OutputFile::Shown() const { return stream_ != nullptr ? "standard output" : path_; }

void OutputFile::Fail(int error) const { Fail(OsReason(error)); }

void OutputFile::Fail(const std::string& reason) const {
  throw OutputError("cannot write '" + Shown() + "': " + reason);
}

void OutputFile::TruncateOnce() {
  if (!truncate_) return;
  truncate_ = false;
  if (!target_.Truncate()) Fail(errno);
}

void OutputFile::Write(std::string_view bytes) {
  if (bytes.empty()) return;
  if (stream_ != nullptr) {
    errno = 0;
    stream_->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!*stream_) Fail(errno != 0 ? OsReason(errno) : std::string("the stream refused the data"));
    return;
  }
  TruncateOnce();
  if (!target_.WriteAll(bytes)) Fail(errno);
}

void OutputFile::CopyStagedIntoTarget() {
  platform::InputDescriptor from;
  if (!from.Open(temporary_)) Fail(errno);
  std::string chunk(kCopyChunk, '\0');
  for (;;) {
    const std::int64_t got = from.Read(chunk);
    if (got < 0) Fail(errno);
    if (got == 0) break;
    Write(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
  }
}

void OutputFile::CloseTarget() {
  if (stream_ != nullptr) {
    errno = 0;
    stream_->flush();
    if (!*stream_) Fail(errno != 0 ? OsReason(errno) : std::string("the stream refused the data"));
    return;
  }
  TruncateOnce();
  if (!target_.Close()) Fail(errno);
}

void OutputFile::Commit() {
  if (inPlace_) {
    if (use_ == Use::Staged) {
      if (stream_ == nullptr) OpenTarget();
      CopyStagedIntoTarget();
    }
    CloseTarget();
    if (!temporary_.empty()) platform::RemoveFile(temporary_);
    cleanup_.reset();
    committed_ = true;
    return;
  }
  if (use_ == Use::Stream) {
    // On disk before it takes the name: a crash must not leave an empty
    // file where the old one was.
    const bool synced = target_.Sync();
    const int error = errno;
    if (!target_.Close() || !synced) Fail(synced ? errno : error);
  }
  if (!platform::RenameOver(temporary_, path_)) Fail(errno);
  cleanup_.reset();
  committed_ = true;
}

}  // namespace strata::tools
