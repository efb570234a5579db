// bench-export [ROWS]: the CSV export of the people table (1,000,000 rows
// by default) by `strata export` against `sqlite3 -csv` over the same rows
// in SQLite, both as programs writing a file; and the JSON export's
// streaming writer against one built on nlohmann-json, over the same
// reading of the table in this process.
//
// Prints rows=, csv_strata_s=, csv_sqlite3_s=, csv_speed_vs_sqlite3= (the
// SQLite shell's time over strata's: 1 is as fast, 0.5 half as fast),
// json_streaming_s=, json_nlohmann_s=.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/people_rows.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "tools/output_sink.h"
#include "tools/row_writer.h"
#include "tools/table_rows.h"

namespace {

using namespace strata::bench;
using Clock = std::chrono::steady_clock;


void BuildSqliteTable(const std::string& path, std::int64_t count) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, kPeopleSqliteSchema, nullptr, nullptr, nullptr), db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, kPeopleSqliteInsert, -1, &insert, nullptr), db, "prepare");
  Numbers numbers;
  for (std::int64_t i = 1; i <= count; ++i) InsertPeopleRow(db, insert, MakeRow(numbers, i));
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

// Seconds a shell command takes; -1 when it fails.
double Timed(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  return status == 0 ? Seconds(start) : -1;
}

// The JSON export of the table through a row writer made by `make`.
template <typename Make>
double TimedJson(strata::TDataDirectory& directory, const std::string& path, Make make) {
  const auto start = Clock::now();
  strata::tools::OutputSink sink(path, std::cout);
  std::unique_ptr<strata::tools::RowWriter> writer;
  strata::tools::RowCallbacks callbacks;
  callbacks.Begin = [&](const strata::tools::TableReport&, std::span<const std::string> names) {
    writer = make(sink);
    writer->Begin(names);
  };
  callbacks.Row = [&](std::int32_t, std::span<const strata::tools::ExportValue* const> values) {
    writer->Row(values);
  };
  strata::tools::ReadTableRows(directory, "people", {}, callbacks);
  writer->End();
  sink.Commit();
  return Seconds(start);
}

// The JSON array written with nlohmann-json: one ordered object per record.
class NlohmannWriter final : public strata::tools::RowWriter {
 public:
  explicit NlohmannWriter(strata::tools::OutputSink& sink) : sink_(sink) {}
  void Begin(std::span<const std::string> names) override {
    names_.assign(names.begin(), names.end());
    sink_.Append('[');
  }
  void Row(std::span<const strata::tools::ExportValue* const> values) override {
    using Kind = strata::tools::ExportValue::Kind;
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto& value = *values[i];
      switch (value.Type) {
        case Kind::Null: object[names_[i]] = nullptr; break;
        case Kind::Integer: object[names_[i]] = value.Integer; break;
        case Kind::Float: object[names_[i]] = value.Float; break;
        case Kind::Boolean: object[names_[i]] = value.Boolean; break;
        case Kind::Binary: object[names_[i]] = strata::tools::Base64(value.Text); break;
        default: object[names_[i]] = value.Text; break;
      }
    }
    sink_.Append(first_ ? "\n" : ",\n");
    first_ = false;
    sink_.Append(object.dump());
  }
  void End() override { sink_.Append("\n]\n"); }

 private:
  strata::tools::OutputSink& sink_;
  std::vector<std::string> names_;
  bool first_ = true;
};

int Run(std::int64_t count, const std::string& binDir) {
  const std::string folder = MakeScratch("bench-export");
  const std::string data = folder + "data/";
  std::filesystem::create_directories(data);
  std::printf("rows=%lld folder=%s\n", static_cast<long long>(count), folder.c_str());
  {
    strata::TDataEngine engine;
    engine.Activate();
    strata::TDataSession& session = engine.NewSession();
    strata::TDataDirectory& directory = session.OpenDirectory("", data);
    BuildPeopleTable(directory, count);
    session.CloseDirectory(directory);
  }
  std::filesystem::remove(data + "strata.lck");
  BuildSqliteTable(folder + "people.sqlite", count);

  const double strata = Timed("'" + binDir + "/strata' export '" + data + "' people --output '" +
                              folder + "strata.csv'");
  const double sqlite = Timed("sqlite3 -csv -header '" + folder +
                              "people.sqlite' 'SELECT * FROM people' > '" + folder + "sqlite.csv'");
  std::printf("csv_strata_s=%.3f csv_strata_mb=%.1f\n", strata,
              static_cast<double>(std::filesystem::file_size(folder + "strata.csv")) / 1048576.0);
  if (sqlite < 0) {
    std::printf("csv_sqlite3_s=unavailable (the sqlite3 shell is not installed)\n");
  } else {
    std::printf("csv_sqlite3_s=%.3f csv_sqlite3_mb=%.1f\n", sqlite,
                static_cast<double>(std::filesystem::file_size(folder + "sqlite.csv")) / 1048576.0);
    std::printf("csv_speed_vs_sqlite3=%.2f\n", sqlite / strata);
  }

  {
    strata::TDataEngine engine;
    engine.Activate();
    strata::TDataSession& session = engine.NewSession();
    strata::TDataDirectory& directory = session.OpenDirectoryForReading(data);
    const double streaming = TimedJson(directory, folder + "streaming.json", [](auto& sink) {
      return strata::tools::MakeJsonWriter(sink, false);
    });
    const double library = TimedJson(directory, folder + "nlohmann.json", [](auto& sink) {
      return std::make_unique<NlohmannWriter>(sink);
    });
    std::printf("json_streaming_s=%.3f json_nlohmann_s=%.3f\n", streaming, library);
    session.CloseDirectory(directory);
  }
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t count = 1000000;
  if (argc > 2 || (argc == 2 && (count = std::atoll(argv[1])) <= 0)) {
    std::fprintf(stderr, "usage: bench-export [ROWS]\n");
    return 2;
  }
  try {
    return Run(count, std::filesystem::absolute(argv[0]).parent_path().string());
  } catch (const strata::EDatabaseError& error) {
    std::fprintf(stderr, "bench-export: %s\n", error.Message().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-export: %s\n", error.what());
  }
  return 1;
}
