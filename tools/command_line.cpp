#include "tools/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/registry_lookup.h"
#include "components/default_components.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/journal/table_journal.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/engine_error.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "tools/database_folder.h"
#include "tools/directory_reference.h"
#include "tools/export_command.h"
#include "tools/import_command.h"
#include "tools/interrupted_changes.h"
#include "tools/output_sink.h"
#include "tools/progress_line.h"
#include "tools/sample_database.h"
#include "tools/schema_sql.h"
#include "tools/table_report.h"
#include "tools/table_report_output.h"
#include "tools/table_failures.h"
#include "tools/table_problem.h"
#include "tools/tables_command.h"
#include "tools/update_command.h"
#include "tools/update_plan_output.h"
#include "tools/verify_command.h"
#include "update/restructure_database.h"
#include "update/run_folder.h"
#include "update/catalogue.h"
#include "update/update_plan.h"

namespace strata::tools {

namespace {

constexpr char kProgram[] = "strata";
constexpr char kHelpHelp[] =
    "strata help [COMMAND]\n      print this text, or the options of a command\n";

// Wrong arguments: reported with the command's synopsis, status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a command's options are read into, and what runs it.
struct Arguments {
  std::string Dir;
  std::string Table;
  std::vector<std::string> Tables;
  std::vector<std::string> Passwords;
  bool Json = false;
  bool DryRun = false;
  bool NoBackups = false;
  bool Force = false;
  bool Replace = false;
  bool Strict = false;
  std::string Rows;
  std::optional<std::string> Set;
  std::string Dialect = "sqlite";
  ExportRequest Export;
  ImportRequest Import;
  std::string Output;
  std::string NullText;
  std::string Database;
  std::int64_t MemoryMib = kDefaultMemoryBudget >> 20;
  std::optional<double> WaitSeconds;  // none: the engine's lock wait time
  int Threads = 0;  // one per processor the process may use
};

struct Command {
  std::string_view Name;
  std::string_view Synopsis;  // arguments after the name
  std::string_view Summary;
  std::function<void(CLI::App&, Arguments&)> Define;
  // Runs the command: out for its output, err for the tables it could not
  // read; returns the exit status.
  std::function<int(Arguments&, std::ostream& out, std::ostream& err)> Run;
};

std::ostream* ProgressStream() {
  return platform::StandardErrorIsTerminal() ? &std::cerr : nullptr;
}

// The session component the subcommands work in, switched on, with the
// passwords given.
class ActiveComponents {
 public:
  explicit ActiveComponents(const Arguments& arguments) {
    components_.Engine().SetMemoryBudget(arguments.MemoryMib << 20);
    components_.Engine().SetThreads(arguments.Threads);
    components_.Session().SetActive(true);
    // The other program keys a table with its password's Windows-1252
    // bytes, as it names tables; a password this engine was given as UTF-8
    // is kept as well.
    for (const std::string& password : arguments.Passwords) {
      DataSession().AddPassword(Utf8ToWindows1252(password));
      DataSession().AddPassword(password);
    }
    // A table another program holds is tried again every LockWaitTime
    // milliseconds, as often as fits into the time asked for.
    if (arguments.WaitSeconds) {
      const double tries = std::ceil(*arguments.WaitSeconds * 1000.0 /
                                     std::max<std::uint32_t>(DataSession().LockWaitTime(), 1));
      DataSession().SetLockRetryCount(static_cast<std::int32_t>(tries));
    }
  }
  TDataSession& DataSession() const { return components_.Session().DataSession(); }

 private:
  DefaultComponents components_;
};

void AddDir(CLI::App& app, Arguments& a) {
  app.add_option("DIR", a.Dir, "the database folder (a path, relative or absolute)")->required();
}

// DIR and the one table a command works on.
void AddDirAndTable(CLI::App& app, Arguments& a) {
  AddDir(app, a);
  app.add_option("TABLE", a.Table, "the table")->required();
}

// DIR and the tables a command works on: every table when none is named.
void AddDirAndTables(CLI::App& app, Arguments& a) {
  AddDir(app, a);
  app.add_option("TABLE", a.Tables, "tables (default: every table)");
}

// --strict for the commands that read several tables.
void AddStrict(CLI::App& app, Arguments& a) {
  app.add_flag("--strict", a.Strict,
               "stop at the first table that cannot be read (status 2) instead of naming it and "
               "going on (status 1)");
}

void AddPassword(CLI::App& app, Arguments& a) {
  app.add_option("--password", a.Passwords, "password of encrypted tables (repeatable)")
      ->allow_extra_args(false);
}

void AddMemory(CLI::App& app, Arguments& a) {
  app.add_option("--memory", a.MemoryMib,
                 "MiB for the engine's caches and sorts (default " +
                     std::to_string(kDefaultMemoryBudget >> 20) + ")")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 20));
}

