#include "tests/support/simulated_disk.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "platform/os_error.h"

namespace strata::testing {

namespace {

using NodeId = std::int64_t;
constexpr NodeId kRoot = 1;
// Writes tear at sector boundaries.
constexpr std::int64_t kSectorSize = 512;
// How many levels of folders an image follows at most.
constexpr int kMaxDepth = 64;

// A change of a file's bytes or size not yet synced.
struct DataChange {
  bool Truncate = false;
  std::int64_t Offset = 0;  // the new size of a truncation
  std::shared_ptr<const std::vector<std::byte>> Bytes;
};

// A change of names not yet made durable by a sync of its Home folder.
struct NameChange {
  enum class Kind { Link, Unlink, Move };
  Kind What = Kind::Link;
  NodeId FromFolder = 0;  // Unlink, Move
  std::string FromName;
  NodeId ToFolder = 0;  // Link, Move
  std::string ToName;
  NodeId Node = 0;
  NodeId Home = 0;
};

struct Description;

struct Node {
  bool Folder = false;
  PagedBytes Current;
  PagedBytes Durable;
  std::vector<DataChange> Pending;
  std::map<std::string, NodeId> Entries;
  std::map<std::string, NodeId> DurableEntries;
  int Links = 0;
  std::vector<Description*> Open;
};

// One open file description: its share lock and byte-range locks.
struct Description {
  NodeId Node = 0;
  enum class Share { None, Shared, Exclusive } Lock = Share::None;
  bool ReadOnly = false;
  std::string Path;
  std::vector<std::pair<std::int64_t, std::int64_t>> Ranges;  // [begin, end)
};

bool Fail(int error) {
  platform::SetLastErrorNumber(error);
  return false;
}

unsigned char Lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    const std::string_view part = path.substr(at, end - at);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    at = end + 1;
  }
  return parts;
}

void Mix(std::uint64_t& hash, std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  hash ^= h + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
}

}  // namespace

struct SimulatedDisk::State {
  std::mutex Mutex;
  SimulatedDisk* Owner = nullptr;
  std::unordered_map<NodeId, Node> Nodes;
  NodeId NextNode = kRoot + 1;
  std::vector<NameChange> PendingNames;
  std::int64_t Operations = 0;
  bool Tracking = true;
  // The last operation, when it was a write: its file and its change.
  NodeId TornNode = 0;
  std::size_t TornChange = 0;
  bool LastWasWrite = false;

  State() {
    Node root;
    root.Folder = true;
    root.Links = 1;
    Nodes.emplace(kRoot, std::move(root));
  }

  Node& At(NodeId id) { return Nodes.at(id); }

  // The folder a path names (every component exact), or 0 with errno.
  NodeId FindFolder(const std::vector<std::string>& parts, std::size_t count) {
    NodeId folder = kRoot;
    for (std::size_t i = 0; i < count; ++i) {
      const Node& node = At(folder);
      const auto found = node.Entries.find(parts[i]);
      if (found == node.Entries.end()) {
        Fail(ENOENT);
        return 0;
      }
      if (!At(found->second).Folder) {
        Fail(ENOTDIR);
        return 0;
      }
      folder = found->second;
    }
    return folder;
  }

  // The folder holding a path's last name, and that name.
  NodeId ParentOf(const std::string& path, std::string& name) {
    const std::vector<std::string> parts = Components(path);
    if (parts.empty()) {
      Fail(EINVAL);
      return 0;
    }
    name = parts.back();
    return FindFolder(parts, parts.size() - 1);
  }

  NodeId FolderAt(const std::string& path) {
    const std::vector<std::string> parts = Components(path);
    return FindFolder(parts, parts.size());
  }

  // The exact name when it exists, else the lowest name differing only in
  // letter case, else the name unchanged.
  static std::string Resolve(const Node& folder, const std::string& name) {
    if (folder.Entries.contains(name)) return name;
    for (const auto& [candidate, id] : folder.Entries) {
      if (EqualsNoCase(candidate, name)) return candidate;  // the map is in byte order
    }
    return name;
  }

