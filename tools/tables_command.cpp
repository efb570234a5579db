#include "tools/tables_command.h"

#include <array>
#include <exception>
#include <optional>

#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_names.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"
#include "tools/directory_reference.h"
#include "tools/json_writer.h"
#include "tools/table_failures.h"
#include "tools/table_problem.h"
#include "tools/table_report.h"
#include "tools/text_table.h"
#include "tools/update_plan_output.h"
#include "update/update_plan.h"

namespace strata::tools {

namespace {

struct TableLine {
  std::string Name;  // UTF-8
  // None: a catalogue table that is missing, or a data file whose header
  // cannot be read.
  std::optional<DataFileHeader> Header;
  std::int64_t DataFileSize = -1;  // -1: unknown
  std::int64_t IndexFileSize = -1;
  std::int64_t BlobFileSize = -1;
  std::string Update;   // empty outside a database of the home organiser
  std::string Problem;  // why the table cannot be opened
};

std::string Version(const DataFileHeader& header) {
  return std::to_string(header.UserMajorVersion) + "." + std::to_string(header.UserMinorVersion);
}

std::string Size(std::int64_t size) { return size < 0 ? "-" : std::to_string(size); }

// The length of a file, -1 when it cannot be opened.
std::int64_t FileLength(const std::string& path) {
  platform::OpenedFile opened =
      platform::CurrentFileSystem().Open(path, platform::OpenRequest{.readOnly = true});
  return opened.handle ? opened.handle->Size() : -1;
}

// The data file header, which enciphering leaves plain.
std::optional<DataFileHeader> PlainHeader(const std::string& path) {
  platform::OpenedFile opened =
      platform::CurrentFileSystem().Open(path, platform::OpenRequest{.readOnly = true});
  if (!opened.handle) return std::nullopt;
  std::array<std::uint8_t, kDataHeaderSize> image{};
  const std::int64_t got = opened.handle->ReadAt(0, std::as_writable_bytes(std::span(image)));
  opened.handle->Close();
  DataFileHeader header;
  if (got != static_cast<std::int64_t>(image.size()) || !header.Decode(image)) return std::nullopt;
  return header;
}

TableLine LineOf(const TableReport& report) {
  return {Windows1252ToUtf8(report.Table), report.Header, report.DataFileSize,
          report.IndexFileSize, report.BlobFileSize, "-", ""};
}

// What the files give of a table the engine does not open.
TableLine PlainLine(TDataDirectory& directory, const std::string& name, std::string problem) {
  TableLine line;
  line.Name = Windows1252ToUtf8(name);
  line.Update = "-";
  line.Problem = std::move(problem);
  const TDataTable probe(directory, name, name, false, false, /*readOnly=*/true);
  line.Header = PlainHeader(probe.FilePath(TableFileKind::Data));
  line.DataFileSize = FileLength(probe.FilePath(TableFileKind::Data));
  line.IndexFileSize = FileLength(probe.FilePath(TableFileKind::Index));
  line.BlobFileSize = line.Header && line.Header->BlobFieldCount == 0
                          ? 0
                          : FileLength(probe.FilePath(TableFileKind::Blob));
  return line;
}

void PrintText(const std::vector<TableLine>& lines, bool withUpdate, std::ostream& out) {
  const bool withProblem = std::any_of(lines.begin(), lines.end(),
                                       [](const TableLine& l) { return !l.Problem.empty(); });
  TextTable table;
  std::vector<std::string> heading = {"Table", "Records", "Data bytes", "Index bytes",
                                      "BLOB bytes", "Version", "Format", "Encrypted"};
  if (withUpdate) heading.push_back("Update");
  if (withProblem) heading.push_back("Problem");
  table.AddRow(heading);
  for (const TableLine& line : lines) {
    std::vector<std::string> row = {line.Name};
    if (line.Header) {
      const DataFileHeader& h = *line.Header;
      row.insert(row.end(), {std::to_string(h.RecordCount), Size(line.DataFileSize),
                             Size(line.IndexFileSize), Size(line.BlobFileSize), Version(h),
                             std::to_string(h.FormatVersion), h.Encrypted != 0 ? "yes" : "no"});
    } else {
      row.insert(row.end(), {"-", Size(line.DataFileSize), Size(line.IndexFileSize),
                             Size(line.BlobFileSize), "-", "-", "-"});
    }
    if (withUpdate) row.push_back(line.Update);
    if (withProblem) row.push_back(line.Problem);
    table.AddRow(row);
  }
  table.Print(out);
}

void PrintJson(const std::vector<TableLine>& lines, bool withUpdate, std::ostream& out) {
  JsonWriter json(out);
  json.BeginArray();
  for (const TableLine& line : lines) {
    json.BeginObject();
    json.Member("table", line.Name);
    json.Member("exists", line.DataFileSize >= 0 || line.Header.has_value());
    if (line.Header) {
      const DataFileHeader& h = *line.Header;
      json.Member("records", std::int64_t{h.RecordCount});
      json.Member("dataBytes", line.DataFileSize);
      json.Member("indexBytes", line.IndexFileSize);
      json.Member("blobBytes", line.BlobFileSize);
      json.Member("version", Version(h));
      json.Member("formatVersion", std::int64_t{h.FormatVersion});
      json.Member("encrypted", h.Encrypted != 0);
    }
    if (withUpdate) {
      json.Key("update");
      if (line.Update == "-") {
        json.Null();
      } else {
        json.String(line.Update);
      }
    }
    if (!line.Problem.empty()) json.Member("problem", line.Problem);
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

void RunTables(TDataSession& session, const std::string& folder, const std::string& shown,
               bool json, bool passwordsGiven, std::ostream& out) {
  DirectoryReference reference(session, folder);
  TDataDirectory& directory = *reference;
  std::vector<TableLine> lines;
  for (const std::string& name : TablesToRead(directory, {}, shown)) {
    try {
      lines.push_back(LineOf(ReadTableReport(directory, name)));
    } catch (const std::exception& error) {
      lines.push_back(PlainLine(directory, name, TableProblem(error, directory, name, passwordsGiven)));
    }
  }
  const bool hearthbook = directory.TableExists(Catalogue().front().FileName);
  if (hearthbook) {
    for (const TablePlan& plan : PlanDatabaseUpdate(folder, {}, /*keepGoing=*/true)) {
      const std::string name = directory.TableNameFor(plan.Entry->FileName);
      auto line = std::find_if(lines.begin(), lines.end(), [&](const TableLine& l) {
        return SameTableName(Utf8ToWindows1252(l.Name), name);
      });
      if (line == lines.end()) {
        lines.push_back({Windows1252ToUtf8(name), std::nullopt, -1, -1, -1, "", ""});
        line = lines.end() - 1;
      }
      if (!plan.Error) {
        line->Update = PlanLevelName(plan);
        continue;
      }
      // A table that cannot be opened has its reason in its own column.
      line->Update = "-";
      if (line->Problem.empty()) {
        try {
          std::rethrow_exception(plan.Error);
        } catch (const std::exception& error) {
          line->Problem = TableProblem(error, directory, name, passwordsGiven);
        }
      }
    }
  }
  if (json) {
    PrintJson(lines, hearthbook, out);
  } else {
    PrintText(lines, hearthbook, out);
  }
}

}  // namespace strata::tools
