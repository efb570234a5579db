#include "engine/core/verify/blob_chain_check.h"

#include <algorithm>
#include <unordered_set>

#include "engine/formats/blob_file.h"

namespace strata {

namespace {

TBlock& FetchBlock(TBlobFile& file, std::int32_t number, BufferPin& pin) {
  if (!file.GetBuffer(nullptr, TBufferedFile::kNoDirection, false, number, pin)) {
    file.RaiseCorruptError();
  }
  return TBlobFile::BlockOf(pin);
}

void CheckChain(TBlobFile& file, std::int32_t blockCount, BlobReference& reference, bool repair,
                const std::function<void(std::string_view text)>& report,
                const std::unordered_set<std::int32_t>& reached,
                std::unordered_set<std::int32_t>& chain);

}  // namespace

std::vector<std::int32_t> CheckBlobChain(TBlobFile& file, std::int32_t blockCount,
                                         BlobReference& reference, bool repair,
                                         const std::function<void(std::string_view text)>& report,
                                         std::unordered_set<std::int32_t>& reached) {
  std::unordered_set<std::int32_t> chain{reference.FirstBlock};
  CheckChain(file, blockCount, reference, repair, report, reached, chain);
  if (reference.FirstBlock == 0) return {};
  // A chain the value keeps belongs to it; no other value may share it.
  reached.insert(chain.begin(), chain.end());
  return {chain.begin(), chain.end()};
}

namespace {

// The chain's blocks are collected in chain as far as it is kept.
void CheckChain(TBlobFile& file, std::int32_t blockCount, BlobReference& reference, bool repair,
                const std::function<void(std::string_view text)>& report,
                const std::unordered_set<std::int32_t>& reached,
                std::unordered_set<std::int32_t>& chain) {
  const std::int64_t payload = file.BlockPayload();
  if (reached.contains(reference.FirstBlock)) {
    report("Invalid BLOB offset in BLOB file for physical record # ");
    if (repair) reference.FirstBlock = 0;
    return;
  }
  BufferPin firstPin;
  TBlock& first = FetchBlock(file, reference.FirstBlock, firstPin);
  if (first.Header().BlobRevision != reference.Revision) {
    report("Invalid BLOB offset in BLOB file for physical record # ");
    if (repair) reference.FirstBlock = 0;
    return;
  }
  const std::int64_t length = first.Header().BlobLength;
  if (repair && first.Header().PrevBlock != 0) first.SetPrevBlock(0);
  if (length <= 0) {
    report("BLOB size mismatch in BLOB file for physical record # ");
    if (repair) reference.FirstBlock = 0;
    return;
  }

  std::int64_t bytes = 0;
  // The first block stays pinned: its length may still change.
  BufferPin currentPin;
  FetchBlock(file, reference.FirstBlock, currentPin);
  // The block before the current one, which ends the value when the
  // current one turns out to hold nothing.
  BufferPin previousPin;
  while (true) {
    TBlock& current = TBlobFile::BlockOf(currentPin);
    const std::int32_t next = current.Header().NextBlock;
    if (next == 0) break;
    const char* broken = nullptr;
    BufferPin nextPin;
    if (current.Header().DataLength != std::clamp<std::int64_t>(length - bytes, 0, payload)) {
      broken = "Invalid block size in BLOB file for physical record # ";
    } else if (bytes + current.Header().DataLength >= length) {
      // The value ends in this block: a block after it would hold nothing.
      broken = "Invalid intra-block pointer in BLOB file for physical record # ";
    } else if (next < 1 || next > blockCount) {
      broken = "Invalid intra-block pointer in BLOB file for physical record # ";
    } else if (next == current.Number || chain.contains(next) || reached.contains(next)) {
      // A link back into the chain would make it endless.
      broken = "Recursive intra-block pointer in BLOB file for physical record # ";
    } else if (FetchBlock(file, next, nextPin).Header().BlobRevision != reference.Revision) {
      broken = "Invalid intra-block pointer in BLOB file for physical record # ";
    }
    if (broken != nullptr) {
      report(broken);
      if (repair) current.SetNextBlock(0);
      break;
    }
    bytes += current.Header().DataLength;
    TBlock& following = TBlobFile::BlockOf(nextPin);
    if (repair && following.Header().PrevBlock != current.Number) {
      following.SetPrevBlock(current.Number);
    }
    chain.insert(next);
    previousPin = std::move(currentPin);
    currentPin = std::move(nextPin);
  }

  // A last block after the first that holds nothing is no part of the
  // value: the block before it ends the chain.
  if (previousPin && TBlobFile::BlockOf(currentPin).Header().DataLength == 0) {
    report("Invalid block size in BLOB file for physical record # ");
    if (!repair) return;
    chain.erase(TBlobFile::BlockOf(currentPin).Number);
    TBlock& previous = TBlobFile::BlockOf(previousPin);
    previous.SetNextBlock(0);
    // Counted below as the last block.
    bytes -= previous.Header().DataLength;
    currentPin = std::move(previousPin);
  }
  // The last block can hold no more than a payload; a reader refuses more.
  TBlock& last = TBlobFile::BlockOf(currentPin);
  if (last.Header().DataLength > payload) {
    report("Invalid block size in BLOB file for physical record # ");
    if (repair) {
      const auto data = last.Data();
      last.WritePayload(0, std::span(reinterpret_cast<const std::uint8_t*>(data.data()),
                                     static_cast<std::size_t>(payload)));
    }
  }
  bytes += std::min<std::int64_t>(last.Header().DataLength, payload);
  if (bytes != length) {
    report("BLOB size mismatch in BLOB file for physical record # ");
    if (repair) {
      // A chain without data is an empty value, not one of length 0.
      if (bytes == 0) {
        reference.FirstBlock = 0;
      } else {
        first.SetBlobLength(static_cast<std::int32_t>(bytes));
      }
    }
  }
}

}  // namespace

}  // namespace strata
