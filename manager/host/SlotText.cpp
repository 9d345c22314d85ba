#include "SlotText.h"

#include <cstdio>
#include <string>

wxString FormatVersionText(const CK_VERSION& version)
{
    // Single precision on purpose: it is what makes {1, 10} print as 1.1.
    const float value = static_cast<float>(version.major) + static_cast<float>(version.minor) / 100.0f;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
    std::string text = buffer;
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos) {
        text += ".00";
    } else if (text.size() - dot - 1 == 1) {
        text += "0";
    }
    return wxString::FromAscii(text.c_str());
}

wxString GetSlotFlagsText(CK_FLAGS flags)
{
    static const struct {
        CK_FLAGS bit;
        const char* name;
    } names[] = {
        { CKF_TOKEN_PRESENT, "CKF_TOKEN_PRESENT" },
        { CKF_REMOVABLE_DEVICE, "CKF_REMOVABLE_DEVICE" },
        { CKF_HW_SLOT, "CKF_HW_SLOT" },
    };
    wxString text;
    for (const auto& entry : names) {
        if ((flags & entry.bit) == 0) {
            continue;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += entry.name;
    }
    return text;
}

wxString TrimmedField(const CK_UTF8CHAR* field, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(field), size);
    // A module that NUL-terminates instead of padding ends the text there.
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.erase(nul);
    }
    const std::size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    // Bytes above 127 are not ASCII; show them as '?' rather than guess an encoding.
    for (char& c : text) {
        if (static_cast<unsigned char>(c) > 127) {
            c = '?';
        }
    }
    return wxString::FromAscii(text.c_str());
}
