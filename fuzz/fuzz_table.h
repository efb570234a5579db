// Support shared by the table fuzz targets: a sample table written by the
// engine's own writers (every field type, a primary, secondary and full-text
// index, memos, BLOBs of several blocks, a compressed BLOB field), kept as the
// bytes of its three files, and one pass over a table the way the tool and
// the programs on the engine use it.
//
// The table targets run from memory: one engine for the process works on a
// simulated disk (tests/support/simulated_disk.h, without durability
// tracking), where a target puts the sample's files with the fuzzer's input
// in place of one of them, and calls ExerciseTable, which reads every record
// and BLOB value through a cursor, verifies, and repairs what verify finds
// (for half the inputs).
// Engine errors are expected answers to damage; anything else (a crash, a
// sanitizer report, a foreign exception) is a finding.
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
// The folder of the simulated disk the table targets use.
inline constexpr char kTableFolder[] = "/fuzz/";

// Writes the sample table into the table folder of the disk (emptied
// first) through the engine, `records` records of varied values, and
// returns its files.
TableFiles WriteSampleTable(int records);

// The sample table's files, written once per process.
const TableFiles& SampleTable();

// A private empty folder of the real file system for this process (with
// its trailing "/"), emptied again by each call, and files there: for the
// targets that read real files (the registry file) and for the seeds.
const std::string& ScratchFolder();
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);
Bytes ReadFile(const std::string& path);

// Puts the three files in the table folder and runs the pass: every record
// and BLOB value read (with readRecords; without, the table is only
// opened, for an input the reading does not look at), verified, and, when
// verify finds something and the three files' sizes add up to an odd
// number, repaired.
void ExerciseTable(const TableFiles& files, bool readRecords = true);

// The lock file of the folder after the sample was opened and read, as a
// program leaves it.
Bytes SampleLockFile();

// Puts the sample table with the bytes as its folder's lock file, then
// reads and adds a record through a shared cursor and reads the table
// again from the folder opened for reading only.
void ExerciseLockFile(const std::uint8_t* data, std::size_t size);

}  // namespace strata::fuzz
