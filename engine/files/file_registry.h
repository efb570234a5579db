// FileRegistry: the process's store objects, one per path, in two lists
// (files on disk and files of the in-memory database), each sorted by path
// (blanks trimmed, letter case ignored) and guarded by its own lock for the
// whole of every operation. The registry creates and destroys every store and
// refuses conflicting uses inside the process without asking the OS: an
// exclusive request against an open store, any request against an exclusive
// one, and renaming, deleting or creating over an open file give -STRATA_OSEACCES.
//
// Operations return a handle id or 0, or a negated engine code. A disk store
// leaves its list when its last handle closes; a memory store stays with its
// content until it is deleted (or, when temporary, until its last close).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/base_file.h"
#include "platform/file_system.h"

namespace strata {

struct StoreOpenResult {
  std::int32_t handleId = 0;  // or a negated engine code
  TBaseFile* store = nullptr;
  bool readOnly = false;        // the effective mode
  bool forcedReadOnly = false;  // the file has the read-only attribute
};

class FileRegistry {
 public:
  // files: the file system of every disk store; null for the process's
  // current one, looked up at each use.
  explicit FileRegistry(platform::FileSystem* files = nullptr);
  ~FileRegistry();
  FileRegistry(const FileRegistry&) = delete;
  FileRegistry& operator=(const FileRegistry&) = delete;

  // Memory: the path is a memory store. Disk: the path is an open store or a
  // file (not a directory) on disk.
  bool FileExists(std::string_view path, bool inMemory);

  platform::FileSystem& Files() const { return platform::FileSystemOf(files_); }
  // Hands the registry a file system; only before any store is made.
  void UseFileSystem(platform::FileSystem& files) { files_ = &files; }

  // Creates the file exclusively, or empties an existing one that nobody
  // holds open; with failIfExists an existing file (of this list, or on disk
  // in any letter case) is refused with -STRATA_OSEACCES and left as it was.
  // Creation uses the request's Temporary, Hidden and FailIfExists; opening
  // its Exclusive, ReadOnly, Temporary and Hidden.
  StoreOpenResult CreateStoreFile(std::string_view path, bool inMemory, const FileModes& request);
  StoreOpenResult OpenStoreFile(std::string_view path, bool inMemory, const FileModes& request);
  std::int32_t CloseStoreFile(TBaseFile* store, bool inMemory, std::int32_t handleId);
  std::int32_t RenameStoreFile(std::string_view oldPath, bool inMemory, std::string_view newPath);
  std::int32_t DeleteStoreFile(std::string_view path, bool inMemory);

  // The file names matching a wildcard path such as "/data/*.dat" (letter
  // case ignored), sorted without regard to letter case; the extension is
  // removed unless keepExtension.
  std::vector<std::string> ListFiles(bool inMemory, std::string_view pattern, bool keepExtension);

  // directory + the first five characters of the thread id + a counter from
  // 0 upwards + extension: the first such name that does not exist.
  std::string MakeUniqueFileName(std::string_view directory, std::string_view extension,
                                 bool inMemory = false);

  // Frees every store of both lists (engine shutdown).
  void FreeAllStores();

 private:
  platform::FileSystem* files_;

  struct StoreList {
    std::mutex lock;
    std::vector<std::unique_ptr<TBaseFile>> stores;  // sorted by path key
  };

  StoreList& ListFor(bool inMemory) { return inMemory ? memoryStores_ : diskStores_; }
  static std::vector<std::unique_ptr<TBaseFile>>::iterator Find(StoreList& list,
                                                                std::string_view path);
  static void Insert(StoreList& list, std::unique_ptr<TBaseFile> store);

  StoreList diskStores_;
  StoreList memoryStores_;
};

}  // namespace strata
