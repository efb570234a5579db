// A crash point for tests that kill a program at a chosen file operation.
// When the environment variable STRATA_TEST_CRASH_AFTER holds
// "<operation>:<n>", InstallCrashPointFromEnvironment puts a file system in
// force for the whole process that kills it with SIGKILL right after the
// n-th successful operation of that kind: "rename", "delete", "create"
// (CreateAlways and CreateNew), "write", "sync" (of a file or a directory) or
// "any" (all of these). Nothing changes when the variable is not set; a
// value of another form is reported on standard error and ignored.
//
// Programs call it once at start, before any file is touched.
#pragma once

namespace strata::platform {

void InstallCrashPointFromEnvironment();

}  // namespace strata::platform
