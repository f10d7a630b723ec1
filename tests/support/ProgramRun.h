#pragma once

#include "support/TempFolder.h"

#include <cstdlib>
#include <string>
#include <vector>

// A program run to its end through the shell, as a script runs it, with
// nothing on its input: its exit status and what it printed on each side.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};

inline std::string shellQuoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// arguments[0] is the program.
inline ProgramRun runProgram(const std::vector<std::string>& arguments)
{
    TempFolder scratch;
    std::string command;
    for (const std::string& argument : arguments)
        command += shellQuoted(argument) + " ";
    command += ">" + shellQuoted(scratch.path("out")) + " 2>" + shellQuoted(scratch.path("err")) +
               " </dev/null; echo $? >" + shellQuoted(scratch.path("status"));
    ProgramRun run;
    if (std::system(command.c_str()) == 0)
        run = {std::atoi(readFile(scratch.path("status")).c_str()), readFile(scratch.path("out")),
               readFile(scratch.path("err"))};
    return run;
}
