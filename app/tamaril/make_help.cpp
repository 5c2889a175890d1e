// make_help FOLDER: writes the desktop program's help pages into FOLDER (a build step).

#include <cstdio>
#include <exception>

#include "ui/help.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_help FOLDER\n", stderr);
    return 1;
  }
  try {
    tamaril::ui::WriteHelpPages(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_help: %s\n", error.what());
    return 1;
  }
  return 0;
}
