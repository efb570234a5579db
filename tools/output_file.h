// OutputFile: the file an output option names (`export --output PATH`,
// `export-sqlite DIR PATH`), written according to what is there:
//
// - a regular file with one name, or a path where nothing is yet: written
//   under a temporary name in the same folder (TemporaryNameFor) and renamed
//   into place at Commit, so that a failed or interrupted command leaves the
//   old file as it was and nothing beside it. The new file takes the old
//   file's permission bits and, where the process may set them, its owner
//   and group. When the folder refuses the temporary file but the file
//   itself may be written, the file is written in place instead.
// - anything else: a character or block device, a FIFO, a symbolic link
//   (written through to its target), a regular file with further hard links
//   (replacing it would split them), or "-" for standard output: written in
//   place, as it is, with nothing renamed. A regular file is truncated only
//   when the first bytes are written (or at Commit), so a command that fails
//   before it writes leaves it as it was.
// - a folder is refused.
//
// Two uses. Stream: the bytes come through Write. Staged: the caller builds
// the complete file at StagedPath() (an existing empty file of the final
// mode and owner, or a new name in the temporary folder for an in-place
// target), and Commit renames it into place or copies it into the target,
// which is opened only then (a FIFO's reader gets the file at once).
//
// The temporary file is removed on a signal (signal_cleanup.h) and when the
// object goes without a Commit. Every failure raises OutputError
// "cannot write '<path>': <reason>" ("standard output" for "-"); the reason
// for ENOSPC and EDQUOT is "no space left on the device".
#pragma once

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/output_target.h"
#include "platform/signal_cleanup.h"

namespace strata::tools {

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file name next to path, unique to this process, for writing before the
// final rename.
std::string TemporaryNameFor(const std::string& path);

// The reason an operating-system error number gives, as the tool prints it.
std::string OsReason(int error);

class OutputFile {
 public:
  enum class Use { Stream, Staged };

  // standardOutput receives what "-" names.
  OutputFile(std::string path, Use use, std::ostream& standardOutput);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Stream use: appends bytes.
  void Write(std::string_view bytes);
  // Staged use: where the caller builds the file.
  const std::string& StagedPath() const { return temporary_; }
  // Whether the target is written in place (nothing renamed).
  bool InPlace() const { return inPlace_; }
  // Completes the file: renamed into place, or the last bytes written and
  // the target closed.
  void Commit();
  // The name the errors give.
  std::string Shown() const;

 private:
  [[noreturn]] void Fail(int error) const;
  [[noreturn]] void Fail(const std::string& reason) const;
  void OpenTarget();
  void OpenTemporary(bool exists, unsigned ownerId, unsigned groupId, unsigned mode);
  void TruncateOnce();
  void CopyStagedIntoTarget();
  void CloseTarget();

  std::string path_;
  Use use_;
  std::ostream* stream_ = nullptr;  // "-"
  bool inPlace_ = false;
  bool truncate_ = false;  // an in-place regular file, not yet truncated
  platform::OutputDescriptor target_;  // the open target or temporary file
  std::string temporary_;
  std::optional<platform::SignalCleanup> cleanup_;
  bool committed_ = false;
};

}  // namespace strata::tools