  static NodeId Lookup(const Node& folder, const std::string& name) {
    const auto found = folder.Entries.find(name);
    return found == folder.Entries.end() ? 0 : found->second;
  }

  bool Busy(const Node& node) const {
    return std::any_of(node.Open.begin(), node.Open.end(), [](const Description* d) {
      return d->Lock != Description::Share::None;
    });
  }

  NodeId NewNode(bool folder) {
    const NodeId id = NextNode++;
    Node node;
    node.Folder = folder;
    Nodes.emplace(id, std::move(node));
    return id;
  }

  void Record(NameChange change) {
    if (Tracking) PendingNames.push_back(std::move(change));
  }

  void Link(NodeId folder, const std::string& name, NodeId id) {
    At(folder).Entries[name] = id;
    ++At(id).Links;
    Record({NameChange::Kind::Link, 0, {}, folder, name, id, folder});
  }

  void Unlink(NodeId folder, const std::string& name) {
    Node& parent = At(folder);
    const NodeId id = parent.Entries.at(name);
    parent.Entries.erase(name);
    --At(id).Links;
    Record({NameChange::Kind::Unlink, folder, name, 0, {}, id, folder});
    Collect(id);
  }

  void Move(NodeId fromFolder, const std::string& fromName, NodeId toFolder,
            const std::string& toName) {
    const NodeId id = At(fromFolder).Entries.at(fromName);
    At(fromFolder).Entries.erase(fromName);
    At(toFolder).Entries[toName] = id;
    Record({NameChange::Kind::Move, fromFolder, fromName, toFolder, toName, id, toFolder});
  }

  // Without tracking, a file that lost its last name and handle goes.
  void Collect(NodeId id) {
    if (Tracking) return;
    const Node& node = At(id);
    if (node.Links == 0 && node.Open.empty() && (!node.Folder || node.Entries.empty())) {
      Nodes.erase(id);
    }
  }

  void AddChange(NodeId id, DataChange change) {
    Node& node = At(id);
    LastWasWrite = !change.Truncate;
    if (!Tracking) return;
    node.Pending.push_back(std::move(change));
    TornNode = id;
    TornChange = node.Pending.size() - 1;
  }

  DiskOperation Count(DiskOperation::Kind kind, std::string path, std::string target = {}) {
    if (kind != DiskOperation::Kind::Write) LastWasWrite = false;
    return DiskOperation{kind, std::move(path), std::move(target), ++Operations};
  }

  // For each pending name change, the earlier ones it depends on: the last
  // earlier change of each name it touches.
  std::vector<std::vector<std::size_t>> NameDependencies() const {
    std::map<std::pair<NodeId, std::string>, std::size_t> lastTouch;
    std::vector<std::vector<std::size_t>> dependencies(PendingNames.size());
    for (std::size_t i = 0; i < PendingNames.size(); ++i) {
      const NameChange& change = PendingNames[i];
      std::vector<std::pair<NodeId, std::string>> keys;
      if (change.What != NameChange::Kind::Link) keys.emplace_back(change.FromFolder, change.FromName);
      if (change.What != NameChange::Kind::Unlink) keys.emplace_back(change.ToFolder, change.ToName);
      for (const auto& key : keys) {
        const auto found = lastTouch.find(key);
        if (found != lastTouch.end()) dependencies[i].push_back(found->second);
      }
      for (const auto& key : keys) lastTouch[key] = i;
    }
    return dependencies;
  }

  static void Apply(const NameChange& change, std::map<NodeId, std::map<std::string, NodeId>>& entries) {
    switch (change.What) {
      case NameChange::Kind::Link:
        entries[change.ToFolder][change.ToName] = change.Node;
        break;
      case NameChange::Kind::Unlink:
        entries[change.FromFolder].erase(change.FromName);
        break;
      case NameChange::Kind::Move:
        entries[change.FromFolder].erase(change.FromName);
        entries[change.ToFolder][change.ToName] = change.Node;
        break;
    }
  }

