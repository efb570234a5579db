// TableJournal: the durable record of a change to a table's files that a
// crash must not leave half done: creating a table, swapping a rebuilt table
// in for the old one, rebuilding indexes in place, rewriting the headers. It
// is the file "<table>.journal" next to the table (no listing takes it for a
// table). Its creator holds it locked (an exclusive share lock) from before
// the first change until the change is complete; then it removes it. A
// journal that someone can open and lock was left by a process that died:
// whoever opens the table next finishes or undoes the change from it (see
// table_recovery.h) before anything else.
//
// Layout, little-endian: the 8 bytes "STRJRNL1", then entries, each
//   u32 payload length, u8 kind, payload, u32 CRC-32 of the kind byte and
//   the payload.
// Texts (paths) are a u16 length and the bytes; byte runs a u32 length and
// the bytes. Each entry reaches the disk before the change it announces, so
// reading stops at the first entry that is cut short or fails its CRC: a
// torn entry announces nothing that happened. The header reaches the disk
// with the first entries, in the same sync. docs/journal.md describes the
// format and the order in which the files a journal relies on are made
// durable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace strata::platform {
class FileHandle;
class FileSystem;
}

namespace strata {

// A file removed (when it exists) whichever way the change is recovered:
// the parts of a table being created, copies made for the undo.
struct JournalRemoveFile {
  std::string Path;
  bool operator==(const JournalRemoveFile&) const = default;
};

// Undo: Target is recreated from Copy, a complete copy made before the
// change began.
struct JournalRestoreCopy {
  std::string Target;
  std::string Copy;
  bool operator==(const JournalRestoreCopy&) const = default;
};

// Undo: Bytes are written back to Target at Offset.
struct JournalRestoreBytes {
  std::string Target;
  std::int64_t Offset = 0;
  std::vector<std::uint8_t> Bytes;
  bool operator==(const JournalRestoreBytes&) const = default;
};

// The swap of a rebuilt table: each new file moves from its temporary place
// to a staged name next to the table and then to its final name; each old
// file moves to its backup name (or, with Discard, to a name it is deleted
// under once the new files are in place). All moves to staged names come
// first, then all moves of old files, then all moves to final names.
struct JournalSwap {
  struct NewFile {
    std::string Temp;
    std::string Staged;
    std::string Final;
    bool operator==(const NewFile&) const = default;
  };
  struct OldFile {
    std::string Final;
    std::string Backup;
    bool Discard = false;
    bool operator==(const OldFile&) const = default;
  };
  std::vector<NewFile> NewFiles;
  std::vector<OldFile> OldFiles;
  bool operator==(const JournalSwap&) const = default;
};

// Every new file of the swap is complete under its staged name: from here
// on the swap is finished, never undone.
struct JournalSwapStaged {
  bool operator==(const JournalSwapStaged&) const = default;
};

// The change was finished or undone by a recovery; what is left is to
// remove the files named for removal and the journal.
struct JournalRecovered {
  bool operator==(const JournalRecovered&) const = default;
};

using JournalEntry = std::variant<JournalRemoveFile, JournalRestoreCopy, JournalRestoreBytes,
                                  JournalSwap, JournalSwapStaged, JournalRecovered>;

// What a journal beside a table says to a reader that may not change it.
enum class JournalState {
  None,         // no journal: the table is as its files are
  Complete,     // it records no change still to finish or undo (empty,
                // cut short before its first entry, marked recovered, or
                // another program's file)
  InProgress,   // another user holds it: its change is running
  Interrupted,  // it records a change that nobody is running
};

class TableJournal {
 public:
  static constexpr const char* kExtension = ".journal";

  // Creates the journal through files, which must not exist yet (STRATA_OSEACCES
  // naming it when it does), locked until Remove or destruction.
  static TableJournal Create(platform::FileSystem& files, const std::string& path);
  // Opens a journal left at path, locked, and reads its entries. None when
  // no journal is there, or when its first bytes are neither the header nor
  // zeros (a file of another program, left alone); a header missing or cut
  // short by a power cut gives no entries. When another user holds it, the
  // lock is tried retryCount more times, waitMs apart, and then refused with
  // STRATA_OSEACCES.
  static std::optional<TableJournal> OpenLeftover(platform::FileSystem& files,
                                                  const std::string& path, int retryCount,
                                                  std::uint32_t waitMs);

  // Looks at the journal at path without taking it over or changing it
  // (its share lock is taken shared for the moment of reading). A journal
  // that cannot be read is Interrupted: only a writer can tell more.
  // entries, when given, receives what an Interrupted journal records.
  static JournalState Inspect(platform::FileSystem& files, const std::string& path,
                              std::vector<JournalEntry>* entries = nullptr);

  TableJournal(TableJournal&&) noexcept;
  TableJournal& operator=(TableJournal&&) noexcept;
  // Closes the file and leaves it in place: the change it records is then
  // recovered by the next user of the table.
  ~TableJournal();

  const std::string& Path() const { return path_; }
  const std::vector<JournalEntry>& Entries() const { return entries_; }

  // Adds entries and makes them durable (the file, and with the first
  // entries its directory) before returning. Raises STRATA_WRITEERR naming the
  // journal.
  void Append(const std::vector<JournalEntry>& entries);
  // Ends the journal: empties (from then on it records nothing), closes and
  // deletes the file and, with syncDirectory, makes the deletion durable.
  // Someone who opened the file before it went finds it empty, which means
  // nothing to recover. After a failure it may be called again.
  void Remove(bool syncDirectory = true);

  // The entries of a journal image, up to the first damaged one.
  static std::vector<JournalEntry> Decode(const std::vector<std::uint8_t>& image);
  static std::vector<std::uint8_t> Encode(const JournalEntry& entry);
  static const std::vector<std::uint8_t>& Magic();

 private:
  TableJournal(platform::FileSystem& files, std::string path,
               std::unique_ptr<platform::FileHandle> handle);
  [[noreturn]] void RaiseError(std::uint16_t code) const;

  platform::FileSystem* files_;
  std::string path_;
  std::unique_ptr<platform::FileHandle> handle_;
  std::vector<JournalEntry> entries_;
  std::int64_t size_ = 0;
};

}  // namespace strata