// For the commands that rebuild tables.
void AddThreads(CLI::App& app, Arguments& a) {
  app.add_option("--threads", a.Threads,
                 "threads a rebuild may use (default: one per processor; 1 keeps one thread)")
      ->check(CLI::Range(1, 1024));
}

// --wait for the commands that open tables in a session of their own.
void AddWait(CLI::App& app, Arguments& a) {
  const SessionSettings defaults;
  std::ostringstream wait;
  wait << defaults.LockRetryCount * defaults.LockWaitTime / 1000.0;
  app.add_option("--wait", a.WaitSeconds,
                 "seconds to wait for a table that another program is changing or holds "
                 "(default " + wait.str() + ", the engine's lock wait time)")
      ->check(CLI::Range(0.0, 86400.0));
}

// The reason in words when the engine cannot read the one table a
// command works on.
template <typename Read>
auto ReadOneTable(TDataDirectory& directory, const std::string& table, const Arguments& a,
                  Read read) {
  try {
    return read();
  } catch (const EDatabaseError& error) {
    const std::optional<std::string> problem =
        ExplainedTableProblem(error, directory, table, !a.Passwords.empty());
    if (!problem) throw;
    throw std::runtime_error(Windows1252ToUtf8(table) + ": " + *problem);
  }
}

int RunInfo(Arguments& a, std::ostream& out, std::ostream&) {
  ActiveComponents components(a);
  DirectoryReference reference(components.DataSession(), DatabaseFolder(a.Dir));
  const std::string table = Utf8ToWindows1252(a.Table);
  const TableReport report =
      ReadOneTable(*reference, table, a, [&] { return ReadTableReport(*reference, table); });
  if (a.Json) {
    PrintTableReportJson(report, out);
  } else {
    PrintTableReport(report, out);
  }
  return kExitSuccess;
}

int RunTablesCommand(Arguments& a, std::ostream& out, std::ostream&) {
  ActiveComponents components(a);
  RunTables(components.DataSession(), DatabaseFolder(a.Dir), a.Dir, a.Json, !a.Passwords.empty(),
            out);
  return kExitSuccess;
}

int RunSchema(Arguments& a, std::ostream& out, std::ostream& err) {
  const SqlDialect dialect = SqlDialectNamed(a.Dialect);
  ActiveComponents components(a);
  DirectoryReference reference(components.DataSession(), DatabaseFolder(a.Dir));
  TableFailures failures(*reference, !a.Tables.empty(), a.Strict, !a.Passwords.empty(), err);
  std::string text;
  for (const std::string& table : TablesToRead(*reference, a.Tables, a.Dir)) {
    failures.Read(table, [&] {
      const TableReport report = ReadTableReport(*reference, table);
      std::string statements = CreateTableSql(report, dialect);
      for (const std::string& index : CreateIndexSql(report, dialect)) statements += index;
      text += statements;
    });
  }
  out << text;
  return failures.Status();
}

int RunCount(Arguments& a, std::ostream& out, std::ostream& err) {
  ActiveComponents components(a);
  DirectoryReference reference(components.DataSession(), DatabaseFolder(a.Dir));
  TableFailures failures(*reference, !a.Tables.empty(), a.Strict, !a.Passwords.empty(), err);
  for (const std::string& table : TablesToRead(*reference, a.Tables, a.Dir)) {
    failures.Read(table, [&] {
      const TableReport report = ReadTableReport(*reference, table);
      out << report.Header.RecordCount << " " << Windows1252ToUtf8(report.Table) << "\n";
    });
  }
  return failures.Status();
}

int RunExportCommand(Arguments& a, std::ostream& out, std::ostream&) {
  ActiveComponents components(a);
  a.Export.Folder = DatabaseFolder(a.Dir);
  a.Export.Table = Utf8ToWindows1252(a.Table);
  a.Export.Dialect = a.Dialect;
  if (!a.Output.empty()) a.Export.Output = a.Output;
  DirectoryReference reference(components.DataSession(), a.Export.Folder);
  ReadOneTable(*reference, a.Export.Table, a, [&] {
    RunExport(components.DataSession(), a.Export, out, ProgressStream());
  });
  return kExitSuccess;
}

