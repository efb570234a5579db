#include "tests/support/paged_bytes.h"

#include <algorithm>
#include <cstring>

namespace strata::testing {

namespace {

void Mix(std::uint64_t& hash, std::uint64_t value) {
  hash ^= value + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
}

}  // namespace

PagedBytes::Page& PagedBytes::Writable(std::size_t index) {
  std::shared_ptr<Page>& page = pages_[index];
  if (!page) {
    page = std::make_shared<Page>();
  } else if (page.use_count() > 1) {
    page = std::make_shared<Page>(*page);
  }
  page->Hashed = false;
  return *page;
}

void PagedBytes::Resize(std::int64_t size) {
  if (size < size_) {
    // The cut-off tail of the last page becomes zeros, so that a later
    // growth reads zeros there.
    const auto inPage = static_cast<std::size_t>(size % static_cast<std::int64_t>(kPageSize));
    const auto last = static_cast<std::size_t>(size / static_cast<std::int64_t>(kPageSize));
    if (inPage != 0 && last < pages_.size() && pages_[last]) {
      Page& page = Writable(last);
      std::fill(page.Bytes.begin() + static_cast<std::ptrdiff_t>(inPage), page.Bytes.end(),
                std::byte{0});
    }
  }
  size_ = size;
  pages_.resize(static_cast<std::size_t>((size + static_cast<std::int64_t>(kPageSize) - 1) /
                                         static_cast<std::int64_t>(kPageSize)));
}

void PagedBytes::Write(std::int64_t offset, std::span<const std::byte> data) {
  if (data.empty()) return;
  const std::int64_t end = offset + static_cast<std::int64_t>(data.size());
  if (end > size_) Resize(end);
  std::size_t done = 0;
  while (done < data.size()) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    const auto index = static_cast<std::size_t>(at / static_cast<std::int64_t>(kPageSize));
    const auto inPage = static_cast<std::size_t>(at % static_cast<std::int64_t>(kPageSize));
    const std::size_t count = std::min(kPageSize - inPage, data.size() - done);
    std::memcpy(Writable(index).Bytes.data() + inPage, data.data() + done, count);
    done += count;
  }
}

std::int64_t PagedBytes::Read(std::int64_t offset, std::span<std::byte> buffer) const {
  if (offset >= size_ || buffer.empty()) return 0;
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::int64_t>(size_ - offset, static_cast<std::int64_t>(buffer.size())));
  std::size_t done = 0;
  while (done < wanted) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    const auto index = static_cast<std::size_t>(at / static_cast<std::int64_t>(kPageSize));
    const auto inPage = static_cast<std::size_t>(at % static_cast<std::int64_t>(kPageSize));
    const std::size_t count = std::min(kPageSize - inPage, wanted - done);
    if (pages_[index]) {
      std::memcpy(buffer.data() + done, pages_[index]->Bytes.data() + inPage, count);
    } else {
      std::memset(buffer.data() + done, 0, count);
    }
    done += count;
  }
  return static_cast<std::int64_t>(wanted);
}

std::vector<std::uint8_t> PagedBytes::All() const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size_));
  Read(0, std::as_writable_bytes(std::span(bytes)));
  return bytes;
}

void PagedBytes::AddToFingerprint(std::uint64_t& hash) const {
  Mix(hash, static_cast<std::uint64_t>(size_));
  for (const std::shared_ptr<Page>& page : pages_) {
    if (!page) {
      Mix(hash, 0);
      continue;
    }
    if (!page->Hashed) {
      // FNV-1a over the page, eight bytes at a time.
      std::uint64_t h = 0xcbf29ce484222325ULL;
      for (std::size_t i = 0; i < kPageSize; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, page->Bytes.data() + i, 8);
        h = (h ^ word) * 0x100000001b3ULL;
      }
      page->Hash = h | 1;  // never the hash of a missing page
      page->Hashed = true;
    }
    Mix(hash, page->Hash);
  }
}

}  // namespace strata::testing
