// Fuzzes the reading of the index file (header, descriptors, pages, trees,
// keys): the sample table with the input in place of its index file, opened
// through a cursor (reading the records by number does not look at the
// index file), verified and repaired.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  strata::fuzz::TableFiles files = strata::fuzz::SampleTable();
  files.Index.assign(data, data + size);
  strata::fuzz::ExerciseTable(files, false);
  return 0;
}
