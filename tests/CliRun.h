// quenfold-cli started as a script starts it: its exit status, stdout and stderr.
#pragma once

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qf::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// env: NAME=value entries for the program's environment.
inline Outcome cli(const std::vector<std::string>& args, const std::string& cwd = ".",
                   const std::vector<std::string>& env = {})
{
    char errName[] = "/tmp/quenfold-cli-err-XXXXXX";
    const int errFd = mkstemp(errName);
    close(errFd);
    std::string command = "cd " + shellQuote(cwd) + " && ";
    for (const auto& e : env)  // NAME='value', which the shell takes as an assignment
        command += e.substr(0, e.find('=') + 1) + shellQuote(e.substr(e.find('=') + 1)) + " ";
    command += shellQuote(QUENFOLD_CLI_PATH);
    for (const auto& a : args)
        command += " " + shellQuote(a);
    command += " 2>" + shellQuote(errName);
    Outcome o;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot start " << command;
        unlink(errName);
        return o;
    }
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        o.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.err = readFile(errName);
    unlink(errName);
    return o;
}

}  // namespace qf::test
