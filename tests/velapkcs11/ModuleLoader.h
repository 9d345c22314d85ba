// Loads velapkcs11.so the way the deliverables do: by plain name, resolving
// only C_GetFunctionList.
#pragma once

#include "pkcs11/pkcs11.h"

#include <string>

CK_FUNCTION_LIST* LoadModule();
// Runs vela5-token with the given arguments; returns its exit status and
// fills output with what it printed on stdout.
int RunTool(const std::string& arguments, std::string* output = nullptr);
