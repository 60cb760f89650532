// tessaly-cli: the size report and the conversion from a shell, on the same
// command routines as the window.
#pragma once

#include <ostream>

namespace tessaly::cli {

// Runs the command line `argv` and returns the process exit code: 0 when the
// command did its whole job, 1 when it failed, 2 for a usage error.
// `library_folder` empty means the executable's own folder.
int Run(int argc, char** argv, std::ostream& out, std::ostream& err, bool err_is_terminal,
        const char* library_folder = "");

}  // namespace tessaly::cli
