#include "tools/tables_command.h"

#include <optional>

#include "engine/core/schema/table_names.h"
#include "engine/locale/windows1252.h"
#include "tools/directory_reference.h"
#include "tools/json_writer.h"
#include "tools/table_report.h"
#include "tools/text_table.h"
#include "tools/update_plan_output.h"
#include "update/update_plan.h"

namespace strata::tools {

namespace {

struct TableLine {
  std::string Name;  // UTF-8
  std::optional<TableReport> Report;  // none: a catalogue table that is missing
  std::string Update;  // empty outside a database of the home organiser
};

std::string Version(const DataFileHeader& header) {
  return std::to_string(header.UserMajorVersion) + "." + std::to_string(header.UserMinorVersion);
}

void PrintText(const std::vector<TableLine>& lines, bool withUpdate, std::ostream& out) {
  TextTable table;
  std::vector<std::string> heading = {"Table", "Records", "Data bytes", "Index bytes",
                                      "BLOB bytes", "Version", "Format", "Encrypted"};
  if (withUpdate) heading.push_back("Update");
  table.AddRow(heading);
  for (const TableLine& line : lines) {
    std::vector<std::string> row = {line.Name};
    if (line.Report) {
      const TableReport& r = *line.Report;
      row.insert(row.end(), {std::to_string(r.Header.RecordCount), std::to_string(r.DataFileSize),
                             std::to_string(r.IndexFileSize), std::to_string(r.BlobFileSize),
                             Version(r.Header), std::to_string(r.Header.FormatVersion),
                             r.Header.Encrypted != 0 ? "yes" : "no"});
    } else {
      row.insert(row.end(), {"-", "-", "-", "-", "-", "-", "-"});
    }
    if (withUpdate) row.push_back(line.Update);
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
    json.Member("exists", line.Report.has_value());
    if (line.Report) {
      const TableReport& r = *line.Report;
      json.Member("records", std::int64_t{r.Header.RecordCount});
      json.Member("dataBytes", r.DataFileSize);
      json.Member("indexBytes", r.IndexFileSize);
      json.Member("blobBytes", r.BlobFileSize);
      json.Member("version", Version(r.Header));
      json.Member("formatVersion", std::int64_t{r.Header.FormatVersion});
      json.Member("encrypted", r.Header.Encrypted != 0);
    }
    if (withUpdate) {
      json.Key("update");
      if (line.Update == "-") {
        json.Null();
      } else {
        json.String(line.Update);
      }
    }
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

void RunTables(TDataSession& session, const std::string& folder, bool json, std::ostream& out) {
  DirectoryReference reference(session, folder);
  TDataDirectory& directory = *reference;
  std::vector<TableLine> lines;
  for (const std::string& name : directory.ListTables()) {
    lines.push_back({Windows1252ToUtf8(name), ReadTableReport(directory, name), "-"});
  }
  const bool hearthbook = directory.TableExists(Catalogue().front().FileName);
  if (hearthbook) {
    for (const TablePlan& plan : PlanDatabaseUpdate(folder)) {
      const std::string name = directory.TableNameFor(plan.Entry->FileName);
      auto line = std::find_if(lines.begin(), lines.end(), [&](const TableLine& l) {
        return SameTableName(Utf8ToWindows1252(l.Name), name);
      });
      if (line == lines.end()) {
        lines.push_back({Windows1252ToUtf8(name), std::nullopt, ""});
        line = lines.end() - 1;
      }
      line->Update = PlanLevelName(plan);
    }
  }
  if (json) {
    PrintJson(lines, hearthbook, out);
  } else {
    PrintText(lines, hearthbook, out);
  }
}

}  // namespace strata::tools
