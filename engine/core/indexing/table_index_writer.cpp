#include "engine/core/indexing/table_index_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/full_text_params.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/formats/index_tree.h"
#include "engine/formats/index_tree_check.h"
#include "engine/values/field_types.h"

namespace strata {

struct TableIndexWriter::Impl {
  TIndexFile& file;
  TDataCursor* cursor;
  std::string tableName;
  std::string databaseName;
  Collation collation;
  std::vector<IndexKeyLayout> layouts;  // slots 0 to the secondary count
  IndexKeyLayout textLayout;
  std::vector<const FieldDescriptor*> textFields;
  std::optional<FullTextWordSplitter> splitter;
  std::array<std::uint8_t, kMaxKeyBytes + kRecordIdSuffixLength> key{};
  std::array<std::uint8_t, kFullTextKeyLength> textKey{};
  // Held keys per slot: the key, then the record number big-endian.
  std::size_t holdBudget = 0;
  std::size_t heldBytes = 0;
  std::array<std::vector<std::uint8_t>, kIndexSlotCount> held;

  Impl(TIndexFile& f, TDataCursor* c) : file(f), cursor(c) {}

  const IndexKeyLayout& LayoutOf(int slot) const {
    return slot == static_cast<int>(kFullTextSlot) ? textLayout
                                                   : layouts.at(static_cast<std::size_t>(slot));
  }

  // The tree of a slot, its held keys in it first.
  TIndexTree Tree(int slot) {
    if (!held[static_cast<std::size_t>(slot)].empty()) Apply(slot);
    return TIndexTree(file, slot, LayoutOf(slot), cursor);
  }

  bool Holds(int slot) const {
    return holdBudget > 0 && (slot == static_cast<int>(kFullTextSlot) || !LayoutOf(slot).Unique());
  }

  // Inserts a key now, or holds it when the slot holds keys.
  void Insert(int slot, std::span<const std::uint8_t> k, std::int32_t recordNumber) {
    if (!Holds(slot)) {
      Tree(slot).Insert(k, recordNumber);
      return;
    }
    std::vector<std::uint8_t>& keys = held[static_cast<std::size_t>(slot)];
    keys.insert(keys.end(), k.begin(), k.end());
    for (int shift = 24; shift >= 0; shift -= 8) {
      keys.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(recordNumber) >> shift));
    }
    heldBytes += k.size() + 4;
    if (heldBytes > holdBudget) ApplyAll();
  }

  void Apply(int slot) {
    std::vector<std::uint8_t> keys;
    keys.swap(held[static_cast<std::size_t>(slot)]);
    const IndexKeyLayout& layout = LayoutOf(slot);
    const std::size_t length = layout.KeyLength();
    const std::size_t stride = length + 4;
    heldBytes -= keys.size();
    std::vector<const std::uint8_t*> order(keys.size() / stride);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = keys.data() + i * stride;
    std::sort(order.begin(), order.end(), [&](const std::uint8_t* a, const std::uint8_t* b) {
      const int c = layout.CompareKeys(a, b, length);
      return c != 0 ? c < 0 : std::memcmp(a + length, b + length, 4) < 0;
    });
    TIndexTree tree(file, slot, layout, cursor);
    for (const std::uint8_t* entry : order) {
      const std::int32_t recordNumber = static_cast<std::int32_t>(
          (std::uint32_t{entry[length]} << 24) | (std::uint32_t{entry[length + 1]} << 16) |
          (std::uint32_t{entry[length + 2]} << 8) | entry[length + 3]);
      tree.Insert(std::span(entry, length), recordNumber);
    }
  }

  void ApplyAll() {
    for (int slot = 0; slot < static_cast<int>(kIndexSlotCount); ++slot) {
      if (!held[static_cast<std::size_t>(slot)].empty()) Apply(slot);
    }
  }

  std::span<const std::uint8_t> Build(int slot, std::span<const std::uint8_t> record,
                                      std::int32_t recordId) {
    const IndexKeyLayout& layout = layouts.at(static_cast<std::size_t>(slot));
    layout.BuildKey(record, recordId, key);
    return {key.data(), layout.KeyLength()};
  }

  std::span<const std::uint8_t> BuildText(std::uint16_t fieldNumber, std::string_view word,
                                          std::int32_t recordId) {
    BuildTextKey(fieldNumber, word, recordId, collation, textKey);
    return textKey;
  }

  // Deletes the key when it is there and leads to this record; never throws.
  void DeleteIfOwned(int slot, std::span<const std::uint8_t> k, std::int32_t recordNumber) noexcept {
    SetAsideError("removing a key quietly after a failure; the first error wins", [&] {
      TIndexTree tree = Tree(slot);
      if (tree.Find(k) == recordNumber) tree.Delete(k);
    });
  }
};

