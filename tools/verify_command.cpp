#include "tools/verify_command.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/journal/table_journal.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/engine_error.h"
#include "engine/locale/windows1252.h"
#include "update/catalogue.h"
#include "tools/catalogue_indexes.h"
#include "tools/command_line.h"
#include "tools/directory_reference.h"
#include "tools/progress_line.h"
#include "tools/table_failures.h"
#include "tools/table_problem.h"
#include "tools/table_report.h"

namespace strata::tools {

namespace {

constexpr std::string_view kForceOption = "--force-index-rebuild";

// A Hearthbook table whose index file was lost: the catalogue still knows
// its index definitions. Verify names them; repair gives them back.
void ReportLostCatalogueIndexes(TDataDirectory& directory, const std::string& table, bool repair,
                                std::ostream& out) {
  const CatalogueEntry* entry = CatalogueEntryOf(table);
  if (entry == nullptr) return;
  const std::string name = Windows1252ToUtf8(table);
  if (!repair) {
    out << name << ": index definitions lost with the index file, as the catalogue gives them: "
        << DescribeCatalogueIndexes(*entry) << '\n';
    return;
  }
  try {
    const RestoredIndexes restored = RestoreCatalogueIndexes(directory, table, *entry);
    auto list = [](const std::vector<std::string>& names) {
      std::string text;
      for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
      return text;
    };
    out << name << ": index definitions restored from the catalogue: " << list(restored.Restored)
        << '\n';
    if (!restored.Skipped.empty()) {
      out << name << ": not restored, the table lacks one of their fields: "
          << list(restored.Skipped) << '\n';
    }
  } catch (const std::exception& error) {
    out << name << ": the catalogue's index definitions could not be restored: " << error.what()
        << '\n';
  }
}

}  // namespace

VerifyRequest ParseVerifyArguments(std::span<const std::string> args, bool repair) {
  const std::string command = repair ? "repair" : "verify";
  VerifyRequest request;
  request.Repair = repair;
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (repair && arg == kForceOption) {
      request.ForceIndexRebuild = true;
    } else if (arg.size() > 1 && arg.starts_with("-")) {
      throw std::invalid_argument(command + ": unknown option '" + arg + "'");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.empty()) throw std::invalid_argument(command + ": expected a directory");
  request.Directory = operands.front();
  request.Tables.assign(operands.begin() + 1, operands.end());
  return request;
}

int RunVerify(TDataSession& session, const VerifyRequest& request, std::ostream& out,
              std::ostream& err, std::ostream* terminal) {
  DirectoryReference reference(session, request.Directory, request.Repair);
  TDataDirectory& directory = *reference;
  bool finding = false;
  bool failed = false;
  // A table whose change was interrupted is finished or undone by a repair
  // before it is checked; verify, which changes nothing, says so instead.
  std::vector<std::string> interrupted;
  try {
    if (request.Repair) {
      directory.RecoverTables();
    } else {
      // A change another program is running is waited for as the table
      // opens; a journal that records nothing is no change.
      for (const std::string& table : directory.TablesWithJournals()) {
        if (directory.ChangeState(table) == JournalState::Interrupted) interrupted.push_back(table);
      }
    }
  } catch (const EDatabaseError& error) {
    err << "strata: " << Windows1252ToUtf8(error.Message()) << '\n';
    return kExitError;
  }
  const std::vector<std::string> tables =
      request.Tables.empty() ? directory.ListTables() : request.Tables;
  if (tables.empty() && interrupted.empty()) {
    throw CommandFinding("no tables in '" +
                         (request.Shown.empty() ? request.Directory : request.Shown) + "'");
  }
  const bool hearthbook = directory.TableExists(Catalogue().front().FileName);
  for (const std::string& table : interrupted) {
    if (!request.Tables.empty() &&
        std::none_of(tables.begin(), tables.end(),
                     [&](const std::string& t) { return SameTableName(t, table); })) {
      continue;
    }
    out << Windows1252ToUtf8(table) << ": a change was interrupted; " << Windows1252ToUtf8(table)
        << TableJournal::kExtension
        << " records it, and strata repair or strata update finishes or undoes it\n";
    finding = true;
  }
  for (const std::string& table : tables) {
    if (std::any_of(interrupted.begin(), interrupted.end(),
                    [&](const std::string& t) { return SameTableName(t, table); })) {
      continue;
    }
    ProgressLine progress(terminal);
    try {
      TDataCursor cursor(directory, table,
                         CursorModes{.Exclusive = true, .ReadOnly = !request.Repair});
      cursor.OnLog = [&](std::string_view line) {
        progress.Clear();
        out << Windows1252ToUtf8(line) << '\n' << std::flush;
      };
      cursor.OnProgress = [&](std::uint16_t percent, std::string_view text) {
        progress.Show(Windows1252ToUtf8(table) + ": " + std::string(text), percent);
      };
      if (!cursor.VerifyOrRepairTable(request.Repair, request.ForceIndexRebuild)) finding = true;
      if (cursor.LostIndex() != LostIndexFile::None && hearthbook) {
        ReportLostCatalogueIndexes(directory, table, request.Repair, out);
      }
    } catch (const EDatabaseError& error) {
      progress.Clear();
      const std::optional<std::string> problem =
          ExplainedTableProblem(error, directory, table, request.PasswordsGiven);
      err << "strata: "
          << (problem ? Windows1252ToUtf8(table) + ": " + *problem : ErrorMessage(error, request.PasswordsGiven))
          << '\n';
      failed = true;
    } catch (const TableReportError& error) {
      progress.Clear();
      err << "strata: " << error.what() << '\n';
      failed = true;
    }
  }
  return failed ? kExitError : finding ? kExitFinding : kExitSuccess;
}

}  // namespace strata::tools
