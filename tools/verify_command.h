// `strata verify DIR [TABLE...]` and `strata repair DIR [TABLE...]
// [--force-index-rebuild]`: verification or repair of the named tables, or
// of every table of the directory, in name order.
//
// Each table's log lines go to out as they are logged (converted to UTF-8),
// its progress (when a progress stream is given) as one line rewritten in
// place. A table that cannot be checked is reported on err as
// "strata: <message>" (in the words of table_problem.h) and the others are
// checked all the same. The exit
// status is 2 when a table could not be checked, else 1 when a verification
// found anything or a repair had to fix anything, else 0. A folder without
// tables raises CommandFinding "no tables in '<DIR>'".
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace strata {
class TDataSession;
}

namespace strata::tools {

struct VerifyRequest {
  bool Repair = false;
  bool ForceIndexRebuild = false;
  std::string Directory;
  std::vector<std::string> Tables;  // none: every table of the directory
  std::string Shown;  // the directory as typed, for messages
  bool PasswordsGiven = false;  // for the words of a table that needs one
};

// The arguments after the subcommand's name; std::invalid_argument with
// the reason when they do not fit.
VerifyRequest ParseVerifyArguments(std::span<const std::string> args, bool repair);

// Runs the request in an active session and returns the exit status.
int RunVerify(TDataSession& session, const VerifyRequest& request, std::ostream& out,
              std::ostream& err, std::ostream* progress);

}  // namespace strata::tools
