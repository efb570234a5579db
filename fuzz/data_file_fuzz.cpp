// Fuzzes the reading of the data file (header, field descriptors, record
// slots): the sample table with the input in
// place of its data file, read through a cursor, verified and repaired.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  strata::fuzz::TableFiles files = strata::fuzz::SampleTable();
  files.Data.assign(data, data + size);
  strata::fuzz::ExerciseTable(files);
  return 0;
}
