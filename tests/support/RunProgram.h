// Runs one of the kit's command-line programs from the program's folder and
// keeps its exit status and both of its outputs apart.
#pragma once

#include <string>

struct ProgramResult {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

// program is a file name in $VELA5_BIN_DIR; arguments go through the shell.
ProgramResult RunProgram(const std::string& program, const std::string& arguments);