int RunExportSqliteCommand(Arguments& a, std::ostream& out, std::ostream& err) {
  ActiveComponents components(a);
  SqliteExportRequest request;
  request.Folder = DatabaseFolder(a.Dir);
  request.Shown = a.Dir;
  request.Database = a.Database;
  request.Tables = a.Tables;
  request.Replace = a.Replace;
  DirectoryReference reference(components.DataSession(), request.Folder);
  TableFailures failures(*reference, !a.Tables.empty(), a.Strict, !a.Passwords.empty(), err);
  request.Failures = &failures;
  RunExportSqlite(components.DataSession(), request, out, ProgressStream());
  return failures.Status();
}

// The update refuses a table whose header disagrees with its files rather
// than rebuild it from that header (and lose rows or values); repair is what
// fixes such a header, so the message says how to run it.
template <typename Work>
auto SuggestingRepair(const Arguments& a, Work work) {
  try {
    return work();
  } catch (const EStrataEngineError& error) {
    if (error.Code != STRATA_HEADERCORRUPT || error.TableName.empty()) throw;
    throw std::runtime_error(Windows1252ToUtf8(error.Message()) + "; run 'strata repair " + a.Dir +
                             " " + Windows1252ToUtf8(error.TableName) +
                             "' to repair the table, then the update again");
  }
}

int RunImportCommand(Arguments& a, std::ostream& out, std::ostream& err) {
  ActiveComponents components(a);
  a.Import.Folder = DatabaseFolder(a.Dir);
  a.Import.Table = a.Table;
  if (!a.NullText.empty()) a.Import.NullText = a.NullText;
  if (!a.Output.empty()) a.Import.Rejects = a.Output;
  a.Import.DryRun = a.DryRun;
  return RunImport(components.DataSession(), a.Import, out, err, ProgressStream());
}

int RunUpdateCommand(Arguments& a, std::ostream& out, std::ostream&) {
  const std::string folder = DatabaseFolder(a.Dir);
  const std::string first = Catalogue().front().FileName;
  // A journal in its place: an update was interrupted while it swapped the
  // table's files, and this run finishes that first.
  const std::string journal = TableNameOf(first, ".dat") + TableJournal::kExtension;
  if (!platform::CurrentFileSystem().FileExists(folder + first) &&
      !platform::CurrentFileSystem().FileExists(folder + journal)) {
    throw EDatabaseError("the folder '" + a.Dir + "' holds no " + first +
                         ", the first table of the database; the update needs a database of "
                         "the home organiser there");
  }
  ActiveComponents components(a);
  if (!a.DryRun) {
    SuggestingRepair(a, [&] {
      // What a killed run left is recovered first, and said.
      const std::vector<InterruptedChange> interrupted = InterruptedChanges(folder);
      { const RunFolder recovered(folder); }
      for (const InterruptedChange& change : interrupted) out << RecoveredLine(change) << '\n';
      RunUpdate(folder, a.NoBackups, out, ProgressStream());
    });
    return kExitSuccess;
  }
  ProgressLine line(ProgressStream());
  std::string table;
  PlanProgress progress;
  progress.OnTable = [&](std::size_t, const CatalogueEntry& entry) { table = entry.FileName; };
  progress.OnPercent = [&](std::uint16_t percent) { line.Show(table, percent); };
  // The first table the update would stop at stops the dry run too.
  const std::vector<TablePlan> plans =
      SuggestingRepair(a, [&] { return PlanDatabaseUpdate(folder, progress); });
  line.Clear();
  PrintUpdatePlan(plans, out);
  return PlanLosesValues(plans) ? kExitFinding : kExitSuccess;
}

int RunVerifyCommand(Arguments& a, std::ostream& out, std::ostream& err, bool repair) {
  VerifyRequest request;
  request.Repair = repair;
  request.ForceIndexRebuild = a.Force;
  request.Directory = DatabaseFolder(a.Dir);
  request.Shown = a.Dir;
  request.PasswordsGiven = !a.Passwords.empty();
  for (const std::string& table : a.Tables) request.Tables.push_back(Utf8ToWindows1252(table));
  ActiveComponents components(a);
  if (!repair) return RunVerify(components.DataSession(), request, out, err, ProgressStream());
  // A folder without tables gets no lock file and no temporary folder.
  if (request.Tables.empty()) {
    DirectoryReference reading(components.DataSession(), request.Directory);
    if ((*reading).ListTables().empty() && (*reading).TablesWithJournals().empty()) {
      throw CommandFinding("no tables in '" + a.Dir + "'");
    }
  }
  // A repair sorts in a temporary folder of its own inside the database
  // folder, after the interrupted changes of the folder are recovered.
  const std::vector<InterruptedChange> interrupted = InterruptedChanges(request.Directory);
  const RunFolder folder(request.Directory);
  for (const InterruptedChange& change : interrupted) out << RecoveredLine(change) << '\n';
  return RunVerify(components.DataSession(), request, out, err, ProgressStream());
}