  void MakeNamesDurable(NodeId folder) {
    const std::vector<std::vector<std::size_t>> dependencies = NameDependencies();
    std::vector<bool> durable(PendingNames.size(), false);
    for (std::size_t i = PendingNames.size(); i-- > 0;) {
      if (PendingNames[i].Home == folder) durable[i] = true;
      if (durable[i]) {
        for (const std::size_t d : dependencies[i]) durable[d] = true;
      }
    }
    std::vector<NameChange> remaining;
    for (std::size_t i = 0; i < PendingNames.size(); ++i) {
      if (!durable[i]) {
        remaining.push_back(std::move(PendingNames[i]));
        continue;
      }
      const NameChange& change = PendingNames[i];
      switch (change.What) {
        case NameChange::Kind::Link:
          At(change.ToFolder).DurableEntries[change.ToName] = change.Node;
          break;
        case NameChange::Kind::Unlink:
          At(change.FromFolder).DurableEntries.erase(change.FromName);
          break;
        case NameChange::Kind::Move:
          At(change.FromFolder).DurableEntries.erase(change.FromName);
          At(change.ToFolder).DurableEntries[change.ToName] = change.Node;
          break;
      }
    }
    PendingNames = std::move(remaining);
  }

  void MakeDataDurable(NodeId id) {
    Node& node = At(id);
    node.Durable = node.Current;
    node.Pending.clear();
    if (TornNode == id) TornNode = 0;
  }

  enum class View { Issued, Synced, Cut };

  struct Cut {
    std::mt19937_64* Random;
    double Survival;
    bool Tear;
  };

  PagedBytes ContentAfterCut(NodeId id, const Node& node, const Cut& cut) {
    PagedBytes content = node.Durable;
    std::uniform_real_distribution<double> chance(0, 1);
    for (std::size_t i = 0; i < node.Pending.size(); ++i) {
      const DataChange& change = node.Pending[i];
      const bool torn = cut.Tear && LastWasWrite && TornNode == id && TornChange == i;
      if (torn) {
        // The sectors of the write up to a boundary reach the disk, the
        // size it gave the file too.
        const auto length = static_cast<std::int64_t>(change.Bytes->size());
        std::vector<std::int64_t> ends = {change.Offset};
        for (std::int64_t b = (change.Offset / kSectorSize + 1) * kSectorSize;
             b < change.Offset + length; b += kSectorSize) {
          ends.push_back(b);
        }
        const std::int64_t end =
            ends[std::uniform_int_distribution<std::size_t>(0, ends.size() - 1)(*cut.Random)];
        content.Write(change.Offset,
                      std::span(*change.Bytes).first(static_cast<std::size_t>(end - change.Offset)));
        if (content.Size() < change.Offset + length) content.Resize(change.Offset + length);
        continue;
      }
      if (chance(*cut.Random) >= cut.Survival) continue;
      if (change.Truncate) {
        content.Resize(change.Offset);
        continue;
      }
      const std::int64_t end = change.Offset + static_cast<std::int64_t>(change.Bytes->size());
      if (end > content.Size() && chance(*cut.Random) < (1 - cut.Survival) / 2) {
        // The size reached the disk, the bytes did not.
        content.Resize(end);
        continue;
      }
      content.Write(change.Offset, *change.Bytes);
    }
    return content;
  }

  DiskImage Image(View view, const Cut& cut) {
    std::map<NodeId, std::map<std::string, NodeId>> entries;
    if (view == View::Cut) {
      for (const auto& [id, node] : Nodes) {
        if (node.Folder) entries[id] = node.DurableEntries;
      }
      const std::vector<std::vector<std::size_t>> dependencies = NameDependencies();
      std::vector<bool> kept(PendingNames.size(), false);
      std::uniform_real_distribution<double> chance(0, 1);
      for (std::size_t i = 0; i < PendingNames.size(); ++i) {
        kept[i] = std::all_of(dependencies[i].begin(), dependencies[i].end(),
                              [&](std::size_t d) { return kept[d]; }) &&
                  chance(*cut.Random) < cut.Survival;
        if (kept[i]) Apply(PendingNames[i], entries);
      }
    }
    DiskImage image;
    Walk(view, cut, kRoot, "/", entries, image, 0);
    return image;
  }

