// Running tessaly-cli in process, for the CLI's tests.
#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "support/test_env.h"

namespace tessaly::cli {

// Whole-text match with ECMAScript syntax, the same on every platform.
inline bool Matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

inline Outcome RunCli(std::vector<std::string> args,
                      const std::string& library = testing::RealLibFolder(),
                      bool terminal = false) {
  args.insert(args.begin(), "tessaly-cli");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::ostringstream out;
  std::ostringstream err;
  const int code =
      Run(static_cast<int>(argv.size()), argv.data(), out, err, terminal, library.c_str());
  return {code, out.str(), err.str()};
}

}  // namespace tessaly::cli
