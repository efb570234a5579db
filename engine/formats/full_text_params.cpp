#include "engine/formats/full_text_params.h"

#include <algorithm>
#include <span>

#include "engine/common/byte_order.h"
#include "engine/formats/index_file.h"

namespace strata {

namespace {

constexpr std::int32_t kSetSize = 32;
const PageFormat kNoIndex{};

// Walks the chain of parameter pages one value at a time.
class ChainCursor {
 public:
  ChainCursor(TIndexFile& file, TDataCursor* cursor)
      : file_(file), cursor_(cursor), payload_(file.PayloadSize()) {}

  TPage& Page() { return PageOf(pin_); }

  void OpenForReading(std::int32_t first) {
    Enter(first);
  }

  // The next n bytes of the stream, moving to the next page when they do
  // not fit into the rest of this one.
  const std::uint8_t* Take(std::int32_t n) {
    if (n > payload_ - offset_) Enter(Page().NextPage());
    const std::uint8_t* at = Page().Payload().data() + offset_;
    offset_ += n;
    return at;
  }

  void OpenForWriting(std::int32_t first) {
    if (first != 0) {
      Enter(first);
      Blank();
    } else {
      TPage& page = file_.AllocatePage(cursor_, kNoIndex, kPageFullTextParams, pin_);
      file_.SetAuxPage(static_cast<int>(kFullTextSlot), page.Number);
      Count();
    }
  }

  void Put(const std::uint8_t* bytes, std::int32_t n) {
    if (n > payload_ - offset_) {
      const std::int32_t next = Page().NextPage();
      if (next != 0) {
        Enter(next);
      } else {
        BufferPin pin;
        TPage& fresh = file_.AllocatePage(cursor_, kNoIndex, kPageFullTextParams, pin);
        Page().SetNextPage(fresh.Number);
        pin_ = std::move(pin);
        Count();
      }
      Blank();
    }
    std::copy_n(bytes, n, Page().Payload().data() + offset_);
    Page().Dirty = true;
    offset_ += n;
  }

  // Ends the chain at the current page and frees the pages after it.
  void Finish() {
    std::int32_t next = Page().NextPage();
    Page().SetNextPage(0);
    while (next != 0) {
      Enter(next);
      next = Page().NextPage();
      file_.FreePage(Page());
    }
  }

 private:
  void Enter(std::int32_t number) {
    if (number < 1 || number > file_.UnitCount()) file_.RaiseCorruptError();
    Count();
    BufferPin pin;
    TPage& page = file_.FetchPage(cursor_, number, kNoIndex, pin);
    if (page.PageType() != kPageFullTextParams) file_.RaiseCorruptError();
    pin_ = std::move(pin);
    offset_ = 0;
  }
  // A chain longer than the file has pages must loop.
  void Count() {
    if (++pages_ > file_.UnitCount()) file_.RaiseCorruptError();
  }
  void Blank() {
    std::span<std::uint8_t> payload = Page().Payload();
    std::fill(payload.begin(), payload.end(), 0);
    Page().Dirty = true;
    offset_ = 0;
  }

  TIndexFile& file_;
  TDataCursor* cursor_;
  std::int32_t payload_;
  BufferPin pin_;
  std::int32_t offset_ = 0;
  std::int32_t pages_ = 0;
};

}  // namespace

FullTextParams FullTextParams::Defaults() {
  FullTextParams params;
  params.StopWords = {"A",  "AN", "AND",  "BE",  "FOR",  "HOW", "IN",   "IS",   "IT",    "OF",  "ON",
                      "OR", "THAT", "THE", "THIS", "TO", "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
  auto spaces = [&](int from, int to) {
    for (int c = from; c <= to; ++c) AddToCharacterSet(params.SpaceChars, static_cast<unsigned char>(c));
  };
  auto includes = [&](int from, int to) {
    for (int c = from; c <= to; ++c) {
      AddToCharacterSet(params.IncludeChars, static_cast<unsigned char>(c));
    }
  };
  spaces(1, 32);
  spaces(42, 47);
  spaces(58, 62);
  spaces(92, 92);
  spaces(96, 96);
  includes(48, 57);
  includes(65, 90);
  includes(95, 95);
  includes(97, 122);
  includes(128, 254);
  return params;
}

FullTextParams ReadFullTextParams(TIndexFile& file, TDataCursor* cursor) {
  const std::int32_t first = file.AuxPage(static_cast<int>(kFullTextSlot));
  if (first == 0) return FullTextParams::Defaults();
  const std::int32_t payload = file.PayloadSize();
  ChainCursor chain(file, cursor);
  chain.OpenForReading(first);
  FullTextParams params;
  const std::int32_t count = LoadI32(chain.Take(4));
  if (count < 0) file.RaiseCorruptError();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t length = LoadI32(chain.Take(4));
    if (length < 0 || length > payload) file.RaiseCorruptError();
    const std::uint8_t* text = chain.Take(length);
    params.StopWords.emplace_back(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(length));
  }
  for (CharacterSet* set : {&params.SpaceChars, &params.IncludeChars}) {
    if (LoadI32(chain.Take(4)) != kSetSize) file.RaiseCorruptError();
    std::copy_n(chain.Take(kSetSize), kSetSize, set->begin());
  }
  return params;
}

void WriteFullTextParams(TIndexFile& file, const FullTextParams& params, TDataCursor* cursor) {
  const std::int32_t payload = file.PayloadSize();
  ChainCursor chain(file, cursor);
  chain.OpenForWriting(file.AuxPage(static_cast<int>(kFullTextSlot)));
  std::uint8_t number[4];
  auto putInt = [&](std::int32_t value) {
    StoreI32(number, value);
    chain.Put(number, 4);
  };
  putInt(static_cast<std::int32_t>(params.StopWords.size()));
  for (const std::string& word : params.StopWords) {
    const auto length = static_cast<std::int32_t>(
        std::min<std::size_t>(word.size(), static_cast<std::size_t>(payload)));
    putInt(length);
    chain.Put(reinterpret_cast<const std::uint8_t*>(word.data()), length);
  }
  for (const CharacterSet* set : {&params.SpaceChars, &params.IncludeChars}) {
    putInt(kSetSize);
    chain.Put(set->data(), kSetSize);
  }
  chain.Finish();
}

}  // namespace strata
