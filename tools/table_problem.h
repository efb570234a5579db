// Why a table cannot be read, in words a user can act on, for the listing
// of `strata tables` and the messages of every command:
//
//   - an encrypted table without a password given: "the table is
//     encrypted; give its password with --password"; with passwords given
//     that do not open it: "the table is encrypted and none of the
//     passwords given opens it";
//   - a table another program holds: "another program is changing the
//     table; try again when it has finished, or wait longer with --wait
//     SECONDS" (its journal or its files held exclusively), or "another
//     program has the table open (it holds '<path>'); run this again when
//     it has closed the table, ..." (a command that needs it alone), or,
//     when the change ended as the command gave up, "another program was
//     changing the table and has just finished; run this again";
//   - a journal beside the table (the engine refuses a reader with
//     STRATA_OSEACCES naming it): "a change to it was interrupted
//     (<table>.journal); run strata repair";
//   - a file whose header this engine does not read (STRATA_OLDVERSION,
//     STRATA_BADSIGNATURE, which name only the table): the file and what is
//     wrong with it, "'<path>' has format version 0 where 6 is expected" or
//     "'<path>' does not carry this engine's signature";
//   - anything else: the error's own message (engine messages in UTF-8),
//     for an engine error with the field it names when the message does
//     not say it (" (field 'Notes')") and a Detail the message leaves out
//     (a full disk: ": no space left on the device", kNoSpaceDetail).
//
// Reads at most the first bytes of the table's files and the journal, and
// takes their share locks only for the moment of a look; changes nothing.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace strata {
class TDataDirectory;
}

namespace strata::tools {

std::string TableProblem(const std::exception& error, TDataDirectory& directory,
                         std::string_view table, bool passwordsGiven);
// The same, but only for the cases above that have words of their own:
// none when the error's own message is all there is to say.
std::optional<std::string> ExplainedTableProblem(const std::exception& error,
                                                 TDataDirectory& directory,
                                                 std::string_view table, bool passwordsGiven);

// The message of an error that ended a command, with the same wording for
// the cases above that need no directory (passwords, journals, a full
// disk); a header this engine does not read is named after the engine's
// message when the error names its table and folder ("...: '<path>' has
// format version 0 where 6 is expected"), the signature left unchecked.
std::string ErrorMessage(const std::exception& error, bool passwordsGiven);

}  // namespace strata::tools