TableIndexWriter::TableIndexWriter(TIndexFile& file, std::span<const FieldDescriptor> fields,
                                   std::uint32_t localeId, std::string tableName,
                                   std::string databaseName, TDataCursor* cursor)
    : impl_(std::make_unique<Impl>(file, cursor)) {
  Impl& d = *impl_;
  d.tableName = std::move(tableName);
  d.databaseName = std::move(databaseName);
  d.collation = Collation::For(localeId);
  const int count = file.SecondaryIndexCount();
  d.layouts.reserve(static_cast<std::size_t>(count) + 1);
  for (int slot = 0; slot <= count; ++slot) {
    d.layouts.push_back(IndexKeyLayout::Make(file.Descriptor(slot), fields, d.collation,
                                             d.tableName, d.databaseName));
  }
  const IndexDescriptor& text = file.Descriptor(kFullTextSlot);
  if (text.FullText != 0 && text.FieldCount > 0) {
    d.textLayout = IndexKeyLayout::Make(text, fields, d.collation, d.tableName, d.databaseName);
    for (std::size_t i = 0; i < text.FieldCount && i < kMaxKeyFields; ++i) {
      d.textFields.push_back(FindKeyField(fields, text.FieldNumbers[i]));
    }
    d.splitter.emplace(ReadFullTextParams(file, cursor), localeId);
  }
}

TableIndexWriter::~TableIndexWriter() = default;

int TableIndexWriter::SecondaryIndexCount() const {
  return static_cast<int>(impl_->layouts.size()) - 1;
}

bool TableIndexWriter::SlotUnique(int slot) const {
  return impl_->layouts.at(static_cast<std::size_t>(slot)).Unique();
}

const std::vector<const FieldDescriptor*>& TableIndexWriter::TextFields() const {
  return impl_->textFields;
}

std::span<const std::uint8_t> TableIndexWriter::BuildKey(int slot,
                                                         std::span<const std::uint8_t> record,
                                                         std::int32_t recordId) {
  return impl_->Build(slot, record, recordId);
}

std::optional<std::int32_t> TableIndexWriter::FindKey(int slot, std::span<const std::uint8_t> key) {
  return impl_->Tree(slot).Find(key);
}

void TableIndexWriter::InsertKey(int slot, std::span<const std::uint8_t> key,
                                 std::int32_t recordNumber) {
  impl_->Tree(slot).Insert(key, recordNumber);
}

void TableIndexWriter::DeleteKey(int slot, std::span<const std::uint8_t> key) {
  impl_->Tree(slot).Delete(key);
}

void TableIndexWriter::CheckUnique(std::span<const std::uint8_t> record, std::int32_t recordId) {
  Impl& d = *impl_;
  for (int slot = 0; slot < static_cast<int>(d.layouts.size()); ++slot) {
    if (!d.layouts[static_cast<std::size_t>(slot)].Unique()) continue;
    d.Tree(slot).CheckUnique(d.Build(slot, record, recordId));
  }
}

