// tamaril-cli: the replication engine for scripts and scheduled transfers.

#include <exception>
#include <iostream>

#include "tamaril-cli/cli.h"

int main(int argc, char** argv) {
  try {
    tamaril::cli::Cli cli(std::cout, std::cerr);
    return cli.Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tamaril-cli: vnitřní chyba: " << e.what() << '\n';
  }
  return 1;
}
