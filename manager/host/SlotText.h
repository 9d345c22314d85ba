// Texts the main window derives from module structures: version numbers,
// slot flag names and the fixed-width, blank-padded fields of the module.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstddef>
#include <wx/string.h>

// {2, 1} gives "2.01", {1, 10} gives "1.10", {3, 0} gives "3.00".
wxString FormatVersionText(const CK_VERSION& version);

// The names of the set slot flags, joined by ", ".
wxString GetSlotFlagsText(CK_FLAGS flags);

// A blank-padded field of the module read as ASCII, trailing blanks (and any
// NULs the module left) removed.
wxString TrimmedField(const CK_UTF8CHAR* field, std::size_t size);
