#include "engine/files/file_registry.h"

#include <algorithm>

#include "engine/errors/error_codes.h"
#include "engine/files/memory_file.h"
#include "engine/files/physical_file.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace strata {

namespace {

constexpr std::int32_t kMissing = -static_cast<std::int32_t>(STRATA_OSENOENT);
constexpr std::int32_t kDenied = -static_cast<std::int32_t>(STRATA_OSEACCES);

// Opens a store nobody holds open with the modes of the request; what the
// store found of its file (ForcedReadOnly) is left to Open.
std::int32_t OpenAsRequested(TBaseFile& store, const FileModes& request) {
  store.Exclusive = request.Exclusive;
  store.Temporary = request.Temporary;
  store.Hidden = request.Hidden;
  store.ReadOnly = request.ReadOnly;
  return store.Open();
}

StoreOpenResult Opened(TBaseFile& store, std::int32_t handleId) {
  return {.handleId = handleId,
          .store = &store,
          .readOnly = store.ReadOnly,
          .forcedReadOnly = store.ForcedReadOnly};
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares two paths as the lists order them: trimmed, letter case ignored.
int ComparePaths(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto ca = static_cast<unsigned char>(Lower(a[i]));
    const auto cb = static_cast<unsigned char>(Lower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string FileNamePart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string WithoutExtension(std::string name) {
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::unique_ptr<TBaseFile> NewStore(std::string_view path, bool inMemory,
                                    platform::FileSystem* files) {
  if (inMemory) return std::make_unique<TMemoryFile>(std::string(path));
  return std::make_unique<TPhysicalFile>(std::string(path), files);
}

}  // namespace

FileRegistry::FileRegistry(platform::FileSystem* files) : files_(files) {}

FileRegistry::~FileRegistry() { FreeAllStores(); }

std::vector<std::unique_ptr<TBaseFile>>::iterator FileRegistry::Find(StoreList& list,
                                                                     std::string_view path) {
  const auto it = std::lower_bound(list.stores.begin(), list.stores.end(), path,
                                   [](const std::unique_ptr<TBaseFile>& store, std::string_view key) {
                                     return ComparePaths(store->Path(), key) < 0;
                                   });
  if (it != list.stores.end() && ComparePaths((*it)->Path(), path) == 0) return it;
  return list.stores.end();
}

void FileRegistry::Insert(StoreList& list, std::unique_ptr<TBaseFile> store) {
  const auto it = std::lower_bound(list.stores.begin(), list.stores.end(), store->Path(),
                                   [](const std::unique_ptr<TBaseFile>& s, const std::string& key) {
                                     return ComparePaths(s->Path(), key) < 0;
                                   });
  list.stores.insert(it, std::move(store));
}

bool FileRegistry::FileExists(std::string_view path, bool inMemory) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  if (Find(list, path) != list.stores.end()) return true;
  return !inMemory && Files().FileExists(std::string(path));
}

StoreOpenResult FileRegistry::CreateStoreFile(std::string_view path, bool inMemory,
                                              const FileModes& request) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  StoreOpenResult result;
  std::unique_ptr<TBaseFile> fresh;
  TBaseFile* store = nullptr;
  const auto found = Find(list, path);
  if (found != list.stores.end()) {
    if ((*found)->OpenCount() > 0 || request.FailIfExists) {
      result.handleId = kDenied;
      return result;
    }
    store = found->get();
  } else {
    fresh = NewStore(path, inMemory, files_);
    store = fresh.get();
  }
  FileModes& modes = *store;
  modes = request;
  modes.Exclusive = true;
  modes.ReadOnly = false;
  modes.ForcedReadOnly = false;
  result.handleId = store->CreateNew();
  if (result.handleId < 0) return result;
  if (fresh != nullptr) Insert(list, std::move(fresh));
  result.store = store;
  return result;
}

StoreOpenResult FileRegistry::OpenStoreFile(std::string_view path, bool inMemory,
                                            const FileModes& request) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  StoreOpenResult result;
  const auto found = Find(list, path);
  if (found != list.stores.end()) {
    TBaseFile& store = **found;
    if (store.OpenCount() == 0) {
      result.handleId = OpenAsRequested(store, request);
    } else if (store.Exclusive || request.Exclusive) {
      result.handleId = kDenied;
      return result;
    } else {
      // The one OS file is shared: a user asking for writing over a file
      // that could only be opened for reading gets a read-only handle.
      store.ReadOnly = request.ReadOnly || store.HandleReadOnly();
      result.handleId = store.Open();
    }
    if (result.handleId >= 0) result = Opened(store, result.handleId);
    return result;
  }
  if (inMemory) {
    result.handleId = kMissing;
    return result;
  }
  auto store = std::make_unique<TPhysicalFile>(std::string(path), files_);
  result.handleId = OpenAsRequested(*store, request);
  if (result.handleId < 0) return result;
  result = Opened(*store, result.handleId);
  Insert(list, std::move(store));
  return result;
}

std::int32_t FileRegistry::CloseStoreFile(TBaseFile* store, bool inMemory, std::int32_t handleId) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  const auto found = std::find_if(list.stores.begin(), list.stores.end(),
                                  [store](const std::unique_ptr<TBaseFile>& s) { return s.get() == store; });
  if (found == list.stores.end() || store->OpenCount() == 0) return kMissing;
  std::int32_t result = store->Close(handleId);
  if (store->OpenCount() > 0) return result;
  if (store->Temporary) {
    const std::int32_t deleted = store->Delete();
    if (result == 0) result = deleted;
    list.stores.erase(found);
  } else if (!inMemory) {
    list.stores.erase(found);
  }
  return result;
}