int RunSampleDb(Arguments& a, std::ostream& out, std::ostream&) {
  std::int32_t rows = kDefaultSampleRows;
  if (!a.Rows.empty()) {
    long value = -1;
    const char* end = a.Rows.data() + a.Rows.size();
    const auto [stop, failure] = std::from_chars(a.Rows.data(), end, value);
    if (failure != std::errc() || stop != end || value < 0 || value > kMaxSampleRows) {
      throw UsageError("--rows takes a number from 0 to " + std::to_string(kMaxSampleRows) +
                       ", not '" + a.Rows + "'");
    }
    rows = static_cast<std::int32_t>(value);
  }
  DefaultComponents components;
  components.Engine().SetMemoryBudget(a.MemoryMib << 20);
  CreateSampleFolder(a.Dir, rows);
  out << "Wrote " << SampleTables().size() << " tables of " << rows << " rows each to " << a.Dir
      << "\n";
  return kExitSuccess;
}

// The data directory in the current user's registry, read as the window
// reads it; with --set DIR, registers DIR when none is registered yet (or
// replaces it with --force). The window resolves a relative path against
// whatever folder it starts in, so only the absolute path of an existing
// folder is stored.
int RunDataPath(Arguments& a, std::ostream& out, std::ostream&) {
  platform::RegistryStore store(platform::RegistryStore::DefaultPath());
  const std::string registered = ReadRegistryString(store, HKEY_CURRENT_USER, kDataPathRegistryPath, "");
  if (!a.Set) {
    if (registered.empty()) return kExitFinding;
    out << registered << "\n";
    return kExitSuccess;
  }
  if (a.Set->empty()) throw UsageError("the directory is empty");
  const std::string folder = AbsoluteFolderPath(*a.Set);
  if (!registered.empty() && !a.Force) {
    throw EDatabaseError("A data directory is already registered ('" + registered + "' in '" +
                         store.FilePath() + "'); --force replaces it");
  }
  if (!WriteRegistryString(store, HKEY_CURRENT_USER, kDataPathRegistryPath, folder)) {
    throw EDatabaseError("Cannot write the registry file '" + store.FilePath() + "'");
  }
  return kExitSuccess;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"tables", "DIR [--json]",
       "list every table with its record count, file sizes, version and encryption, and the "
       "update each table of a home-organiser database needs",
       [](CLI::App& app, Arguments& a) {
         AddDir(app, a);
         app.add_flag("--json", a.Json, "one JSON array");
       },
       RunTablesCommand},
      {"info", "DIR TABLE [--json]", "print a table's header values, fields and indexes",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTable(app, a);
         app.add_flag("--json", a.Json, "one JSON object");
       },
       RunInfo},
      {"schema", "DIR [TABLE...] [--dialect sqlite|postgresql] [--strict]",
       "print CREATE TABLE and CREATE INDEX statements that reproduce the tables",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTables(app, a);
         app.add_option("--dialect", a.Dialect, "sqlite (default) or postgresql");
         AddStrict(app, a);
       },
       RunSchema},
      {"count", "DIR [TABLE...] [--strict]",
       "print the record count of each table (every table of DIR when none is named)",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTables(app, a);
         AddStrict(app, a);
       },
       RunCount},
      {"export",
       "DIR TABLE [--format csv|json|jsonl|sql] [--output FILE|-] [--fields A,B,...] [--null TEXT] "
       "[--nul-as TEXT] [--dialect sqlite|postgresql]",
       "write a table's records as CSV, JSON, JSON lines or SQL",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTable(app, a);
         app.add_option("--format", a.Export.Format, "csv (default), json, jsonl or sql");
         app.add_option("--output", a.Output,
                        "the file to write (default, or -: standard output)");
         app.add_option("--fields", a.Export.Fields, "the fields to export, in this order")
             ->delimiter(',')
             ->allow_extra_args(false);
         app.add_option("--null", a.Export.NullText, "the CSV text of NULL (default: empty)");
         app.add_option("--nul-as", a.Export.NulAs,
                        "what a NUL byte in a text becomes (PostgreSQL text cannot hold one)");
         app.add_option("--dialect", a.Dialect, "the SQL dialect: sqlite (default) or postgresql");
       },
       RunExportCommand},
      {"export-sqlite", "DIR OUT.db [TABLE...] [--replace] [--strict]",
       "copy every table (or those named) into a new SQLite database",
       [](CLI::App& app, Arguments& a) {
         AddDir(app, a);
         app.add_option("OUT.db", a.Database, "the SQLite database to write (-: standard output)")
             ->required();
         app.add_option("TABLE", a.Tables, "tables (default: every table)");
         app.add_flag("--replace", a.Replace, "replace an existing OUT.db");
         AddStrict(app, a);
       },
       RunExportSqliteCommand},
      {"import",
       "DIR TABLE FILE [--format csv|json|jsonl|sqlite] [--from-table NAME] [--fields A,B,...] "
       "[--null TEXT] [--mode append|replace] [--rejects FILE] [--dry-run] [--threads N]",
       "put the rows of a CSV, JSON, JSON lines or SQLite file into a table, all or nothing "
       "(status 1 when rows were refused into --rejects)",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTable(app, a);
         app.add_option("FILE", a.Import.File, "the file to read")->required();
         app.add_option("--format", a.Import.Format,
                        "csv, json, jsonl or sqlite (default: from the file's extension)");
         app.add_option("--from-table", a.Import.FromTable,
                        "the SQLite table to read (default: TABLE)");
         app.add_option("--fields", a.Import.Fields,
                        "the fields the columns fill, in column order (default: by name)")
             ->delimiter(',')
             ->allow_extra_args(false);
         app.add_option("--null", a.NullText, "the CSV text of NULL (default: an empty field)");
         app.add_option("--mode", a.Import.Mode,
                        "append (default) adds the rows; replace empties the table first");
         app.add_option("--rejects", a.Output,
                        "import the rows that fit and write the refused ones to this file");
         app.add_flag("--dry-run", a.DryRun, "check every row, change nothing");
         AddThreads(app, a);
       },
       RunImportCommand},
      {"update", "DIR [--dry-run] [--no-backups] [--threads N]",
       "bring every table of the folder to the current structure, as the window does, and say "
       "what values were lost or changed; with --dry-run only say what that would do (status 1 "
       "when values could be lost or changed)",
       [](CLI::App& app, Arguments& a) {
         AddDir(app, a);
         app.add_flag("--dry-run", a.DryRun, "write nothing; list the work per table");
         app.add_flag("--no-backups", a.NoBackups,
                      "keep no .dbk, .ibk and .bbk backups of the tables' previous files");
         AddThreads(app, a);
       },
       RunUpdateCommand},
      {"verify", "DIR [TABLE...]",
       "check tables (every table of DIR when none is named) and print each finding",
       [](CLI::App& app, Arguments& a) { AddDirAndTables(app, a); },
       [](Arguments& a, std::ostream& out, std::ostream& err) {
         return RunVerifyCommand(a, out, err, false);
       }},
      {"repair", "DIR [TABLE...] [--force-index-rebuild] [--threads N]",
       "check tables and fix what is found, printing each finding",
       [](CLI::App& app, Arguments& a) {
         AddDirAndTables(app, a);
         app.add_flag("--force-index-rebuild", a.Force, "rebuild every index");
         AddThreads(app, a);
       },
       [](Arguments& a, std::ostream& out, std::ostream& err) {
         return RunVerifyCommand(a, out, err, true);
       }},
      {"sample-db", "DIR [--rows N]",
       "write a database of an earlier structure into DIR, for trying the update",
       [](CLI::App& app, Arguments& a) {
         app.add_option("DIR", a.Dir, "the folder to write")->required();
         app.add_option("--rows", a.Rows, "rows per table (default 300)");
       },
       RunSampleDb},
      {"data-path", "[--set DIR [--force]]",
       "print the registered data directory (status 1 when there is none), or register the "
       "absolute path of the folder DIR when none is registered (--force: replace it)",
       [](CLI::App& app, Arguments& a) {
         app.add_option_function<std::string>(
             "--set", [&a](const std::string& folder) { a.Set = folder; },
             "the folder to register (an existing folder; stored as an absolute path)");
         app.add_flag("--force", a.Force, "replace a registered data directory");
       },
       RunDataPath},
  };
  return commands;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.Name == name) return &command;
  }
  return nullptr;
}

