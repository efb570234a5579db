#include "tools/table_problem.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "engine/core/journal/table_journal.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/table_file_header.h"
#include "engine/formats/table_file_owner.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

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

// What is wrong with the header of the first of the files that this engine
// does not read; empty when none is found (an enciphered index or BLOB
// header cannot be looked at). The signature is checked only when known.
std::string BadHeader(const std::vector<std::string>& paths, const Digest* signature) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::optional<TableFileHeader> header = ReadStart(path);
    if (!header) continue;
    if (header->FormatVersion != kCurrentFormatVersion) {
      return "'" + path + "' has format version " + std::to_string(header->FormatVersion) +
             " where " + std::to_string(kCurrentFormatVersion) + " is expected";
    }
    // Only the data file's header (the first) is never enciphered.
    if (i == 0 && signature != nullptr && header->SignatureDigest != *signature &&
        header->SignatureDigest != kDefaultSignatureDigest) {
      return "'" + path + "' does not carry this engine's signature";
    }
  }
  return {};
}

std::string BadHeader(TDataDirectory& directory, std::string_view table) {
  const std::string name = directory.TableNameFor(table);
  const TDataTable probe(directory, name, name, false, false, /*readOnly=*/true);
  return BadHeader({probe.FilePath(TableFileKind::Data), probe.FilePath(TableFileKind::Index),
                    probe.FilePath(TableFileKind::Blob)},
                   &directory.Engine().SignatureDigest());
}

// The same for an error that names its table and folder, without an engine
// at hand: the files under their usual names.
std::string BadHeader(const EStrataEngineError& error) {
  if (error.DatabaseName.empty() || error.TableName.empty() ||
      error.TableName.find('/') != std::string::npos) {
    return {};
  }
  std::string table = error.TableName;
  if (table.size() > 4 && table.ends_with(".dat")) table.resize(table.size() - 4);
  const std::string base = error.DatabaseName + "/" + table;
  return BadHeader({base + ".dat", base + ".idx", base + ".blb"}, nullptr);
}

std::string PasswordProblem(bool passwordsGiven) {
  return passwordsGiven ? "the table is encrypted and none of the passwords given opens it"
                        : "the table is encrypted; give its password with --password";
}

bool IsHeaderVersionError(const EStrataEngineError& error) {
  return error.Code == STRATA_OLDVERSION || error.Code == STRATA_BADSIGNATURE;
}

bool NamesJournal(const EStrataEngineError& error) {
  return error.Code == STRATA_OSEACCES && error.TableName.ends_with(TableJournal::kExtension);
}

// The name of the table a file path belongs to, in UTF-8.
std::string TableOfPath(const std::string& path) {
  return std::filesystem::path(Windows1252ToUtf8(path)).stem().string();
}

// A refusal that another program's hold explains: the journal of a change
// it is making, or a table file whose share lock it holds. The probes take
// the file's share lock for a moment, as any reader does.
std::optional<std::string> HeldProblem(const EStrataEngineError& error) {
  if (error.Code != STRATA_OSEACCES || error.TableName.find('/') == std::string::npos) {
    return std::nullopt;
  }
  constexpr const char* kLonger = ", or wait longer with --wait SECONDS";
  platform::FileSystem& files = platform::CurrentFileSystem();
  if (NamesJournal(error)) {
    switch (TableJournal::Inspect(files, error.TableName)) {
      case JournalState::Interrupted: return std::nullopt;  // JournalProblem says it
      case JournalState::InProgress:
        return "another program is changing the table; try again when it has finished" +
               std::string(kLonger);
      case JournalState::None:
      case JournalState::Complete:
        return std::string("another program was changing the table and has just finished; run "
                           "this again");
    }
  }
  const auto refused = [&](bool exclusive) {
    platform::SetLastErrorNumber(0);
    const platform::OpenRequest request{.exclusive = exclusive, .readOnly = true};
    platform::OpenedFile probe = files.Open(error.TableName, request);
    if (probe.handle) probe.handle->Close();
    return !probe.handle && platform::LastErrorNumber() == EAGAIN;
  };
  if (refused(false)) {
    return "another program is changing the table; try again when it has finished" +
           std::string(kLonger);
  }
  if (refused(true)) {
    return "another program has the table open (it holds '" + Windows1252ToUtf8(error.TableName) +
           "'); run this again when it has closed the table" + std::string(kLonger);
  }
  return std::nullopt;
}

std::string JournalProblem(const EStrataEngineError& error) {
  return "a change to it was interrupted (" +
         std::filesystem::path(Windows1252ToUtf8(error.TableName)).filename().string() +
         "); run strata repair";
}

// The engine's message, the field it names when the message does not say
// it (a BLOB refused on write names only the table), and a detail it leaves
// out ("no space left on the device").
std::string EngineErrorLine(const EStrataEngineError& error) {
  std::string line = error.Message();
  const std::string quoted = "'" + error.FieldName + "'";
  if (!error.FieldName.empty() && line.find(quoted) == std::string::npos) {
    line += " (field " + quoted + ")";
  }
  if (!error.Detail.empty() && line.find(error.Detail) == std::string::npos) {
    line += ": " + error.Detail;
  }
  return Windows1252ToUtf8(line);
}

std::string OwnMessage(const std::exception& error) {
  if (const auto* engine = dynamic_cast<const EStrataEngineError*>(&error)) {
    return EngineErrorLine(*engine);
  }
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
  if (std::optional<std::string> held = HeldProblem(*engine)) return held;
  if (NamesJournal(*engine)) return JournalProblem(*engine);
  if (IsHeaderVersionError(*engine)) {
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
    if (std::optional<std::string> held = HeldProblem(*engine)) {
      return "table '" + TableOfPath(engine->TableName) + "': " + *held;
    }
    if (NamesJournal(*engine)) {
      const std::string file = std::filesystem::path(table).filename().string();
      return "table '" + file.substr(0, file.size() - std::string_view(TableJournal::kExtension).size()) +
             "': " + JournalProblem(*engine);
    }
    if (IsHeaderVersionError(*engine)) {
      const std::string found = BadHeader(*engine);
      if (!found.empty()) return OwnMessage(error) + ": " + found;
    }
  }
  return OwnMessage(error);
}

}  // namespace strata::tools
