// Drives the software token's control tool from a test, the way an
// administrator would; a failing command fails the test.
#pragma once

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

// Runs vela5-token from binDir; returns the first line of its output.
inline std::string RunTokenTool(const std::string& binDir, const std::string& arguments)
{
    const std::string command = "'" + binDir + "/vela5-token' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) {
        return {};
    }
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    EXPECT_EQ(pclose(pipe), 0) << command << ": " << output;
    return output.substr(0, output.find('\n'));
}
