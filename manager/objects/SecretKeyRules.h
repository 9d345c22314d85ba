// What the secret key manager and its form decide, in plain code: hex text
// of byte strings, the key type table, the label sent to the token, the
// form's checks in their order, the count message and the buttons.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstdint>
#include <vector>
#include <wx/string.h>

namespace SecretKeyRules {

// The form's ID field holds at most this many bytes.
constexpr size_t kMaxIdBytes = 32;
// "XX " per byte, the last space dropped.
constexpr size_t kMaxIdTextLength = kMaxIdBytes * 3 - 1;
// The label goes to the token as exactly this many bytes.
constexpr size_t kLabelBytes = 32;

// Upper-case hex pairs separated by single spaces.
wxString HexText(const std::vector<uint8_t>& bytes);

enum class HexRead { Ok, Empty, Invalid };
// Reads hex text split at spaces. Every group must be exactly two hex
// digits: a group of another length refuses the whole text rather than
// stopping there, so no byte goes unread.
HexRead ReadHex(const wxString& text, std::vector<uint8_t>& bytes);
// The text without its spaces, upper-cased: how IDs are compared.
wxString CompareForm(const wxString& text);

// The form's key type entries: "Single DES", "Triple DES", "AES".
constexpr int kKeyTypeCount = 3;
// "DES", "DES3", "AES" or "ERROR" in the list.
wxString KeyTypeText(CK_KEY_TYPE type);
// The form's entry for a type, or -1 (no entry selected).
int KeyTypeIndex(CK_KEY_TYPE type);
CK_KEY_TYPE KeyTypeOfIndex(int index);
// Bytes of a randomly generated value, and of the masked value shown.
size_t ValueLength(int index);
// Whether a value of this many bytes fits the entry's key type: DES 8,
// two-key triple DES 16, AES 16, 24 or 32.
bool IsValueLengthAllowed(int index, size_t length);
// "XX XX ..." for length bytes.
wxString MaskedValue(size_t length);

// The label in the C library's multibyte encoding, cut to 32 bytes at a
// character boundary and padded with zero bytes to 32.
std::vector<uint8_t> LabelBytes(const wxString& label);
// A label read from the token: bytes up to the first zero, within the
// length the module returned.
wxString LabelText(const std::vector<uint8_t>& bytes);
// Not empty, every character from 32 to 255, no trailing white space.
bool IsValidLabel(const wxString& label);

wxString CountMessage(size_t keys);

// What the form holds when Add or Edit is pressed.
struct FormInput {
    bool addMode = true;
    wxString label;
    wxString id;
    int typeIndex = 0;
    bool randomValue = false;
    wxString value;
};

enum class Field { None, Id, Label, Value };
// The first failing check: its field (focus goes there) and its text.
struct FormCheck {
    Field field = Field::None;
    wxString message;
};
// listedIds: the IDs of all listed keys; editIndex: the edited key's
// position among them, or -1 when adding.
FormCheck CheckForm(
    const FormInput& input, const std::vector<std::vector<uint8_t>>& listedIds, int editIndex);

struct ButtonStates {
    bool edit = false;
    bool remove = false;
    bool removeAll = false;
};
// selected: a row is selected; modifiable: its key's flag.
ButtonStates ForSelection(bool selected, bool modifiable, size_t keys);

} // namespace SecretKeyRules
