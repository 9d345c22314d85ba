#include "PINRandomizer.h"

#include "platform/random/Random.h"

#include <utility>

using namespace vela5::platform;

namespace {

// Every random choice comes from the cryptographic generator: these PINs
// protect tokens, and a time-seeded rand() repeats within the same second.
template <typename T> void Shuffle(std::vector<T>& items)
{
    for (size_t i = 1; i < items.size(); ++i) {
        const size_t j = Random::Uniform(static_cast<uint32_t>(i + 1));
        if (i != j) {
            std::swap(items[i], items[j]);
        }
    }
}

} // namespace

PINRandomizer::PINRandomizer(const ClassFlags& flags, PinKind kind)
    : m_kind(kind)
    , m_flags(flags)
{
    Fill();
    ShuffleClasses();
}

PINRandomizer::~PINRandomizer() = default;

void PINRandomizer::Fill()
{
    for (wchar_t c = L'0'; c <= L'9'; ++c) {
        m_digits.push_back(c);
    }
    for (wchar_t c = L'A'; c <= L'Z'; ++c) {
        if (c == L'I' || c == L'L' || c == L'O' || c == L'V' || c == L'W') {
            continue;
        }
        m_uppercase.push_back(c);
        m_lowercase.push_back(static_cast<wchar_t>(c - L'A' + L'a'));
    }
    for (const wchar_t c : std::wstring(L"~!@#$%^&*()+=\\/{}[]><")) {
        m_symbols.push_back(c);
    }
}

void PINRandomizer::ShuffleClasses()
{
    Shuffle(m_digits);
    Shuffle(m_uppercase);
    Shuffle(m_lowercase);
    Shuffle(m_symbols);
}

wxString PINRandomizer::Generate(int length)
{
    wxString pin;
    for (int n = 0; n < length; ++n) {
        ShuffleClasses();
        std::vector<const std::vector<wchar_t>*> classes;
        if (m_flags.useNumbers) {
            classes.push_back(&m_digits);
        }
        if (m_flags.useUppercaseLetters) {
            classes.push_back(&m_uppercase);
        }
        if (m_flags.useLowercaseLetters) {
            classes.push_back(&m_lowercase);
        }
        if (m_flags.useSymbols) {
            classes.push_back(&m_symbols);
        }
        if (classes.empty()) {
            return wxString();
        }
        Shuffle(classes);
        pin += classes.front()->front();
    }
    return pin;
}
