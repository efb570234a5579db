// SalvageFile: where a repair keeps what it takes out of a table, so that a
// record the table's rules cannot hold is never simply lost. The file is
// "<table>.salvage~" next to the table; each repair that takes something out
// appends to it (docs/salvage-file.md describes the bytes):
//
//   a table section, once per repair: the table's name, its record size and
//   its field descriptors as the data file holds them;
//   a record entry per record taken out: its slot number, its RecordID, the
//   reason, the slot's bytes as they were before the repair touched them,
//   and the stored bytes of each of its BLOB values;
//   a value entry per BLOB value taken out of a record that stays.
//
// For an enciphered table the slot, descriptor and value bytes are written
// enciphered with the table's key, as the table's own files hold them.
//
// Each entry is on the disk (flushed) before the call returns, so the caller
// changes the table only after its bytes are safe. Errors are the file
// layer's engine errors naming the salvage file (STRATA_WRITEERR, ...); the
// caller then leaves the table as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

class TDataTable;
class TEngineFile;

class SalvageFile {
 public:
  // A BLOB value of a record: its field and its stored bytes (compressed
  // when the field compresses); nullopt when its chain could not be read.
  struct Value {
    std::uint16_t FieldNumber = 0;
    std::optional<std::vector<std::uint8_t>> Stored;
  };

  // Nothing is written until something is taken out.
  explicit SalvageFile(TDataTable& table);
  ~SalvageFile();
  SalvageFile(const SalvageFile&) = delete;
  SalvageFile& operator=(const SalvageFile&) = delete;

  void AddRecord(std::int32_t slot, std::int32_t recordId, std::string_view reason,
                 std::span<const std::uint8_t> slotBytes, const std::vector<Value>& values);
  void AddValue(std::int32_t slot, std::int32_t recordId, std::string_view reason,
                const Value& value);

  // The file's name without its folder, for log lines.
  std::string FileName() const;
  // Closes the file when it was opened.
  void Close();

 private:
  // Opens the file (creating it when missing) and writes the table section
  // on first use.
  void Begin();
  void Append(const std::vector<std::uint8_t>& bytes);
  // Bytes enciphered with the table's key when it has one, padded to whole
  // cipher blocks.
  std::vector<std::uint8_t> Sealed(std::span<const std::uint8_t> bytes) const;

  TDataTable& table_;
  std::string path_;
  std::unique_ptr<TEngineFile> file_;
  std::int64_t end_ = 0;
};

}  // namespace strata
