#pragma once
// Runs one of the project's programs as a process, as a user would, and
// collects its exit status and output.

#include <string>
#include <vector>

namespace hx::test {

struct ProcessRun {
    int status = -1;  // exit status, or 128 + signal, or -1 when it could not run
    std::string out;
    std::string err;
};

// program: a name in the bin folder (env HX40K_TEST_BIN) or a path.
// environment: extra "NAME=value" entries. timeoutSeconds: killed after that.
ProcessRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment = {}, int timeoutSeconds = 120);

std::string binFolder();

}  // namespace hx::test