TLocaleStringList TableIndexWriter::WordsOf(const FieldDescriptor& field,
                                            std::string_view text) const {
  const Impl& d = *impl_;
  if (!d.splitter) return TLocaleStringList(d.collation.Id());
  static const TextIndexHooks kNone;
  return d.splitter->Words(text, Hooks != nullptr ? *Hooks : kNone,
                           TextIndexContext{d.tableName, field.Name});
}

namespace {

const FieldDescriptor* TextField(const std::vector<const FieldDescriptor*>& fields,
                                 std::uint16_t number) {
  for (const FieldDescriptor* field : fields) {
    if (field->FieldNumber == number) return field;
  }
  return nullptr;
}

}  // namespace

void TableIndexWriter::InsertRecordKeys(std::span<const std::uint8_t> record,
                                        std::int32_t recordId, std::int32_t recordNumber,
                                        std::span<const FieldText> texts) {
  Impl& d = *impl_;
  int slotsDone = 0;
  std::vector<std::pair<std::uint16_t, TLocaleStringList>> words;
  std::size_t wordsDone = 0;  // of the last list
  try {
    for (int slot = 0; slot < static_cast<int>(d.layouts.size()); ++slot) {
      d.Insert(slot, d.Build(slot, record, recordId), recordNumber);
      ++slotsDone;
    }
    if (d.splitter) {
      for (const FieldText& text : texts) {
        const FieldDescriptor* field = TextField(d.textFields, text.FieldNumber);
        if (field == nullptr) continue;
        words.emplace_back(text.FieldNumber, WordsOf(*field, text.Text));
        wordsDone = 0;
        for (const std::string& word : words.back().second.Strings()) {
          d.Insert(static_cast<int>(kFullTextSlot), d.BuildText(text.FieldNumber, word, recordId),
                   recordNumber);
          ++wordsDone;
        }
      }
    }
  } catch (...) {
    // The key that failed may be half in: it goes as well when it is there.
    for (std::size_t list = 0; list < words.size(); ++list) {
      const auto& [number, found] = words[list];
      const std::size_t n = list + 1 == words.size() ? std::min(wordsDone + 1, found.Count())
                                                     : found.Count();
      for (std::size_t i = 0; i < n; ++i) {
        d.DeleteIfOwned(kFullTextSlot, d.BuildText(number, found[i], recordId), recordNumber);
      }
    }
    const int slots = std::min(slotsDone + 1, static_cast<int>(d.layouts.size()));
    for (int slot = 0; slot < slots; ++slot) {
      d.DeleteIfOwned(slot, d.Build(slot, record, recordId), recordNumber);
    }
    throw;
  }
}

void TableIndexWriter::VisitRecordKeys(
    std::span<const std::uint8_t> record, std::int32_t recordId, std::span<const FieldText> texts,
    std::span<const bool> build,
    const std::function<void(int slot, std::span<const std::uint8_t> key)>& visit) {
  Impl& d = *impl_;
  for (int slot = 0; slot < static_cast<int>(d.layouts.size()); ++slot) {
    if (build[static_cast<std::size_t>(slot)]) visit(slot, d.Build(slot, record, recordId));
  }
  if (!d.splitter || !build[kFullTextSlot]) return;
  for (const FieldText& text : texts) {
    const FieldDescriptor* field = TextField(d.textFields, text.FieldNumber);
    if (field == nullptr) continue;
    const TLocaleStringList words = WordsOf(*field, text.Text);
    for (const std::string& word : words.Strings()) {
      visit(static_cast<int>(kFullTextSlot), d.BuildText(text.FieldNumber, word, recordId));
    }
  }
}

const IndexKeyLayout& TableIndexWriter::Layout(int slot) const { return impl_->LayoutOf(slot); }

void TableIndexWriter::HoldKeys(std::size_t budgetBytes) {
  if (budgetBytes == 0) impl_->ApplyAll();
  impl_->holdBudget = budgetBytes;
}

void TableIndexWriter::ApplyHeldKeys() { impl_->ApplyAll(); }

bool TableIndexWriter::HoldsKeys() const { return impl_->heldBytes > 0; }

