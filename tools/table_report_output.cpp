#include "tools/table_report_output.h"

#include <string>

#include "engine/locale/windows1252.h"
#include "tools/json_writer.h"
#include "tools/reported_field_type.h"
#include "tools/text_table.h"

namespace strata::tools {

namespace {

std::string Utf8(std::string_view windows1252) { return Windows1252ToUtf8(windows1252); }
std::string YesNo(bool value) { return value ? "yes" : "no"; }
template <typename Number>
std::string Text(Number value) {
  return std::to_string(value);
}

std::string KeyFieldsText(const IndexReport& index) {
  std::string text;
  for (const KeyFieldReport& key : index.KeyFields) {
    if (!text.empty()) text += ", ";
    text += Utf8(key.Name);
    if (key.Descending) text += " DESC";
  }
  return text;
}

void PrintHeader(const TableReport& report, std::ostream& out) {
  const DataFileHeader& h = report.Header;
  TextTable table;
  table.AddRow({"Format version", Text(h.FormatVersion)});
  table.AddRow({"Record count", Text(h.RecordCount)});
  table.AddRow({"Next record number", Text(h.NextRecordNumber)});
  table.AddRow({"First free record", Text(h.FirstFreeRecord)});
  table.AddRow({"Last RecordID", Text(h.LastRecordID)});
  table.AddRow({"Last auto-increment value", Text(h.LastAutoIncValue)});
  table.AddRow({"Last BLOB revision", Text(h.LastBlobRevision)});
  table.AddRow({"Record size", Text(h.RecordSize)});
  table.AddRow({"Field count", Text(h.FieldCount)});
  table.AddRow({"BLOB field count", Text(h.BlobFieldCount)});
  table.AddRow({"BLOB block size", Text(h.BlobBlockSize)});
  table.AddRow({"Index page size", Text(h.IndexPageSize)});
  table.AddRow({"Locale", Text(h.LocaleID) + " (" +
                              (report.LocaleName ? Utf8(*report.LocaleName) : "not installed") +
                              ")"});
  table.AddRow({"User major version", Text(h.UserMajorVersion)});
  table.AddRow({"User minor version", Text(h.UserMinorVersion)});
  table.AddRow({"Description", Utf8(h.Description)});
  table.AddRow({"Encrypted", YesNo(h.Encrypted != 0)});
  table.AddRow({"Last updated", LastUpdatedText(h.LastUpdated).value_or("-")});
  table.AddRow({"Change count", Text(h.ChangeCount)});
  table.Print(out, "  ");
}

void PrintFields(const TableReport& report, std::ostream& out) {
  TextTable table;
  table.AddRow({"No", "Name", "Type", "Engine type", "Sub-type", "Size", "Decimals",
                "Physical size", "Offset", "Required", "Case", "Minimum", "Maximum", "Default",
                "Compression"});
  for (const FieldDescriptor& f : report.Fields) {
    table.AddRow({Text(f.FieldNumber), Utf8(f.Name),
                  std::string(FieldTypeName(ReportedFieldType(f.EngineType, f.SubType))),
                  Text(f.EngineType), Text(f.SubType), Text(ReportedFieldSize(f)),
                  Text(f.DeclaredDecimals), Text(f.PhysicalSize), Text(f.FieldOffset),
                  YesNo(f.Required != 0), CharCaseName(f.CharCase), Utf8(f.MinValue),
                  Utf8(f.MaxValue), Utf8(f.DefaultValue), Text(f.Compression)});
  }
  table.Print(out, "  ");
}

void PrintIndexes(const TableReport& report, std::ostream& out) {
  TextTable table;
  table.AddRow({"Slot", "Name", "Key fields", "Unique", "Case-insensitive", "Compression",
                "Key length", "Root page"});
  for (const IndexReport& index : report.Indexes) {
    table.AddRow({Text(index.Slot), Utf8(index.Name), KeyFieldsText(index), YesNo(index.Unique),
                  YesNo(index.CaseInsensitive), IndexCompressionName(index.Compression),
                  Text(index.KeyLength), Text(index.RootPage)});
  }
  table.Print(out, "  ");
}

void WriteHeaderJson(const TableReport& report, JsonWriter& json) {
  const DataFileHeader& h = report.Header;
  json.Key("header");
  json.BeginObject();
  json.Member("formatVersion", std::int64_t{h.FormatVersion});
  json.Member("recordCount", std::int64_t{h.RecordCount});
  json.Member("nextRecordNumber", std::int64_t{h.NextRecordNumber});
  json.Member("firstFreeRecord", std::int64_t{h.FirstFreeRecord});
  json.Member("lastRecordID", std::int64_t{h.LastRecordID});
  json.Member("lastAutoIncValue", std::int64_t{h.LastAutoIncValue});
  json.Member("lastBlobRevision", std::int64_t{h.LastBlobRevision});
  json.Member("recordSize", std::int64_t{h.RecordSize});
  json.Member("fieldCount", std::int64_t{h.FieldCount});
  json.Member("blobFieldCount", std::int64_t{h.BlobFieldCount});
  json.Member("blobBlockSize", std::int64_t{h.BlobBlockSize});
  json.Member("indexPageSize", std::int64_t{h.IndexPageSize});
  json.Member("localeID", std::int64_t{h.LocaleID});
  json.Key("localeName");
  if (report.LocaleName) {
    json.String(Utf8(*report.LocaleName));
  } else {
    json.Null();
  }
  json.Member("userMajorVersion", std::int64_t{h.UserMajorVersion});
  json.Member("userMinorVersion", std::int64_t{h.UserMinorVersion});
  json.Member("description", Utf8(h.Description));
  json.Member("encrypted", h.Encrypted != 0);
  json.Key("lastUpdated");
  if (const auto text = LastUpdatedText(h.LastUpdated)) {
    json.String(*text);
  } else {
    json.Null();
  }
  json.Member("changeCount", std::int64_t{h.ChangeCount});
  json.EndObject();
}

void WriteFieldsJson(const TableReport& report, JsonWriter& json) {
  json.Key("fields");
  json.BeginArray();
  for (const FieldDescriptor& f : report.Fields) {
    json.BeginObject();
    json.Member("number", std::int64_t{f.FieldNumber});
    json.Member("name", Utf8(f.Name));
    json.Member("type", FieldTypeName(ReportedFieldType(f.EngineType, f.SubType)));
    json.Member("engineType", std::int64_t{f.EngineType});
    json.Member("subType", std::int64_t{f.SubType});
    json.Member("size", std::int64_t{ReportedFieldSize(f)});
    json.Member("decimals", std::int64_t{f.DeclaredDecimals});
    json.Member("physicalSize", std::int64_t{f.PhysicalSize});
    json.Member("offset", std::int64_t{f.FieldOffset});
    json.Member("required", f.Required != 0);
    json.Member("charCase", CharCaseName(f.CharCase));
    json.Member("minValue", Utf8(f.MinValue));
    json.Member("maxValue", Utf8(f.MaxValue));
    json.Member("defaultValue", Utf8(f.DefaultValue));
    json.Member("compression", std::int64_t{f.Compression});
    json.EndObject();
  }
  json.EndArray();
}

void WriteIndexesJson(const TableReport& report, JsonWriter& json) {
  json.Key("indexes");
  json.BeginArray();
  for (const IndexReport& index : report.Indexes) {
    json.BeginObject();
    json.Member("slot", std::int64_t{index.Slot});
    json.Member("name", Utf8(index.Name));
    json.Key("fields");
    json.BeginArray();
    for (const KeyFieldReport& key : index.KeyFields) {
      json.BeginObject();
      json.Member("number", std::int64_t{key.Number});
      json.Member("name", Utf8(key.Name));
      json.Member("descending", key.Descending);
      json.EndObject();
    }
    json.EndArray();
    json.Member("unique", index.Unique);
    json.Member("caseInsensitive", index.CaseInsensitive);
    json.Member("compression", IndexCompressionName(index.Compression));
    json.Member("keyLength", std::int64_t{index.KeyLength});
    json.Member("rootPage", std::int64_t{index.RootPage});
    json.Member("fullText", index.FullText);
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

void PrintTableReport(const TableReport& report, std::ostream& out) {
  out << "Table      " << report.Table << '\n';
  out << "Directory  " << report.Directory << "\n\n";
  out << "Header\n";
  PrintHeader(report, out);
  out << "\nFields\n";
  PrintFields(report, out);
  out << "\nIndexes\n";
  PrintIndexes(report, out);
}

void PrintTableReportJson(const TableReport& report, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Member("table", report.Table);
  json.Member("directory", report.Directory);
  WriteHeaderJson(report, json);
  WriteFieldsJson(report, json);
  WriteIndexesJson(report, json);
  json.EndObject();
}

}  // namespace strata::tools
