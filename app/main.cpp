// The tollwick executable: the headless command line. Without arguments it starts the dialog,
// which lives in tollwick-dialog beside it, so this program never loads a GUI library.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/command_line.h"

namespace {

constexpr const char* kDialogProgram = "tollwick-dialog";

// Replaces this process with the dialog program beside it; returns only when that failed.
int StartDialog(char** argv) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string dialog = (error ? std::filesystem::path(argv[0]) : self)
                                 .parent_path()
                                 .append(kDialogProgram)
                                 .string();
  std::vector<char*> dialogArgv{const_cast<char*>(dialog.c_str()), nullptr};
  ::execv(dialog.c_str(), dialogArgv.data());
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
  int code = tollwick::RunCommandLine(args, std::cout, std::cerr);
  std::cout.flush();
  std::cerr.flush();
  return code;
}
