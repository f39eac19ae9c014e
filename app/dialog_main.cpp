// tollwick-dialog: the dialog in a program of its own, so that the command line never loads the
// GUI libraries. `tollwick` without arguments starts it.
#include <clocale>

#include "app/main_dialog.h"

int main(int argc, char** argv) {
  // The folder names follow the user's locale; nothing else here depends on it.
  std::setlocale(LC_ALL, "");
  return tollwick::RunDialog(argc, argv);
}