std::int32_t FileRegistry::RenameStoreFile(std::string_view oldPath, bool inMemory,
                                           std::string_view newPath) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  if (Find(list, newPath) != list.stores.end()) return kDenied;
  const auto found = Find(list, oldPath);
  if (found == list.stores.end()) {
    if (inMemory) return kMissing;
    TPhysicalFile probe{std::string(oldPath), files_};
    return probe.Rename(std::string(newPath));
  }
  if ((*found)->OpenCount() > 0) return kDenied;
  const std::int32_t result = (*found)->Rename(std::string(newPath));
  if (result < 0) return result;
  std::unique_ptr<TBaseFile> moved = std::move(*found);
  list.stores.erase(found);
  Insert(list, std::move(moved));
  return 0;
}

std::int32_t FileRegistry::DeleteStoreFile(std::string_view path, bool inMemory) {
  StoreList& list = ListFor(inMemory);
  std::lock_guard guard(list.lock);
  const auto found = Find(list, path);
  if (found == list.stores.end()) {
    if (inMemory) return kMissing;
    TPhysicalFile probe{std::string(path), files_};
    return probe.Delete();
  }
  if ((*found)->OpenCount() > 0) return kDenied;
  const std::int32_t result = (*found)->Delete();
  if (result < 0) return result;
  list.stores.erase(found);
  return 0;
}

std::vector<std::string> FileRegistry::ListFiles(bool inMemory, std::string_view pattern,
                                                 bool keepExtension) {
  std::vector<std::string> names;
  if (inMemory) {
    std::lock_guard guard(memoryStores_.lock);
    for (const auto& store : memoryStores_.stores) {
      if (platform::MatchesFilePattern(Trim(store->Path()), Trim(pattern))) {
        names.push_back(FileNamePart(Trim(store->Path())));
      }
    }
  } else {
    const std::size_t slash = pattern.rfind('/');
    const std::string directory(slash == std::string_view::npos ? std::string_view()
                                                                : pattern.substr(0, slash + 1));
    const std::string_view namePattern =
        slash == std::string_view::npos ? pattern : pattern.substr(slash + 1);
    Files().ListFiles(directory, namePattern, names);
  }
  if (!keepExtension) {
    for (std::string& name : names) name = WithoutExtension(std::move(name));
  }
  return names;
}

std::string FileRegistry::MakeUniqueFileName(std::string_view directory, std::string_view extension,
                                             bool inMemory) {
  const std::string prefix = std::string(directory) + platform::ThreadIdText().substr(0, 5);
  for (std::uint64_t counter = 0;; ++counter) {
    std::string name = prefix + std::to_string(counter) + std::string(extension);
    if (!FileExists(name, inMemory)) return name;
  }
}

void FileRegistry::FreeAllStores() {
  for (StoreList* list : {&diskStores_, &memoryStores_}) {
    std::lock_guard guard(list->lock);
    list->stores.clear();
  }
}

}  // namespace strata