  void Walk(View view, const Cut& cut, NodeId folder, const std::string& path,
            const std::map<NodeId, std::map<std::string, NodeId>>& cutEntries, DiskImage& image,
            int depth) {
    if (depth > kMaxDepth) return;
    image.Folders.insert(path);
    const Node& node = At(folder);
    const std::map<std::string, NodeId>& names =
        view == View::Issued  ? node.Entries
        : view == View::Synced ? node.DurableEntries
                               : cutEntries.at(folder);
    for (const auto& [name, id] : names) {
      const Node& child = At(id);
      if (child.Folder) {
        Walk(view, cut, id, path + name + "/", cutEntries, image, depth + 1);
      } else if (view == View::Issued) {
        image.Files[path + name] = child.Current;
      } else if (view == View::Synced) {
        image.Files[path + name] = child.Durable;
      } else {
        image.Files[path + name] = ContentAfterCut(id, child, cut);
      }
    }
  }
};

std::uint64_t DiskImage::Fingerprint() const {
  std::uint64_t hash = 0;
  for (const std::string& folder : Folders) Mix(hash, folder);
  for (const auto& [path, bytes] : Files) {
    Mix(hash, path);
    bytes.AddToFingerprint(hash);
  }
  return hash;
}

std::string DiskImage::Listing() const {
  std::ostringstream out;
  for (const std::string& folder : Folders) out << folder << '\n';
  for (const auto& [path, bytes] : Files) out << path << ' ' << bytes.Size() << '\n';
  return out.str();
}

const char* KindName(DiskOperation::Kind kind) {
  switch (kind) {
    case DiskOperation::Kind::Create: return "create";
    case DiskOperation::Kind::Write: return "write";
    case DiskOperation::Kind::Truncate: return "truncate";
    case DiskOperation::Kind::SyncFile: return "sync";
    case DiskOperation::Kind::Delete: return "delete";
    case DiskOperation::Kind::Rename: return "rename";
    case DiskOperation::Kind::MakeFolder: return "make folder";
    case DiskOperation::Kind::RemoveFolder: return "remove folder";
    case DiskOperation::Kind::SyncFolder: return "sync folder";
  }
  return "?";
}

namespace {

using State = SimulatedDisk::State;

class SimulatedHandle final : public platform::FileHandle {
 public:
  SimulatedHandle(std::shared_ptr<State> state, std::unique_ptr<Description> description)
      : state_(std::move(state)), description_(std::move(description)) {}
  ~SimulatedHandle() override { Close(); }

  std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
    std::lock_guard lock(state_->Mutex);
    if (!description_) return Failed(EBADF);
    if (offset < 0) return Failed(EINVAL);
    return state_->At(description_->Node).Current.Read(offset, buffer);
  }

