#include "tools/schema_sql.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>

#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "engine/values/date_time.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"

namespace strata::tools {

namespace {

using Kind = ExportValue::Kind;

std::string Utf8(std::string_view text) { return Windows1252ToUtf8(text); }

bool IsSystemField(std::uint16_t number) {
  return number == kRecordIdFieldNumber || number == kRecordHashFieldNumber;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A value text of the engine's own forms as a value of the field; none when
// the text does not read (the engine refuses such texts when it creates a
// table, so only a damaged descriptor has one).
std::optional<ExportValue> ValueOfText(const FieldDescriptor& field, const std::string& text) {
  ExportValue value;
  value.Type = ExportKindOf(field);
  bool valid = true;
  try {
    switch (value.Type) {
      case Kind::Text: value.Text = Utf8(text); break;
      case Kind::Integer: value.Integer = EngineTextToLargeint(text); break;
      case Kind::Float: value.Float = EngineTextToFloat(text); break;
      case Kind::Decimal: value.Text = text; break;
      case Kind::Boolean: value.Boolean = EngineTextToBoolean(text); break;
      case Kind::Date: value.Text = DateText(DateTimeToDayNumber(EngineTextToDate(text)), valid); break;
      case Kind::Time:
        value.Text = TimeText(DateTimeToTimeMilliseconds(EngineTextToTime(text)), valid);
        break;
      case Kind::Timestamp: {
        const double moment = EngineTextToTimestamp(text);
        value.Text = DateText(DateTimeToDayNumber(moment), valid);
        if (valid) value.Text += 'T' + TimeText(DateTimeToTimeMilliseconds(moment), valid);
        break;
      }
      default: value.Text = text; break;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!valid) return std::nullopt;
  return value;
}

// DEFAULT clause text, empty when there is none to give.
std::string DefaultClause(const FieldDescriptor& field, SqlDialect dialect) {
  if (field.DefaultValue.empty() || field.EngineType == kTypeBlob) return {};
  const ExportValue::Kind kind = ExportKindOf(field);
  if (kind == Kind::Date || kind == Kind::Time || kind == Kind::Timestamp) {
    for (const char* keyword : {"CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP"}) {
      if (SameWord(field.DefaultValue, keyword)) return std::string(" DEFAULT ") + keyword;
    }
  }
  // A new GUID for every record has no portable default.
  if (kind == Kind::Text && SameWord(field.DefaultValue, "CURRENT_GUID")) return {};
  const auto value = ValueOfText(field, field.DefaultValue);
  return value ? " DEFAULT " + SqlLiteral(*value, dialect) : std::string();
}

std::string CheckClause(const FieldDescriptor& field, SqlDialect dialect) {
  if (field.EngineType == kTypeBlob) return {};
  const std::string column = QuoteIdentifier(Utf8(field.Name));
  std::vector<std::string> parts;
  if (!field.MinValue.empty()) {
    if (const auto value = ValueOfText(field, field.MinValue)) {
      parts.push_back(column + " >= " + SqlLiteral(*value, dialect));
    }
  }
  if (!field.MaxValue.empty()) {
    if (const auto value = ValueOfText(field, field.MaxValue)) {
      parts.push_back(column + " <= " + SqlLiteral(*value, dialect));
    }
  }
  if (parts.empty()) return {};
  return " CHECK (" + parts.front() + (parts.size() > 1 ? " AND " + parts.back() : "") + ")";
}

const FieldDescriptor* FieldNumbered(const TableReport& table, std::uint16_t number) {
  for (const FieldDescriptor& field : table.Fields) {
    if (field.FieldNumber == number) return &field;
  }
  return nullptr;
}

// One key part of an index; primaryKey: the parts of a PRIMARY KEY
// constraint, which PostgreSQL takes as plain column names.
std::string KeyPart(const TableReport& table, const IndexReport& index, const KeyFieldReport& key,
                    SqlDialect dialect, bool primaryKey) {
  const FieldDescriptor* field = FieldNumbered(table, key.Number);
  std::string part = QuoteIdentifier(Utf8(key.Name));
  const bool text = field != nullptr && field->EngineType == kTypeString;
  if (dialect == SqlDialect::Postgresql) {
    if (primaryKey) return part;
    if (index.CaseInsensitive && text) part = "lower(" + part + ")";
  } else if (index.CaseInsensitive && text) {
    part += " COLLATE NOCASE";
  }
  if (key.Descending) part += " DESC";
  return part;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Control characters other than tab and line feed: the clients' line
// readers may change them (the sqlite3 shell drops a CR before a line feed).
bool NeedsEscape(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 && c != '\t' && c != '\n';
}

std::string HexByte(unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  return {kHex[byte >> 4], kHex[byte & 15]};
}

// The most control characters a SQLite text literal turns back with
// replace(); a text with more is written in hex.
constexpr int kMostReplaces = 4;

// The token standing for an escaped character in a SQLite literal.
std::string SqliteToken(char marker, char c) {
  if (c == '\r') return {marker, 'r'};
  return std::string(1, marker) + 'x' + HexByte(static_cast<unsigned char>(c));
}

std::string SqliteText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return "CAST(X'" + Hex(text) + "' AS TEXT)";
  }
  bool escaped[32] = {};
  int kinds = 0;
  for (const char c : text) {
    bool& seen = escaped[static_cast<unsigned char>(c) & 31];
    if (NeedsEscape(c) && !seen) {
      seen = true;
      ++kinds;
    }
  }
  if (kinds == 0) return Quoted(text);
  // Each kind nests one replace(); SQLite's parser takes only a few levels.
  if (kinds > kMostReplaces) return "CAST(X'" + Hex(text) + "' AS TEXT)";
  // A marker the text does not hold, so that every marker in the literal
  // starts a token.
  char marker = 0;
  for (const char candidate : std::string_view("\\~^`|#@$%&")) {
    if (text.find(candidate) == std::string_view::npos) {
      marker = candidate;
      break;
    }
  }
  if (marker == 0) return "CAST(X'" + Hex(text) + "' AS TEXT)";
  std::string literal;
  for (const char c : text) literal += NeedsEscape(c) ? SqliteToken(marker, c) : std::string(1, c);
  std::string sql = Quoted(literal);
  for (int c = 1; c < 32; ++c) {
    if (!escaped[c]) continue;
    sql = "replace(" + sql + ",'" + SqliteToken(marker, static_cast<char>(c)) + "',char(" +
          std::to_string(c) + "))";
  }
  return sql;
}

std::string PostgresqlText(std::string_view text) {
  if (std::none_of(text.begin(), text.end(), NeedsEscape)) return Quoted(text);
  std::string literal = "E'";
  for (const char c : text) {
    switch (c) {
      case '\\': literal += "\\\\"; break;
      case '\'': literal += "''"; break;
      case '\r': literal += "\\r"; break;
      case '\b': literal += "\\b"; break;
      case '\f': literal += "\\f"; break;
      default:
        literal += NeedsEscape(c) ? "\\x" + HexByte(static_cast<unsigned char>(c)) : std::string(1, c);
    }
  }
  return literal + "'";
}

}  // namespace

SqlDialect SqlDialectNamed(std::string_view name) {
  if (SameWord(name, "sqlite")) return SqlDialect::Sqlite;
  if (SameWord(name, "postgresql")) return SqlDialect::Postgresql;
  throw std::invalid_argument("unknown dialect '" + std::string(name) +
                              "' (sqlite or postgresql)");
}

std::string QuoteIdentifier(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string SqlTypeOf(const FieldDescriptor& field, SqlDialect dialect) {
  const bool pg = dialect == SqlDialect::Postgresql;
  const std::string length = std::to_string(field.DeclaredLength);
  switch (field.EngineType) {
    case kTypeString:
      return field.SubType == kSubTypeFixedChar ? "CHAR(" + length + ")"
                                                : "VARCHAR(" + length + ")";
    case kTypeDate: return "DATE";
    case kTypeBlob: return ExportKindOf(field) == Kind::Text ? "TEXT" : (pg ? "BYTEA" : "BLOB");
    case kTypeBoolean: return "BOOLEAN";
    case kTypeSmallint: return "SMALLINT";
    case kTypeInteger:
    case kTypeOtherInteger:
    case kTypeWord: return "INTEGER";
    case kTypeLargeint:
    case kTypeOtherLargeint: return "BIGINT";
    case kTypeFloat: return pg ? "DOUBLE PRECISION" : "REAL";
    case kTypeBcd: return "NUMERIC(32," + std::to_string(field.DeclaredDecimals) + ")";
    case kTypeTime: return pg ? "TIME(3)" : "TIME";
    case kTypeTimestamp: return pg ? "TIMESTAMP(3)" : "TIMESTAMP";
    default: return pg ? "BYTEA" : "BLOB";
  }
}

std::string SqlLiteral(const ExportValue& value, SqlDialect dialect) {
  const bool pg = dialect == SqlDialect::Postgresql;
  switch (value.Type) {
    case Kind::Null: return "NULL";
    case Kind::Integer: return std::to_string(value.Integer);
    case Kind::Float: return ShortestDouble(value.Float);
    case Kind::Decimal: return value.Text;
    case Kind::Boolean: return pg ? (value.Boolean ? "TRUE" : "FALSE") : (value.Boolean ? "1" : "0");
    case Kind::Binary: return pg ? "'\\x" + Hex(value.Text) + "'" : "X'" + Hex(value.Text) + "'";
    case Kind::Text: return pg ? PostgresqlText(value.Text) : SqliteText(value.Text);
    default: return Quoted(value.Text);
  }
}

std::string CreateTableSql(const TableReport& table, SqlDialect dialect) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(Utf8(table.Table)) + " (";
  bool first = true;
  for (const FieldDescriptor& field : table.Fields) {
    sql += first ? "\n  " : ",\n  ";
    first = false;
    sql += QuoteIdentifier(Utf8(field.Name)) + " " + SqlTypeOf(field, dialect);
    if (field.Required != 0) sql += " NOT NULL";
    sql += DefaultClause(field, dialect);
    sql += CheckClause(field, dialect);
  }
  if (!table.Indexes.empty() && table.Indexes.front().Slot == 0) {
    const IndexReport& primary = table.Indexes.front();
    std::vector<std::string> parts;
    bool system = primary.KeyFields.empty();
    for (const KeyFieldReport& key : primary.KeyFields) {
      if (IsSystemField(key.Number)) system = true;
      parts.push_back(KeyPart(table, primary, key, dialect, true));
    }
    if (!system) {
      sql += ",\n  PRIMARY KEY (";
      for (std::size_t i = 0; i < parts.size(); ++i) sql += (i > 0 ? ", " : "") + parts[i];
      sql += ")";
    }
  }
  return sql + "\n);\n";
}

std::vector<std::string> CreateIndexSql(const TableReport& table, SqlDialect dialect) {
  std::vector<std::string> statements;
  const std::string tableName = Utf8(table.Table);
  for (const IndexReport& index : table.Indexes) {
    if (index.Slot == 0 || index.FullText) continue;
    std::vector<std::string> parts;
    bool withSystemField = false;
    for (const KeyFieldReport& key : index.KeyFields) {
      if (IsSystemField(key.Number)) {
        withSystemField = true;
        continue;
      }
      parts.push_back(KeyPart(table, index, key, dialect, false));
    }
    if (parts.empty()) continue;
    // Without its RecordID part an index may no longer be unique.
    const bool unique = index.Unique && !withSystemField;
    std::string sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                      QuoteIdentifier(tableName + "_" + Utf8(index.Name)) + " ON " +
                      QuoteIdentifier(tableName) + " (";
    for (std::size_t i = 0; i < parts.size(); ++i) sql += (i > 0 ? ", " : "") + parts[i];
    statements.push_back(sql + ");\n");
  }
  return statements;
}

}  // namespace strata::tools
