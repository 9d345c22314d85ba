// Shared by the tests and the helper process.
#include "ModuleLoader.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <stdexcept>
#include <sys/wait.h>

CK_FUNCTION_LIST* LoadModule()
{
    static CK_FUNCTION_LIST* list = [] {
        void* module = dlopen("velapkcs11.so", RTLD_NOW);
        if (module == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        CK_FUNCTION_LIST* result = nullptr;
        if (getList == nullptr || getList(&result) != CKR_OK || result == nullptr) {
            throw std::runtime_error("no function list");
        }
        return result;
    }();
    return list;
}

int RunTool(const std::string& arguments, std::string* output)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    const std::string command = std::string(bin != nullptr ? bin : ".") + "/vela5-token " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::string text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        text += buffer;
    }
    const int status = pclose(pipe);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