  std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
    DiskOperation done;
    {
      std::lock_guard lock(state_->Mutex);
      if (!description_ || description_->ReadOnly) return Failed(EBADF);
      if (offset < 0) return Failed(EINVAL);
      Node& node = state_->At(description_->Node);
      node.Current.Write(offset, data);
      state_->AddChange(description_->Node,
                        {false, offset,
                         state_->Tracking ? std::make_shared<const std::vector<std::byte>>(
                                                data.begin(), data.end())
                                          : nullptr});
      done = state_->Count(DiskOperation::Kind::Write, description_->Path);
    }
    Observe(done);
    return static_cast<std::int64_t>(data.size());
  }

  std::int64_t Size() override {
    std::lock_guard lock(state_->Mutex);
    if (!description_) return Failed(EBADF);
    return state_->At(description_->Node).Current.Size();
  }

  bool Truncate(std::int64_t size) override {
    DiskOperation done;
    {
      std::lock_guard lock(state_->Mutex);
      if (!description_ || description_->ReadOnly) return Fail(EBADF);
      if (size < 0) return Fail(EINVAL);
      state_->At(description_->Node).Current.Resize(size);
      state_->AddChange(description_->Node, {true, size, nullptr});
      done = state_->Count(DiskOperation::Kind::Truncate, description_->Path);
    }
    Observe(done);
    return true;
  }

  bool Sync() override {
    DiskOperation done;
    {
      std::lock_guard lock(state_->Mutex);
      if (!description_) return Fail(EBADF);
      if (state_->Tracking) state_->MakeDataDurable(description_->Node);
      done = state_->Count(DiskOperation::Kind::SyncFile, description_->Path);
    }
    Observe(done);
    return true;
  }

  bool LockRange(std::int64_t offset, std::int64_t length) override {
    std::lock_guard lock(state_->Mutex);
    if (!description_ || description_->ReadOnly) return Fail(EBADF);
    if (offset < 0 || length <= 0) return Fail(EINVAL);
    const std::int64_t end = offset + length;
    for (const Description* other : state_->At(description_->Node).Open) {
      if (other == description_.get()) continue;
      for (const auto& [b, e] : other->Ranges) {
        if (b < end && offset < e) return Fail(EAGAIN);
      }
    }
    Remove(offset, end);
    description_->Ranges.emplace_back(offset, end);
    return true;
  }

  bool UnlockRange(std::int64_t offset, std::int64_t length) override {
    std::lock_guard lock(state_->Mutex);
    if (!description_) return Fail(EBADF);
    if (offset < 0 || length <= 0) return Fail(EINVAL);
    Remove(offset, offset + length);
    return true;
  }

  bool Close() override {
    std::lock_guard lock(state_->Mutex);
    if (!description_) return true;
    const NodeId id = description_->Node;
    std::vector<Description*>& open = state_->At(id).Open;
    open.erase(std::remove(open.begin(), open.end(), description_.get()), open.end());
    description_.reset();
    state_->Collect(id);
    return true;
  }

 private:
  static std::int64_t Failed(int error) {
    platform::SetLastErrorNumber(error);
    return -1;
  }

  // Takes [begin, end) out of this description's ranges.
  void Remove(std::int64_t begin, std::int64_t end) {
    std::vector<std::pair<std::int64_t, std::int64_t>> kept;
    for (const auto& [b, e] : description_->Ranges) {
      if (e <= begin || end <= b) {
        kept.emplace_back(b, e);
        continue;
      }
      if (b < begin) kept.emplace_back(b, begin);
      if (end < e) kept.emplace_back(end, e);
    }
    description_->Ranges = std::move(kept);
  }

  void Observe(const DiskOperation& done) {
    SimulatedDisk* owner = state_->Owner;
    if (owner != nullptr && owner->OnOperation) owner->OnOperation(done);
  }

  std::shared_ptr<State> state_;
  std::unique_ptr<Description> description_;
};

// Opens a description on a node after its share lock was checked.
std::unique_ptr<platform::FileHandle> OpenOn(const std::shared_ptr<State>& state, NodeId id,
                                             Description::Share share, bool readOnly,
                                             const std::string& path) {
  auto description = std::make_unique<Description>();
  description->Node = id;
  description->Lock = share;
  description->ReadOnly = readOnly;
  description->Path = path;
  state->At(id).Open.push_back(description.get());
  return std::make_unique<SimulatedHandle>(state, std::move(description));
}

}  // namespace

SimulatedDisk::SimulatedDisk() : state_(std::make_shared<State>()) { state_->Owner = this; }

