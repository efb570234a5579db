#include "tools/command_line.h"

#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "components/default_components.h"
#include "engine/errors/engine_error.h"
#include "engine/locale/windows1252.h"
#include "tools/table_report.h"
#include "tools/table_report_output.h"
#include "tools/update_command.h"

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

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", "DIR TABLE [--json]", "print a table's header values, fields and indexes",
       RunInfo},
      {"update", "DIR",
       "bring every table of the directory to the current structure, as the window does",
       RunUpdateCommand},
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