bool TakesPassword(const Command& command) {
  return command.Name != "sample-db" && command.Name != "data-path";
}

// The command's own parser: its operands and options, --password for the
// commands that open tables, and --help.
std::unique_ptr<CLI::App> ParserFor(const Command& command, Arguments& arguments) {
  auto app = std::make_unique<CLI::App>(std::string(command.Summary),
                                        std::string(kProgram) + " " + std::string(command.Name));
  command.Define(*app, arguments);
  if (TakesPassword(command)) AddPassword(*app, arguments);
  if (TakesPassword(command) && command.Name != "update") AddWait(*app, arguments);
  if (command.Name != "data-path") AddMemory(*app, arguments);
  app->allow_extras();
  return app;
}

std::string HelpOf(const Command& command) {
  Arguments arguments;
  const auto app = ParserFor(command, arguments);
  return "strata " + std::string(command.Name) + " " + std::string(command.Synopsis) + "\n" +
         app->help();
}

// One line, whatever the message holds.
void PrintError(std::ostream& err, std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  err << kProgram << ": " << message << '\n';
}

std::string Version() { return std::string(kProgram) + " " + STRATA_VERSION + "\n"; }

// The command's arguments read; UsageError for what does not fit.
void Parse(const Command& command, Arguments& arguments, std::span<const std::string> args) {
  const auto app = ParserFor(command, arguments);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app->parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::string message = error.what();
    // "The following argument ..." reads on after the command's name; an
    // argument's name ("TABLE is required") stays as it is.
    if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
        std::islower(static_cast<unsigned char>(message[1]))) {
      message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    }
    throw UsageError(std::string(command.Name) + ": " + message);
  }
  for (const std::string& extra : app->remaining()) {
    if (extra.size() > 1 && extra.front() == '-') {
      throw UsageError(std::string(command.Name) + ": unknown option '" + extra + "'");
    }
    throw UsageError(std::string(command.Name) + ": unexpected argument '" + extra + "'");
  }
}

}  // namespace