SimulatedDisk::SimulatedDisk(const DiskImage& image) : SimulatedDisk() {
  for (const std::string& folder : image.Folders) {
    const std::vector<std::string> parts = Components(folder);
    NodeId at = kRoot;
    for (const std::string& part : parts) {
      Node& parent = state_->At(at);
      const auto found = parent.Entries.find(part);
      if (found != parent.Entries.end()) {
        at = found->second;
        continue;
      }
      const NodeId id = state_->NewNode(true);
      state_->At(at).Entries[part] = id;
      state_->At(at).DurableEntries[part] = id;
      state_->At(id).Links = 1;
      at = id;
    }
  }
  for (const auto& [path, bytes] : image.Files) {
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) continue;  // an image always holds its files' folders
    const NodeId id = state_->NewNode(false);
    Node& node = state_->At(id);
    node.Current = bytes;
    node.Durable = bytes;
    node.Links = 1;
    state_->At(folder).Entries[name] = id;
    state_->At(folder).DurableEntries[name] = id;
  }
}

SimulatedDisk::~SimulatedDisk() {
  std::lock_guard lock(state_->Mutex);
  state_->Owner = nullptr;
}

void SimulatedDisk::Observe(const DiskOperation& operation) {
  if (OnOperation) OnOperation(operation);
}

platform::OpenedFile SimulatedDisk::Open(const std::string& path,
                                         const platform::OpenRequest& request) {
  platform::OpenedFile opened;
  std::lock_guard lock(state_->Mutex);
  std::string name;
  const NodeId folder = state_->ParentOf(path, name);
  if (folder == 0) {
    Fail(ENOENT);
    return opened;
  }
  const Node& parent = state_->At(folder);
  const NodeId id = State::Lookup(parent, State::Resolve(parent, name));
  if (id == 0) {
    Fail(ENOENT);
    return opened;
  }
  const Node& node = state_->At(id);
  if (node.Folder) {
    Fail(EISDIR);
    return opened;
  }
  for (const Description* other : node.Open) {
    if (other->Lock == Description::Share::Exclusive ||
        (request.exclusive && other->Lock != Description::Share::None)) {
      Fail(EAGAIN);
      return opened;
    }
  }
  opened.handle = OpenOn(state_, id,
                         request.exclusive ? Description::Share::Exclusive
                                           : Description::Share::Shared,
                         request.readOnly, path);
  opened.readOnly = request.readOnly;
  return opened;
}

std::unique_ptr<platform::FileHandle> SimulatedDisk::CreateAlways(const std::string& path) {
  std::unique_ptr<platform::FileHandle> handle;
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) return nullptr;
    NodeId id = State::Lookup(state_->At(folder), name);
    if (id != 0) {
      Node& node = state_->At(id);
      if (node.Folder) {
        Fail(EISDIR);
        return nullptr;
      }
      if (state_->Busy(node)) {
        Fail(EAGAIN);
        return nullptr;
      }
      node.Current.Resize(0);
      state_->AddChange(id, {true, 0, nullptr});
    } else {
      id = state_->NewNode(false);
      state_->Link(folder, name, id);
    }
    handle = OpenOn(state_, id, Description::Share::Exclusive, false, path);
    done = state_->Count(DiskOperation::Kind::Create, path);
  }
  Observe(done);
  return handle;
}

std::unique_ptr<platform::FileHandle> SimulatedDisk::CreateNew(const std::string& path) {
  std::unique_ptr<platform::FileHandle> handle;
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) return nullptr;
    const Node& parent = state_->At(folder);
    if (State::Lookup(parent, State::Resolve(parent, name)) != 0) {
      Fail(EEXIST);
      return nullptr;
    }
    const NodeId id = state_->NewNode(false);
    state_->Link(folder, name, id);
    handle = OpenOn(state_, id, Description::Share::Exclusive, false, path);
    done = state_->Count(DiskOperation::Kind::Create, path);
  }
  Observe(done);
  return handle;
}

bool SimulatedDisk::Delete(const std::string& path) {
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) return false;
    const std::string found = State::Resolve(state_->At(folder), name);
    const NodeId id = State::Lookup(state_->At(folder), found);
    if (id == 0) return Fail(ENOENT);
    if (state_->At(id).Folder) return Fail(EISDIR);
    if (state_->Busy(state_->At(id))) return Fail(EAGAIN);
    state_->Unlink(folder, found);
    done = state_->Count(DiskOperation::Kind::Delete, path);
  }
  Observe(done);
  return true;
}

