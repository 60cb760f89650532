#include <iostream>

#include "cli/cli.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  return tessaly::cli::Run(argc, argv, std::cout, std::cerr, tessaly::platform::StderrIsTerminal());
}