std::string UsageText() {
  std::string text = "usage: strata <command> [arguments]\n\ncommands:\n";
  for (const Command& command : Commands()) {
    text += "  strata " + std::string(command.Name) + " " + std::string(command.Synopsis);
    if (TakesPassword(command)) text += " [--password PW]...";
    text += "\n      " + std::string(command.Summary) + "\n";
  }
  text += std::string("  ") + kHelpHelp;
  text += "  strata --version\n      print the program's version\n";
  text += "\nDIR is always a folder path, relative to the current directory or absolute.\n";
  text += "exit status: 0 success, 1 a finding, 2 an error or bad usage\n";
  return text;
}

int RunStrata(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintError(err, "no command given; try 'strata help'");
    return kExitError;
  }
  const std::string& name = args.front();
  if (name == "--version") {
    out << Version();
    return kExitSuccess;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    if (args.size() == 1) {
      out << UsageText();
      return kExitSuccess;
    }
    if (args[1] == "help" && args.size() == 2) {
      out << kHelpHelp;
      return kExitSuccess;
    }
    const Command* command = FindCommand(args[1]);
    if (command == nullptr || args.size() > 2) {
      PrintError(err, "help: unknown command '" + args[1] + "'; try 'strata help'");
      return kExitError;
    }
    out << HelpOf(*command);
    return kExitSuccess;
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) {
    PrintError(err, "unknown command '" + name + "'; try 'strata help'");
    return kExitError;
  }
  const std::span<const std::string> rest = args.subspan(1);
  for (const std::string& arg : rest) {
    if (arg == "--help" || arg == "-h") {
      out << HelpOf(*command);
      return kExitSuccess;
    }
  }
  Arguments arguments;
  try {
    Parse(*command, arguments, rest);
    return command->Run(arguments, out, err);
  } catch (const UsageError& error) {
    PrintError(err, std::string(error.what()) + " (usage: strata " + std::string(command->Name) +
                        " " + std::string(command->Synopsis) + ")");
  } catch (const CommandFinding& finding) {
    PrintError(err, finding.what());
    return kExitFinding;
  } catch (const std::invalid_argument& error) {
    PrintError(err, std::string(command->Name) + ": " + error.what());
  } catch (const std::exception& error) {
    PrintError(err, ErrorMessage(error, !arguments.Passwords.empty()));
  }
  return kExitError;
}

}  // namespace strata::tools
