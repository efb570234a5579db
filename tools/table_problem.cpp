#include "tools/table_problem.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>

#include "engine/core/journal/table_journal.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/table_file_header.h"
#include "engine/formats/table_file_owner.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"

namespace strata::tools {

namespace {

constexpr std::size_t kStartSize =
    table_file_header_layout::kSignatureDigest + table_file_header_layout::kSignatureDigestSize;

// The first bytes every table file starts with; none when the file cannot
// be read that far.
std::optional<TableFileHeader> ReadStart(const std::string& path) {
  platform::OpenedFile opened =
      platform::CurrentFileSystem().Open(path, platform::OpenRequest{.readOnly = true});
  if (!opened.handle) return std::nullopt;
  std::array<std::uint8_t, kStartSize> image{};
  const std::int64_t got =
      opened.handle->ReadAt(0, std::as_writable_bytes(std::span(image)));
  opened.handle->Close();
  if (got != static_cast<std::int64_t>(image.size())) return std::nullopt;
  TableFileHeader header;
  header.DecodeStart(image);
  return header;
}

// What is wrong with the header of the first file of the table that this
// engine does not read; empty when none is found (an enciphered index or
// BLOB header cannot be looked at).
std::string BadHeader(TDataDirectory& directory, std::string_view table) {
  const std::string name = directory.TableNameFor(table);
  const TDataTable probe(directory, name, name, false, false, /*readOnly=*/true);
  const Digest& signature = directory.Engine().SignatureDigest();
  for (const TableFileKind kind : {TableFileKind::Data, TableFileKind::Index, TableFileKind::Blob}) {
    const std::string path = probe.FilePath(kind);
    const std::optional<TableFileHeader> header = ReadStart(path);
    if (!header) continue;
    if (header->FormatVersion != kCurrentFormatVersion) {
      return "'" + path + "' has format version " + std::to_string(header->FormatVersion) +
             " where " + std::to_string(kCurrentFormatVersion) + " is expected";
    }
    // Only the data file's header is never enciphered.
    if (kind == TableFileKind::Data && header->SignatureDigest != signature &&
        header->SignatureDigest != kDefaultSignatureDigest) {
      return "'" + path + "' does not carry this engine's signature";
    }
  }
  return {};
}

std::string PasswordProblem(bool passwordsGiven) {
  return passwordsGiven ? "the table is encrypted and none of the passwords given opens it"
                        : "the table is encrypted; give its password with --password";
}

bool NamesJournal(const EStrataEngineError& error) {
  return error.Code == STRATA_OSEACCES && error.TableName.ends_with(TableJournal::kExtension);
}

std::string JournalProblem(const EStrataEngineError& error) {
  return "a change to it was interrupted (" +
         std::filesystem::path(Windows1252ToUtf8(error.TableName)).filename().string() +
         "); run strata repair";
}

std::string OwnMessage(const std::exception& error) {
  if (const auto* database = dynamic_cast<const EDatabaseError*>(&error)) {
    return Windows1252ToUtf8(database->Message());
  }
  return error.what();
}

}  // namespace

std::optional<std::string> ExplainedTableProblem(const std::exception& error,
                                                 TDataDirectory& directory,
                                                 std::string_view table, bool passwordsGiven) {
  const auto* engine = dynamic_cast<const EStrataEngineError*>(&error);
  if (engine == nullptr) return std::nullopt;
  if (engine->Code == STRATA_NOTSUFFTABLERIGHTS) return PasswordProblem(passwordsGiven);
  if (NamesJournal(*engine)) return JournalProblem(*engine);
  if (engine->Code == STRATA_OLDVERSION || engine->Code == STRATA_BADSIGNATURE) {
    std::string found;
    try {
      found = BadHeader(directory, table);
    } catch (const std::exception&) {
      // The file names cannot be formed: the engine's own message stays.
    }
    if (!found.empty()) return found;
  }
  return std::nullopt;
}

std::string TableProblem(const std::exception& error, TDataDirectory& directory,
                         std::string_view table, bool passwordsGiven) {
  return ExplainedTableProblem(error, directory, table, passwordsGiven).value_or(OwnMessage(error));
}

std::string ErrorMessage(const std::exception& error, bool passwordsGiven) {
  if (const auto* engine = dynamic_cast<const EStrataEngineError*>(&error)) {
    const std::string table = Windows1252ToUtf8(engine->TableName);
    if (engine->Code == STRATA_NOTSUFFTABLERIGHTS) {
      return "table '" + table + "': " + PasswordProblem(passwordsGiven);
    }
    if (NamesJournal(*engine)) {
      const std::string file = std::filesystem::path(table).filename().string();
      return "table '" + file.substr(0, file.size() - std::string_view(TableJournal::kExtension).size()) +
             "': " + JournalProblem(*engine);
    }
  }
  return OwnMessage(error);
}

}  // namespace strata::tools
