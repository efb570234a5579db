#include "tools/command_line.h"

#include <exception>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/registry_lookup.h"
#include "components/default_components.h"
#include "engine/errors/engine_error.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "tools/sample_database.h"
#include "tools/table_report.h"
#include "tools/table_report_output.h"
#include "tools/update_command.h"
#include "tools/verify_command.h"

namespace strata::tools {

namespace {

constexpr char kProgram[] = "strata";

// Wrong arguments: reported with the command's synopsis, status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Command {
  std::string_view Name;
  std::string_view Synopsis;  // arguments after the name
  std::string_view Summary;
  std::function<int(std::span<const std::string>, std::ostream&)> Run;
};

// The session component the subcommands work in, switched on.
class ActiveComponents {
 public:
  ActiveComponents() { components_.Session().SetActive(true); }
  TDataSession& DataSession() const { return components_.Session().DataSession(); }

 private:
  DefaultComponents components_;
};

int RunInfo(std::span<const std::string> args, std::ostream& out) {
  std::vector<std::string> operands;
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg.size() > 1 && arg.starts_with("-")) {
      throw UsageError("info: unknown option '" + arg + "'");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) throw UsageError("info: expected a directory and a table name");
  ActiveComponents components;
  const TableReport report = ReadTableReport(components.DataSession(), operands[0], operands[1]);
  if (json) {
    PrintTableReportJson(report, out);
  } else {
    PrintTableReport(report, out);
  }
  return kExitSuccess;
}

int RunUpdateCommand(std::span<const std::string> args, std::ostream& out) {
  for (const std::string& arg : args) {
    if (arg.size() > 1 && arg.starts_with("-")) {
      throw UsageError("update: unknown option '" + arg + "'");
    }
  }
  if (args.size() != 1) throw UsageError("update: expected a directory");
  DefaultComponents components;
  RunUpdate(args[0], out);
  return kExitSuccess;
}

int RunSampleDb(std::span<const std::string> args, std::ostream& out) {
  std::vector<std::string> operands;
  std::int32_t rows = kDefaultSampleRows;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--rows") {
      if (i + 1 == args.size()) throw UsageError("sample-db: --rows needs a number");
      const std::string& text = args[++i];
      std::size_t used = 0;
      long value = -1;
      try {
        value = std::stol(text, &used);
      } catch (const std::exception&) {
      }
      if (used != text.size() || value < 0 || value > kMaxSampleRows) {
        throw UsageError("sample-db: --rows takes a number from 0 to " +
                         std::to_string(kMaxSampleRows) + ", not '" + text + "'");
      }
      rows = static_cast<std::int32_t>(value);
    } else if (args[i].size() > 1 && args[i].starts_with("-")) {
      throw UsageError("sample-db: unknown option '" + args[i] + "'");
    } else {
      operands.push_back(args[i]);
    }
  }
  if (operands.size() != 1) throw UsageError("sample-db: expected a directory");
  if (!platform::CreateDirectories(operands[0])) {
    throw EDatabaseError("Cannot create the directory '" + operands[0] +
                         "': " + std::generic_category().message(platform::LastErrorNumber()));
  }
  DefaultComponents components;
  WriteSampleDatabase(operands[0], rows);
  out << "Wrote " << SampleTables().size() << " tables of " << rows << " rows each to "
      << operands[0] << "\n";
  return kExitSuccess;
}

// The data directory in the current user's registry, read as the window
// reads it; with --set DIR, registers DIR when none is registered yet.
int RunDataPath(std::span<const std::string> args, std::ostream& out) {
  platform::RegistryStore store(platform::RegistryStore::DefaultPath());
  const std::string registered = ReadRegistryString(store, HKEY_CURRENT_USER, kDataPathRegistryPath, "");
  if (args.empty()) {
    if (registered.empty()) return kExitFinding;
    out << registered << "\n";
    return kExitSuccess;
  }
  if (args.size() != 2 || args[0] != "--set") throw UsageError("data-path: unexpected arguments");
  if (!registered.empty()) {
    throw EDatabaseError("A data directory is already registered ('" + registered +
                         "'); it is left as it is");
  }
  if (args[1].empty()) throw UsageError("data-path: the directory is empty");
  if (!WriteRegistryString(store, HKEY_CURRENT_USER, kDataPathRegistryPath, args[1])) {
    throw EDatabaseError("Cannot write the registry file '" + store.FilePath() + "'");
  }
  return kExitSuccess;
}

int RunVerifyCommand(std::span<const std::string> args, std::ostream& out, bool repair) {
  VerifyRequest request;
  try {
    request = ParseVerifyArguments(args, repair);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
  ActiveComponents components;
  return RunVerify(components.DataSession(), request, out, std::cerr,
                   platform::StandardErrorIsTerminal() ? &std::cerr : nullptr);
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", "DIR TABLE [--json]", "print a table's header values, fields and indexes",
       RunInfo},
      {"update", "DIR",
       "bring every table of the directory to the current structure, as the window does",
       RunUpdateCommand},
      {"verify", "DIR [TABLE...]",
       "check tables (every table of DIR when none is named) and print each finding",
       [](std::span<const std::string> args, std::ostream& out) {
         return RunVerifyCommand(args, out, false);
       }},
      {"repair", "DIR [TABLE...] [--force-index-rebuild]",
       "check tables and fix what is found, printing each finding",
       [](std::span<const std::string> args, std::ostream& out) {
         return RunVerifyCommand(args, out, true);
       }},
      {"sample-db", "DIR [--rows N]",
       "write a database of an earlier structure into DIR, for trying the update",
       RunSampleDb},
      {"data-path", "[--set DIR]",
       "print the registered data directory (status 1 when there is none), or register DIR "
       "when none is registered",
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

// One line, whatever the message holds.
void PrintError(std::ostream& err, std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  err << kProgram << ": " << message << '\n';
}

}  // namespace

std::string UsageText() {
  std::string text = "usage: strata <command> [arguments]\n\ncommands:\n";
  for (const Command& command : Commands()) {
    text += "  strata " + std::string(command.Name) + " " + std::string(command.Synopsis) +
            "\n      " + std::string(command.Summary) + "\n";
  }
  text += "  strata help\n      print this text\n";
  text += "\nexit status: 0 success, 1 a finding, 2 an error or bad usage\n";
  return text;
}

int RunStrata(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintError(err, "no command given; try 'strata help'");
    return kExitError;
  }
  const std::string& name = args.front();
  if (name == "help" || name == "--help" || name == "-h") {
    out << UsageText();
    return kExitSuccess;
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) {
    PrintError(err, "unknown command '" + name + "'; try 'strata help'");
    return kExitError;
  }
  try {
    return command->Run(args.subspan(1), out);
  } catch (const UsageError& error) {
    PrintError(err, std::string(error.what()) + " (usage: strata " + std::string(command->Name) +
                        " " + std::string(command->Synopsis) + ")");
  } catch (const EDatabaseError& error) {
    PrintError(err, Windows1252ToUtf8(error.Message()));
  } catch (const std::exception& error) {
    PrintError(err, error.what());
  }
  return kExitError;
}

}  // namespace strata::tools
