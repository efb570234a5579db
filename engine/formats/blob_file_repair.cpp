// TBlobFile::RepairHeader: the BLOB file's part of table verification: the
// file's length against the block size, the block count and the head of the
// free chain.
#include <limits>
#include <string>

#include "engine/errors/engine_error.h"
#include "engine/files/base_file.h"
#include "engine/formats/blob_file.h"

namespace strata {

std::int32_t TBlobFile::WholeBlockCount() {
  const std::int64_t excess = GetFileSize() - static_cast<std::int64_t>(kBlobHeaderSize);
  if (excess <= 0) return 0;
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(excess / blockSize_, std::numeric_limits<std::int32_t>::max() - 1));
}

bool TBlobFile::RepairHeader(const RepairLog& log, bool verifyOnly) {
  HeaderFindings report(log, !verifyOnly);
  const bool repair = report.Repair();
  const std::string suffix = report.Suffix();
  const std::int64_t excess = GetFileSize() - static_cast<std::int64_t>(kBlobHeaderSize);
  const std::int32_t blocks = WholeBlockCount();
  const bool partialBlock = excess > 0 && excess % blockSize_ != 0;
  if (partialBlock) report("BLOB blocks not aligned on even block size boundaries" + suffix);
  if (header_.NextBlockNumber != blocks + 1) {
    report("Physical BLOB block count not correct" + suffix);
    if (repair) header_.NextBlockNumber = blocks + 1;
  }
  if (header_.FirstFreeBlock != 0 &&
      (header_.FirstFreeBlock < 1 || header_.FirstFreeBlock > blocks)) {
    report("Invalid free BLOB block pointer in header" + suffix);
    if (repair) header_.FirstFreeBlock = 0;
  }
  if (!repair) return report.Clean();
  WriteBack(false);
  DropBuffers();
  if (partialBlock) {
    {
      IoGuard io(*this);
      Seek(TBaseFile::kFromStart, UnitOffset(blocks + 1));
      Write({});
    }
    if (owner_.ForceBufferFlush()) Flush();
    owner_.MarkModified();
  }
  header_.FormatVersion = kCurrentFormatVersion;
  header_.HeaderModified = true;
  return report.Clean();
}

}  // namespace strata