void TableIndexWriter::InsertWords(std::int32_t recordId, std::int32_t recordNumber,
                                   std::span<const FieldText> texts) {
  Impl& d = *impl_;
  if (!d.splitter) return;
  for (const FieldText& text : texts) {
    const FieldDescriptor* field = TextField(d.textFields, text.FieldNumber);
    if (field == nullptr) continue;
    const TLocaleStringList words = WordsOf(*field, text.Text);
    for (const std::string& word : words.Strings()) {
      d.Insert(static_cast<int>(kFullTextSlot), d.BuildText(text.FieldNumber, word, recordId),
               recordNumber);
    }
  }
}

void TableIndexWriter::DeleteRecordKeys(std::span<const std::uint8_t> record,
                                        std::int32_t recordId, std::int32_t recordNumber,
                                        std::span<const FieldText> texts) {
  Impl& d = *impl_;
  for (int slot = 0; slot < static_cast<int>(d.layouts.size()); ++slot) {
    TIndexTree tree = d.Tree(slot);
    const std::span<const std::uint8_t> key = d.Build(slot, record, recordId);
    if (tree.Find(key) == recordNumber) tree.Delete(key);
  }
  if (!d.splitter) return;
  for (const FieldText& text : texts) {
    const FieldDescriptor* field = TextField(d.textFields, text.FieldNumber);
    if (field == nullptr) continue;
    TIndexTree tree = d.Tree(kFullTextSlot);
    const TLocaleStringList words = WordsOf(*field, text.Text);
    for (const std::string& word : words.Strings()) {
      const std::span<const std::uint8_t> key = d.BuildText(text.FieldNumber, word, recordId);
      if (tree.Find(key) == recordNumber) tree.Delete(key);
    }
  }
}

std::int64_t TableIndexWriter::KeyCount(int slot) {
  Impl& d = *impl_;
  if (slot != static_cast<int>(kFullTextSlot)) return d.Tree(slot).KeyTotal();
  if (!d.splitter) return 0;
  d.Tree(slot);  // held words go in first
  // The full-text index keeps no counts: the leaves are counted.
  const PageFormat format = PageFormat::Of(d.file.Descriptor(slot));
  std::int64_t total = 0;
  std::int32_t page = d.file.RootPage(slot);
  for (int depth = 0; page != 0; ++depth) {
    BufferPin pin;
    const TPage& node = d.file.FetchPage(d.cursor, page, format, pin);
    if (node.IsLeaf() || depth > 64) break;
    page = node.Pointer(0);
  }
  for (std::int32_t visited = 0; page != 0 && visited <= d.file.UnitCount(); ++visited) {
    BufferPin pin;
    const TPage& leaf = d.file.FetchPage(d.cursor, page, format, pin);
    total += leaf.EntryCount();
    page = leaf.NextPage();
  }
  return total;
}

std::optional<std::int32_t> TableIndexWriter::FindWord(std::uint16_t fieldNumber,
                                                       std::string_view word,
                                                       std::int32_t recordId) {
  Impl& d = *impl_;
  if (!d.splitter) return std::nullopt;
  return d.Tree(kFullTextSlot).Find(d.BuildText(fieldNumber, word, recordId));
}

std::vector<std::string> TableIndexWriter::CheckTrees() {
  Impl& d = *impl_;
  d.ApplyAll();
  std::vector<bool> inUse;
  std::vector<std::string> problems;
  const auto add = [&](std::vector<std::string> more) {
    problems.insert(problems.end(), more.begin(), more.end());
  };
  for (int slot = 0; slot < static_cast<int>(d.layouts.size()); ++slot) {
    add(CheckIndexTree(d.file, slot, d.layouts[static_cast<std::size_t>(slot)], inUse));
  }
  if (d.splitter) add(CheckIndexTree(d.file, kFullTextSlot, d.textLayout, inUse));
  add(MarkParameterChain(d.file, inUse));
  add(CheckFreeChain(d.file, inUse));
  return problems;
}

}  // namespace strata
