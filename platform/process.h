// Process services: current and temporary directories, thread identity,
// sleeping, ticks, local time, the numeric locale and GUIDs.
#pragma once

#include <cstdint>
#include <string>

namespace strata::platform {

// The process's current directory, with a trailing "/".
std::string CurrentDirectory();

// $TMPDIR, else "/tmp", with a trailing "/".
std::string TemporaryPath();

// The calling thread's identifier (gettid) in decimal.
std::string ThreadIdText();

void SleepMilliseconds(std::uint32_t milliseconds);

// Milliseconds of a steady clock.
std::uint64_t TickCount();

struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The C library's local date and time.
LocalDateTime LocalNow();

// The decimal point of the process's numeric locale.
char DecimalSeparator();

// The peak resident memory of the process so far (or since the last reset),
// in bytes.
std::uint64_t PeakResidentBytes();
// Lowers the peak to what is resident now; false where that is not
// possible.
bool ResetPeakResidentBytes();

// The processors the process may run on (its CPU affinity), at least 1.
int UsableProcessors();

// True when the process's standard error is an interactive terminal (a
// progress line rewritten in place makes sense there, not in a file).
bool StandardErrorIsTerminal();

// A random version-4 UUID in the 38-character braced upper-case form
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string NewGuidText();

}  // namespace strata::platform
