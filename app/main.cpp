// The tollwick executable: the headless command line. Without arguments it starts the dialog,
// which lives in tollwick-dialog beside it, so this program never loads a GUI library.
#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/command_line.h"
#include "base/platform.h"

namespace {

constexpr const char* kDialogProgram = "tollwick-dialog";

// Replaces this process with the dialog program beside it; returns only when that failed.
int StartDialog(char** argv) {
  std::string folder = quillon::ExecutableFolder(argv[0]);
  const std::string dialog = (folder == "/" ? "" : folder) + "/" + kDialogProgram;
  quillon::ReplaceProcess(dialog.c_str());
  std::fprintf(stderr,
               "tollwick: cannot start the dialog (%s); \"tollwick --help\" lists the commands "
               "that need none.\n",
               dialog.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) return StartDialog(argv);
  // The folder names follow the user's locale; nothing else here depends on it.
  std::setlocale(LC_ALL, "");
  // One write per line on stderr (the progress line of every page), not one per piece.
  std::setvbuf(stderr, nullptr, _IOLBF, BUFSIZ);
  std::cerr.unsetf(std::ios_base::unitbuf);
  tollwick::InstallStopSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  tollwick::CommandLineContext context;
  context.errIsTerminal = quillon::IsTerminal(2);
  int code = tollwick::RunCommandLine(args, std::cout, std::cerr, context);
  std::cout.flush();
  std::cerr.flush();
  return code;
}