bool SimulatedDisk::Rename(const std::string& from, const std::string& to) {
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string fromName;
    const NodeId fromFolder = state_->ParentOf(from, fromName);
    if (fromFolder == 0) return false;
    const std::string source = State::Resolve(state_->At(fromFolder), fromName);
    const NodeId id = State::Lookup(state_->At(fromFolder), source);
    if (id == 0) return Fail(ENOENT);
    std::string toName;
    const NodeId toFolder = state_->ParentOf(to, toName);
    if (toFolder == 0) return false;
    const std::string existing = State::Resolve(state_->At(toFolder), toName);
    const bool sameFile = toFolder == fromFolder && existing == source;
    if (existing != toName && !sameFile) return Fail(EEXIST);
    if (state_->At(id).Folder) return Fail(EISDIR);
    if (state_->Busy(state_->At(id))) return Fail(EAGAIN);
    if (State::Lookup(state_->At(toFolder), toName) != 0) return Fail(EEXIST);
    state_->Move(fromFolder, source, toFolder, toName);
    done = state_->Count(DiskOperation::Kind::Rename, from, to);
  }
  Observe(done);
  return true;
}

bool SimulatedDisk::FileExists(const std::string& path) {
  std::lock_guard lock(state_->Mutex);
  std::string name;
  const NodeId folder = state_->ParentOf(path, name);
  if (folder == 0) return false;
  const Node& parent = state_->At(folder);
  const NodeId id = State::Lookup(parent, State::Resolve(parent, name));
  return id != 0 && !state_->At(id).Folder;
}

namespace {

bool ListEntries(State& state, const std::string& directory, std::string_view pattern,
                 bool folders, std::vector<std::string>& names) {
  names.clear();
  std::lock_guard lock(state.Mutex);
  const NodeId folder = state.FolderAt(directory);
  if (folder == 0) return false;
  for (const auto& [name, id] : state.At(folder).Entries) {
    if (state.At(id).Folder == folders && platform::MatchesFilePattern(name, pattern)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return platform::FileNameLess(a, b); });
  return true;
}

}  // namespace

bool SimulatedDisk::ListFiles(const std::string& directory, std::string_view pattern,
                              std::vector<std::string>& names) {
  return ListEntries(*state_, directory, pattern, false, names);
}

bool SimulatedDisk::ListDirectories(const std::string& directory, std::string_view pattern,
                                    std::vector<std::string>& names) {
  return ListEntries(*state_, directory, pattern, true, names);
}

bool SimulatedDisk::CreateDirectory(const std::string& path) {
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) return false;
    if (State::Lookup(state_->At(folder), name) != 0) return Fail(EEXIST);
    state_->Link(folder, name, state_->NewNode(true));
    done = state_->Count(DiskOperation::Kind::MakeFolder, path);
  }
  Observe(done);
  return true;
}

bool SimulatedDisk::RemoveDirectory(const std::string& path) {
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    std::string name;
    const NodeId folder = state_->ParentOf(path, name);
    if (folder == 0) return false;
    const NodeId id = State::Lookup(state_->At(folder), name);
    if (id == 0) return Fail(ENOENT);
    if (!state_->At(id).Folder) return Fail(ENOTDIR);
    if (!state_->At(id).Entries.empty()) return Fail(ENOTEMPTY);
    state_->Unlink(folder, name);
    done = state_->Count(DiskOperation::Kind::RemoveFolder, path);
  }
  Observe(done);
  return true;
}

bool SimulatedDisk::SyncDirectory(const std::string& directory) {
  DiskOperation done;
  {
    std::lock_guard lock(state_->Mutex);
    const NodeId folder = state_->FolderAt(directory);
    if (folder == 0) return false;
    if (state_->Tracking) state_->MakeNamesDurable(folder);
    done = state_->Count(DiskOperation::Kind::SyncFolder, directory);
  }
  Observe(done);
  return true;
}

