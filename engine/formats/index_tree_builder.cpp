#include "engine/formats/index_tree_builder.h"

#include <stdexcept>

#include "engine/formats/index_file.h"

namespace strata {

namespace {

// Pages gathered before they are written in one piece.
constexpr std::size_t kWriteBytes = std::size_t{1} << 20;

}  // namespace

TIndexTreeBuilder::TIndexTreeBuilder(TIndexFile& file, int slot)
    : file_(file),
      slot_(slot),
      format_(PageFormat::Of(file.Descriptor(slot))),
      leaf_(std::make_unique<TPage>(file)) {
  if (file.RootPage(slot) != 0) throw std::logic_error("a tree is built into an empty slot");
  leaf_->Reset(format_, kPageLeaf);
  firstUnwritten_ = file.UnitCount() + 1;
}

TIndexTreeBuilder::~TIndexTreeBuilder() = default;

std::int32_t TIndexTreeBuilder::NewPageNumber() {
  file_.CheckAppend();
  const std::int32_t page = file_.UnitCount() + 1;
  file_.UnitAppended();
  return page;
}

void TIndexTreeBuilder::Add(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  const int at = leaf_->EntryCount();
  leaf_->InsertEntry(at, key, recordNumber, 0);
  if (leaf_->Overflow()) {
    leaf_->DeleteEntry(at);
    CloseLeaf();
    leaf_->InsertEntry(0, key, recordNumber, 0);
  }
  ++entries_;
}

void TIndexTreeBuilder::CloseLeaf() {
  // A closed leaf waits for its right neighbour's number before it is
  // written.
  const std::int32_t number = NewPageNumber();
  leaf_->Number = number;
  if (pending_) {
    pending_->SetNextPage(number);
    leaf_->SetPrevPage(pending_->Number);
    Emit(*pending_, leafKeys_, leaves_);
  }
  std::swap(pending_, leaf_);
  if (!leaf_) leaf_ = std::make_unique<TPage>(file_);
  leaf_->Reset(format_, kPageLeaf);
}

void TIndexTreeBuilder::Emit(TPage& page, std::vector<std::uint8_t>& firstKeys,
                             std::vector<Child>& children) {
  const std::span<const std::uint8_t> first = page.Key(0);
  firstKeys.insert(firstKeys.end(), first.begin(), first.end());
  children.push_back({page.Number, page.PageKeyCount()});
  const std::size_t size = static_cast<std::size_t>(file_.UnitSize());
  const std::size_t at = writes_.size();
  writes_.resize(at + size);
  page.SaveUnit(std::as_writable_bytes(std::span(writes_).subspan(at, size)));
  if (writes_.size() >= kWriteBytes) FlushWrites();
}

void TIndexTreeBuilder::FlushWrites() {
  if (writes_.empty()) return;
  file_.WriteAt(file_.UnitOffset(firstUnwritten_), std::as_bytes(std::span(writes_)));
  firstUnwritten_ += static_cast<std::int32_t>(writes_.size() / static_cast<std::size_t>(file_.UnitSize()));
  writes_.clear();
}

void TIndexTreeBuilder::BuildNodeLevel(const std::vector<std::uint8_t>& keys,
                                       const std::vector<Child>& children,
                                       std::vector<std::uint8_t>& levelKeys,
                                       std::vector<Child>& level) {
  const std::size_t k = format_.KeyLength;
  TPage page(file_);
  page.Reset(format_, kPageNode);
  const std::size_t capacity = static_cast<std::size_t>(page.Capacity());
  const std::size_t n = children.size();
  const std::size_t pages = (n + capacity - 1) / capacity;
  // Page sizes: full pages, the last two evened out when the last would
  // hold less than half a page.
  std::vector<std::size_t> sizes(pages, capacity);
  sizes.back() = n - capacity * (pages - 1);
  if (pages >= 2 && sizes.back() < capacity / 2) {
    const std::size_t total = capacity + sizes.back();
    sizes[pages - 2] = total - total / 2;
    sizes[pages - 1] = total / 2;
  }
  std::size_t child = 0;
  std::int32_t previous = 0;
  const std::int32_t first = file_.UnitCount() + 1;
  for (std::size_t p = 0; p < pages; ++p) {
    page.Reset(format_, pages == 1 ? kPageRootNode : kPageNode);
    page.Number = NewPageNumber();
    if (page.Number != first + static_cast<std::int32_t>(p)) {
      throw std::logic_error("index pages added while a tree was built");
    }
    page.SetPrevPage(previous);
    page.SetNextPage(p + 1 < pages ? page.Number + 1 : 0);
    for (std::size_t i = 0; i < sizes[p]; ++i, ++child) {
      page.InsertEntry(static_cast<int>(i), std::span(keys).subspan(child * k, k),
                       children[child].Page, static_cast<std::int32_t>(children[child].Keys));
    }
    previous = page.Number;
    Emit(page, levelKeys, level);
  }
}

void TIndexTreeBuilder::Finish() {
  if (leaf_->EntryCount() > 0) CloseLeaf();
  if (!pending_) {
    FlushWrites();
    return;
  }
  if (leaves_.empty()) pending_->SetPageType(kPageRootLeaf);
  Emit(*pending_, leafKeys_, leaves_);
  pending_.reset();

  std::vector<std::uint8_t> keys = std::move(leafKeys_);
  std::vector<Child> children = std::move(leaves_);
  while (children.size() > 1) {
    std::vector<std::uint8_t> levelKeys;
    std::vector<Child> level;
    BuildNodeLevel(keys, children, levelKeys, level);
    keys = std::move(levelKeys);
    children = std::move(level);
  }
  FlushWrites();
  file_.SetRootPage(slot_, children.front().Page);
}

}  // namespace strata
