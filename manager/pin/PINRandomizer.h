// Random PINs from up to four character classes. Letters that are easily
// confused (I, L, O, V, W in either case) are never used.
#pragma once

#include "PinKind.h"

#include <vector>
#include <wx/string.h>

class NRVCMUSettings;

class PINRandomizer {
public:
    struct ClassFlags {
        bool useNumbers = true;
        bool useUppercaseLetters = true;
        bool useLowercaseLetters = true;
        bool useSymbols = true;
    };

    // Reads the class flags of the kind (User or SO) from the settings.
    PINRandomizer(const NRVCMUSettings& settings, PinKind kind);
    PINRandomizer(const ClassFlags& flags, PinKind kind);
    virtual ~PINRandomizer();

    // Exactly length characters, each from an enabled class picked with
    // equal chance; empty when no class is enabled.
    wxString Generate(int length);

    static ClassFlags ReadClassFlags(const NRVCMUSettings& settings, PinKind kind);

private:
    void Fill();
    void ShuffleClasses();

    std::vector<wchar_t> m_lowercase;
    std::vector<wchar_t> m_uppercase;
    std::vector<wchar_t> m_symbols;
    std::vector<wchar_t> m_digits;
    PinKind m_kind;
    ClassFlags m_flags;
};
