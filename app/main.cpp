// The tollwick executable: the dialog without arguments, else the headless command line.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_dialog.h"

int main(int argc, char** argv) {
  // The folder names follow the user's locale; nothing else here depends on it.
  std::setlocale(LC_ALL, "");
  if (argc <= 1) return tollwick::RunDialog(argc, argv);
  tollwick::InstallStopSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  int code = tollwick::RunCommandLine(args, std::cout, std::cerr);
  std::cout.flush();
  return code;
}
