// Fuzzes the reading of the lock file: the sample table's folder with the
// input as its lock file. Opening the folder, reading and writing the table
// shared, and opening it for reading only must end in success or an engine
// error, never read beyond the list, and never wait for long.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  strata::fuzz::ExerciseLockFile(data, size);
  return 0;
}
