// Support shared by the table fuzz targets: a sample table written by the
// engine's own writers (every field type, a primary, secondary and full-text
// index, memos of several blocks, a compressed BLOB field), kept as the
// bytes of its three files, and one pass over a table the way the tool and
// the programs on the engine use it.
//
// A target replaces one of the sample's files with the fuzzer's input,
// writes the three files to a private folder and calls ExerciseTable, which
// reads every record and BLOB value through a cursor, verifies, repairs and
// verifies again. Engine errors are expected answers to damage; anything
// else (a crash, a sanitizer report, a foreign exception) is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace strata::fuzz {

using Bytes = std::vector<std::uint8_t>;

struct TableFiles {
  Bytes Data;
  Bytes Index;
  Bytes Blob;
};

// The table's name in every folder the targets use.
inline constexpr char kTableName[] = "sample";

// Writes the sample table into folder (with its trailing "/") through the
// engine, `records` records of varied values.
void WriteSampleTable(const std::string& folder, int records);

// The sample table's files, written once per process.
const TableFiles& SampleTable();

// A private empty folder for this process (with its trailing "/"), emptied
// again by each call.
const std::string& ScratchFolder();

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);
Bytes ReadFile(const std::string& path);

// Writes the three files to the scratch folder and runs the pass.
void ExerciseTable(const TableFiles& files);

// Writes the sample table with the bytes as its folder's lock file, then
// reads and adds a record through a shared cursor and reads the table
// again from the folder opened for reading only.
void ExerciseLockFile(const std::uint8_t* data, std::size_t size);

}  // namespace strata::fuzz
