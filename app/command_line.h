// The headless tollwick command line: generate, spider, last, --help and --version. It turns
// arguments into the dialog's fields, runs the Generate run with hooks that print to the
// terminal, and maps the outcome to an exit code. The dialog is not reached from here yet.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/generate_run.h"

namespace tollwick {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

inline constexpr char kVersionText[] = "Tollwick Version 1.0";

struct CommandLineContext {
  // Stands in for the spider in tests; empty means the real one.
  PageSourceFactory makeSource;
};

// Runs the command in args (without the program name); results go to out, progress and errors
// to err. Returns the exit code: 0 done, 2 usage error, 1 any other failure.
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
