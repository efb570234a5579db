#include "engine/formats/index_tree.h"

#include <algorithm>

#include "engine/errors/engine_error.h"

namespace strata {

namespace {

constexpr std::size_t kMaxDepth = 64;

}  // namespace

TIndexTree::TIndexTree(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                       TDataCursor* cursor)
    : file_(file), slot_(slot), layout_(layout), cursor_(cursor) {
  format_ = PageFormat::Of(file.Descriptor(slot));
  const int payload = file.PayloadSize();
  const int limit = payload / 3 + (format_.Unique ? 0 : 4);
  if (format_.KeyLength != layout.KeyLength() || format_.FullText != layout.FullText() ||
      format_.Unique != layout.Unique() || format_.KeyLength < 1 ||
      format_.KeyLength > limit) {
    file.RaiseHeaderCorrupt();
  }
}

TPage& TIndexTree::Fetch(std::int32_t page, BufferPin& pin) {
  return file_.FetchPage(cursor_, page, format_, pin);
}

int TIndexTree::SearchPage(const TPage& page, const std::uint8_t* key) const {
  int lo = 0;
  int hi = page.EntryCount() - 1;
  int result = -1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = Compare(page.Key(mid).data(), key);
    if (c <= 0) {
      result = mid;
      if (c == 0) break;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return result;
}

void TIndexTree::Descend(const std::uint8_t* key, Path& path) {
  path.clear();
  std::int32_t number = file_.RootPage(slot_);
  for (std::size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) file_.RaiseCorruptError();
    Level level;
    TPage& page = Fetch(number, level.pin);
    const std::uint8_t type = page.PageType();
    const bool typeOk = depth == 0 ? (type == kPageRootNode || type == kPageRootLeaf)
                                   : (type == kPageNode || type == kPageLeaf);
    if (!typeOk || page.EntryCount() == 0) file_.RaiseCorruptError();
    level.pos = SearchPage(page, key);
    const bool leaf = page.IsLeaf();
    if (!leaf) {
      level.pos = std::max(level.pos, 0);
      number = page.Pointer(level.pos);
    }
    path.push_back(std::move(level));
    if (leaf) return;
  }
}

void TIndexTree::PropagateFirstKey(Path& path, std::size_t level) {
  while (level > 0) {
    Level& parent = path[level - 1];
    At(path, level - 1).SetKey(parent.pos, At(path, level).Key(0));
    if (parent.pos != 0) return;
    --level;
  }
}

void TIndexTree::Insert(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  if (file_.RootPage(slot_) == 0) {
    BufferPin pin;
    TPage& root = file_.AllocatePage(cursor_, format_, kPageRootLeaf, pin);
    root.InsertEntry(0, key, recordNumber, 0);
    file_.SetRootPage(slot_, root.Number);
    return;
  }
  Path path;
  Descend(key.data(), path);
  const std::size_t leafLevel = path.size() - 1;
  for (std::size_t level = 0; level < leafLevel; ++level) {
    At(path, level).AddKeyCount(path[level].pos, 1);
  }
  const int at = path[leafLevel].pos + 1;
  At(path, leafLevel).InsertEntry(at, key, recordNumber, 0);
  if (at == 0) PropagateFirstKey(path, leafLevel);
  for (std::size_t level = leafLevel + 1; level-- > 0;) {
    if (!At(path, level).Overflow()) break;
    const bool root = level == 0;
    Split(path, level);
    if (root) break;
  }
}

void TIndexTree::Split(Path& path, std::size_t level) {
  TPage& a = At(path, level);
  const bool wasRoot = a.IsRoot();
  const bool leaf = a.IsLeaf();
  const int n = a.EntryCount();
  const int keep = n - n / 2;
  BufferPin pinB;
  TPage& b = file_.AllocatePage(cursor_, format_, leaf ? kPageLeaf : kPageNode, pinB);
  a.SetPageType(leaf ? kPageLeaf : kPageNode);
  a.MoveEntries(keep, n - keep, b, 0);

  const std::int32_t oldNext = a.NextPage();
  b.SetNextPage(oldNext);
  if (oldNext != 0) {
    BufferPin pin;
    TPage& next = Fetch(oldNext, pin);
    if (next.PrevPage() != a.Number) file_.RaiseCorruptError();
    next.SetPrevPage(b.Number);
  }
  a.SetNextPage(b.Number);
  b.SetPrevPage(a.Number);

  if (a.IsCompressedLeaf()) {
    const int payload = file_.PayloadSize();
    if (a.UsedBytesWide() > payload) {
      while (a.UsedBytesWide() > payload && a.EntryCount() > 1) {
        a.MoveEntries(a.EntryCount() - 1, 1, b, 0);
      }
    } else {
      while (b.UsedBytesWide() > payload && b.EntryCount() > 1) {
        b.MoveEntries(0, 1, a, a.EntryCount());
      }
    }
    if (a.UsedBytesWide() > payload || b.UsedBytesWide() > payload) file_.RaiseCorruptError();
  }

  if (wasRoot) {
    BufferPin pinRoot;
    TPage& root = file_.AllocatePage(cursor_, format_, kPageRootNode, pinRoot);
    root.InsertEntry(0, a.Key(0), a.Number, 0);
    root.SetKeyCount(0, a.PageKeyCount());
    root.InsertEntry(1, b.Key(0), b.Number, 0);
    root.SetKeyCount(1, b.PageKeyCount());
    file_.SetRootPage(slot_, root.Number);
    return;
  }
  TPage& parent = At(path, level - 1);
  const int p = path[level - 1].pos;
  parent.SetKeyCount(p, a.PageKeyCount());
  parent.InsertEntry(p + 1, b.Key(0), b.Number, 0);
  parent.SetKeyCount(p + 1, b.PageKeyCount());
}

std::optional<std::int32_t> TIndexTree::Find(std::span<const std::uint8_t> key) {
  if (file_.RootPage(slot_) == 0) return std::nullopt;
  Path path;
  Descend(key.data(), path);
  TPage& leaf = At(path, path.size() - 1);
  const int pos = path.back().pos;
  if (pos < 0 || Compare(leaf.Key(pos).data(), key.data()) != 0) return std::nullopt;
  return leaf.Pointer(pos);
}

void TIndexTree::CheckUnique(std::span<const std::uint8_t> key) {
  if (Find(key)) {
    RaiseEngineError(STRATA_KEYVIOL, {}, {}, file_.Owner().ErrorDatabaseName(),
                     file_.Owner().ErrorTableName(), {}, file_.IndexName(slot_));
  }
}

std::int64_t TIndexTree::KeyTotal() {
  const std::int32_t root = file_.RootPage(slot_);
  if (root == 0) return 0;
  BufferPin pin;
  return Fetch(root, pin).PageKeyCount();
}

void TIndexTree::Delete(std::span<const std::uint8_t> key) {
  if (file_.RootPage(slot_) == 0) file_.RaiseCorruptError();
  Path path;
  Descend(key.data(), path);
  const std::size_t leafLevel = path.size() - 1;
  TPage& leaf = At(path, leafLevel);
  const int pos = std::max(path[leafLevel].pos, 0);
  // The index must hold the key: otherwise it does not match the records.
  if (Compare(leaf.Key(pos).data(), key.data()) != 0) file_.RaiseCorruptError();
  for (std::size_t level = 0; level < leafLevel; ++level) {
    At(path, level).AddKeyCount(path[level].pos, -1);
  }
  leaf.DeleteEntry(pos);
  if (leaf.EntryCount() > 0) {
    if (pos == 0) PropagateFirstKey(path, leafLevel);
    return;
  }
  if (leafLevel == 0) {
    file_.FreePage(leaf);
    file_.SetRootPage(slot_, 0);
    return;
  }
  UnlinkAndFree(leaf);
  RemoveEntry(path, leafLevel - 1, path[leafLevel - 1].pos);
}

void TIndexTree::UnlinkAndFree(TPage& page) {
  const std::int32_t prev = page.PrevPage();
  const std::int32_t next = page.NextPage();
  if (prev != 0) {
    BufferPin pin;
    TPage& left = Fetch(prev, pin);
    if (left.NextPage() != page.Number) file_.RaiseCorruptError();
    left.SetNextPage(next);
  }
  if (next != 0) {
    BufferPin pin;
    TPage& right = Fetch(next, pin);
    if (right.PrevPage() != page.Number) file_.RaiseCorruptError();
    right.SetPrevPage(prev);
  }
  file_.FreePage(page);
}

void TIndexTree::RemoveEntry(Path& path, std::size_t level, int pos) {
  TPage& node = At(path, level);
  node.DeleteEntry(pos);
  if (node.EntryCount() == 0) {
    if (level == 0) {
      file_.FreePage(node);
      file_.SetRootPage(slot_, 0);
      return;
    }
    UnlinkAndFree(node);
    RemoveEntry(path, level - 1, path[level - 1].pos);
    return;
  }
  if (pos == 0) PropagateFirstKey(path, level);
  if (level == 0) {
    CollapseRoot(path);
    return;
  }
  if (node.EntryCount() < node.Capacity() / 2) Rebalance(path, level);
}

void TIndexTree::Rebalance(Path& path, std::size_t level) {
  TPage& node = At(path, level);
  TPage& parent = At(path, level - 1);
  const int p = path[level - 1].pos;
  const int capacity = node.Capacity();
  if (p > 0) {
    // The left neighbour under the same parent.
    const std::int32_t leftNumber = parent.Pointer(p - 1);
    if (node.PrevPage() != leftNumber) file_.RaiseCorruptError();
    BufferPin pin;
    TPage& left = Fetch(leftNumber, pin);
    if (left.IsLeaf() || left.NextPage() != node.Number) file_.RaiseCorruptError();
    const int total = left.EntryCount() + node.EntryCount();
    if (total < capacity) {
      node.MoveEntries(0, node.EntryCount(), left, left.EntryCount());
      UnlinkAndFree(node);
      parent.SetKeyCount(p - 1, left.PageKeyCount());
      RemoveEntry(path, level - 1, p);
      return;
    }
    const int want = total - total / 2;  // the left page takes the larger half
    if (left.EntryCount() > want) {
      left.MoveEntries(want, left.EntryCount() - want, node, 0);
    } else if (left.EntryCount() < want) {
      node.MoveEntries(0, want - left.EntryCount(), left, left.EntryCount());
    }
    parent.SetKey(p, node.Key(0));
    parent.SetKeyCount(p, node.PageKeyCount());
    parent.SetKeyCount(p - 1, left.PageKeyCount());
    return;
  }
  // The first child: the right neighbour under the same parent, if any.
  if (parent.EntryCount() < 2) return;
  const std::int32_t rightNumber = parent.Pointer(1);
  if (node.NextPage() != rightNumber) file_.RaiseCorruptError();
  BufferPin pin;
  TPage& right = Fetch(rightNumber, pin);
  if (right.IsLeaf() || right.PrevPage() != node.Number) file_.RaiseCorruptError();
  const int total = right.EntryCount() + node.EntryCount();
  if (total < capacity) {
    node.MoveEntries(0, node.EntryCount(), right, 0);
    UnlinkAndFree(node);
    parent.SetKey(1, right.Key(0));
    parent.SetKeyCount(1, right.PageKeyCount());
    RemoveEntry(path, level - 1, 0);
    return;
  }
  const int want = total / 2;  // the node keeps the smaller half
  if (node.EntryCount() < want) {
    right.MoveEntries(0, want - node.EntryCount(), node, node.EntryCount());
  } else if (node.EntryCount() > want) {
    node.MoveEntries(want, node.EntryCount() - want, right, 0);
  }
  parent.SetKey(1, right.Key(0));
  parent.SetKeyCount(1, right.PageKeyCount());
  parent.SetKeyCount(0, node.PageKeyCount());
}

void TIndexTree::CollapseRoot(Path& path) {
  for (std::size_t guard = 0; guard < kMaxDepth; ++guard) {
    TPage& root = At(path, 0);
    if (root.IsLeaf() || root.EntryCount() != 1) return;
    Level child;
    TPage& page = Fetch(root.Pointer(0), child.pin);
    if (page.IsRoot() || page.PageType() > kPageLeaf) file_.RaiseCorruptError();
    page.SetPageType(page.IsLeaf() ? kPageRootLeaf : kPageRootNode);
    page.SetPrevPage(0);
    page.SetNextPage(0);
    file_.FreePage(root);
    file_.SetRootPage(slot_, page.Number);
    path.clear();
    path.push_back(std::move(child));
  }
}

void TIndexTree::DeleteAllPages() {
  const std::int32_t root = file_.RootPage(slot_);
  if (root != 0) {
    std::int64_t visited = 0;
    FreeSubtree(root, 0, visited);
  }
  file_.SetRootPage(slot_, 0);
}

void TIndexTree::FreeSubtree(std::int32_t number, int depth, std::int64_t& visited) {
  if (depth >= static_cast<int>(kMaxDepth) || ++visited > file_.UnitCount()) {
    file_.RaiseCorruptError();
  }
  std::vector<std::int32_t> children;
  {
    BufferPin pin;
    TPage& page = Fetch(number, pin);
    if (page.PageType() > kPageRootLeaf) file_.RaiseCorruptError();
    if (!page.IsLeaf()) {
      for (int i = 0; i < page.EntryCount(); ++i) children.push_back(page.Pointer(i));
    }
  }
  for (const std::int32_t child : children) FreeSubtree(child, depth + 1, visited);
  BufferPin pin;
  file_.FreePage(Fetch(number, pin));
}

}  // namespace strata
