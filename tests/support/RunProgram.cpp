#include "RunProgram.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::string Slurp(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
} // namespace

ProgramResult RunProgram(const std::string& program, const std::string& arguments)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    static int counter = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path()
        / ("run-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    const std::string out = base.string() + ".out";
    const std::string err = base.string() + ".err";
    const std::string command = "'" + std::string(bin != nullptr ? bin : ".") + "/" + program + "' "
        + arguments + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    ProgramResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = Slurp(out);
    result.err = Slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}