std::int64_t SimulatedDisk::Operations() const {
  std::lock_guard lock(state_->Mutex);
  return state_->Operations;
}

void SimulatedDisk::SetTracking(bool on) {
  std::lock_guard lock(state_->Mutex);
  if (!on && state_->Tracking) {
    state_->PendingNames.clear();
    for (auto& [id, node] : state_->Nodes) node.Pending.clear();
  }
  if (on && !state_->Tracking) {
    // Tracking starts from everything being durable.
    for (auto& [id, node] : state_->Nodes) {
      node.Durable = node.Current;
      node.DurableEntries = node.Entries;
    }
  }
  state_->Tracking = on;
}

DiskImage SimulatedDisk::Issued() const {
  std::lock_guard lock(state_->Mutex);
  return state_->Image(State::View::Issued, State::Cut{nullptr, 1, false});
}

DiskImage SimulatedDisk::Synced() const {
  std::lock_guard lock(state_->Mutex);
  return state_->Image(State::View::Synced, State::Cut{nullptr, 1, false});
}

DiskImage SimulatedDisk::PowerCut(std::mt19937_64& random, double survival,
                                  bool tearLastWrite) const {
  std::lock_guard lock(state_->Mutex);
  return state_->Image(State::View::Cut, State::Cut{&random, survival, tearLastWrite});
}

void SimulatedDisk::SyncEverything() {
  std::lock_guard lock(state_->Mutex);
  for (const NameChange& change : state_->PendingNames) {
    switch (change.What) {
      case NameChange::Kind::Link:
        state_->At(change.ToFolder).DurableEntries[change.ToName] = change.Node;
        break;
      case NameChange::Kind::Unlink:
        state_->At(change.FromFolder).DurableEntries.erase(change.FromName);
        break;
      case NameChange::Kind::Move:
        state_->At(change.FromFolder).DurableEntries.erase(change.FromName);
        state_->At(change.ToFolder).DurableEntries[change.ToName] = change.Node;
        break;
    }
  }
  state_->PendingNames.clear();
  for (auto& [id, node] : state_->Nodes) {
    node.Durable = node.Current;
    node.Pending.clear();
  }
  state_->TornNode = 0;
}

void SimulatedDisk::PutFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(state_->Mutex);
  const std::vector<std::string> parts = Components(path);
  if (parts.empty()) return;
  NodeId folder = kRoot;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    NodeId next = State::Lookup(state_->At(folder), parts[i]);
    if (next == 0) {
      next = state_->NewNode(true);
      state_->At(folder).Entries[parts[i]] = next;
      state_->At(folder).DurableEntries[parts[i]] = next;
      state_->At(next).Links = 1;
    }
    folder = next;
  }
  NodeId id = State::Lookup(state_->At(folder), parts.back());
  if (id == 0) {
    id = state_->NewNode(false);
    state_->At(folder).Entries[parts.back()] = id;
    state_->At(folder).DurableEntries[parts.back()] = id;
    state_->At(id).Links = 1;
  }
  Node& node = state_->At(id);
  node.Current = PagedBytes();
  node.Current.Write(0, std::as_bytes(bytes));
  node.Durable = node.Current;
  node.Pending.clear();
}

std::vector<std::uint8_t> SimulatedDisk::FileBytes(const std::string& path) const {
  std::lock_guard lock(state_->Mutex);
  std::string name;
  const NodeId folder = state_->ParentOf(path, name);
  if (folder == 0) return {};
  const Node& parent = state_->At(folder);
  const NodeId id = State::Lookup(parent, State::Resolve(parent, name));
  if (id == 0 || state_->At(id).Folder) return {};
  return state_->At(id).Current.All();
}

std::vector<std::string> SimulatedDisk::AllFiles() const {
  const DiskImage image = Issued();
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : image.Files) paths.push_back(path);
  return paths;
}

}  // namespace strata::testing
