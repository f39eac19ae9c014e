// The headless tollwick command line: generate, spider, last, --help and --version. It turns
// arguments into the dialog's fields (built-in defaults, or the profile's with --from-profile),
// runs the Generate run with hooks that print to the terminal, and maps the outcome to an exit
// code.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/generate_run.h"

namespace tollwick {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// A run ended by a signal exits with 128 + its number (130 SIGINT, 143 SIGTERM).
inline constexpr int kExitSignalBase = 128;

inline constexpr char kVersionText[] = "Tollwick Version 1.0";

struct CommandLineContext {
  // Stands in for the spider in tests; empty means the real one.
  PageSourceFactory makeSource;
  // Stands in for the pause between pages in tests; empty means a real sleep.
  SleepFunction sleep;
  // stderr is a terminal: the progress is one line rewritten in place.
  bool errIsTerminal = false;
};

// Runs the command in args (without the program name); results go to out, progress and errors
// to err. Returns the exit code: 0 done, 2 usage error, 130/143 stopped by SIGINT/SIGTERM (the
// files hold what was gathered), 1 any other failure (the start page could not be fetched, a
// file could not be written).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const CommandLineContext& context = {});

// The usage text printed by --help.
std::string UsageText();

// SIGINT and SIGTERM set the stop flag (a second signal ends the program as usual).
void InstallStopSignals();
bool StopSignalled();
// Clears the flag (tests).
void ResetStopSignalForTests();
// Sets the flag as a signal would (tests).
void RaiseStopForTests();

}  // namespace tollwick
