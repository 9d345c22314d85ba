#include "SecretKeyRules.h"

#include <wx/intl.h>
#include <wx/strconv.h>
#include <wx/tokenzr.h>

namespace SecretKeyRules {

namespace {

struct KeyTypeRow {
    CK_KEY_TYPE type;
    const char* listText;
    size_t valueLength;
};

// In the order of the form's entries.
constexpr KeyTypeRow kKeyTypes[kKeyTypeCount] = {
    { CKK_DES, "DES", 8 },
    { CKK_DES2, "DES3", 16 },
    { CKK_AES, "AES", 16 },
};

bool IsHexDigit(wxUniChar c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(wxUniChar c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a') + 10;
    }
    return static_cast<int>(c - 'A') + 10;
}

bool IsValidIndex(int index)
{
    return index >= 0 && index < kKeyTypeCount;
}

} // namespace

wxString HexText(const std::vector<uint8_t>& bytes)
{
    wxString text;
    for (const uint8_t byte : bytes) {
        text += wxString::Format("%02X ", byte);
    }
    if (!text.empty()) {
        text.RemoveLast();
    }
    return text;
}

HexRead ReadHex(const wxString& text, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    // Room for every byte at once: a key value is never copied by growth.
    bytes.reserve(text.length() / 2 + 1);
    wxStringTokenizer groups(text, " ", wxTOKEN_STRTOK);
    if (!groups.HasMoreTokens()) {
        return HexRead::Empty;
    }
    while (groups.HasMoreTokens()) {
        const wxString group = groups.GetNextToken();
        if (group.length() != 2 || !IsHexDigit(group[0]) || !IsHexDigit(group[1])) {
            bytes.clear();
            return HexRead::Invalid;
        }
        bytes.push_back(static_cast<uint8_t>(HexValue(group[0]) * 16 + HexValue(group[1])));
    }
    return HexRead::Ok;
}

wxString CompareForm(const wxString& text)
{
    wxString compact = text;
    compact.Replace(" ", "");
    return compact.Upper();
}

wxString KeyTypeText(CK_KEY_TYPE type)
{
    const int index = KeyTypeIndex(type);
    return index < 0 ? wxString("ERROR") : wxString(kKeyTypes[index].listText);
}

int KeyTypeIndex(CK_KEY_TYPE type)
{
    for (int index = 0; index < kKeyTypeCount; ++index) {
        if (kKeyTypes[index].type == type) {
            return index;
        }
    }
    return -1;
}

CK_KEY_TYPE KeyTypeOfIndex(int index)
{
    return IsValidIndex(index) ? kKeyTypes[index].type : CKK_DES;
}

size_t ValueLength(int index)
{
    return IsValidIndex(index) ? kKeyTypes[index].valueLength : 0;
}

bool IsValueLengthAllowed(int index, size_t length)
{
    if (!IsValidIndex(index)) {
        return false;
    }
    if (kKeyTypes[index].type == CKK_AES) {
        return length == 16 || length == 24 || length == 32;
    }
    return length == kKeyTypes[index].valueLength;
}

wxString MaskedValue(size_t length)
{
    wxString text;
    for (size_t i = 0; i < length; ++i) {
        text += i == 0 ? "XX" : " XX";
    }
    return text;
}

std::vector<uint8_t> LabelBytes(const wxString& label)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kLabelBytes);
    // Character by character, so a cut never splits one.
    for (const wxUniChar c : label) {
        const wxString one(c);
        wxCharBuffer converted = one.mb_str(wxConvLibc);
        size_t length = converted.length();
        if (converted.data() == nullptr || length == 0) {
            // Not representable in the locale's encoding: the checks allow
            // codes up to 255 only, which fit one byte.
            converted = one.mb_str(wxConvISO8859_1);
            length = converted.length();
        }
        if (bytes.size() + length > kLabelBytes) {
            break;
        }
        bytes.insert(bytes.end(), converted.data(), converted.data() + length);
    }
    bytes.resize(kLabelBytes, 0);
    return bytes;
}

wxString LabelText(const std::vector<uint8_t>& bytes)
{
    size_t length = 0;
    while (length < bytes.size() && bytes[length] != 0) {
        ++length;
    }
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    wxString text(data, wxConvLibc, length);
    if (text.empty() && length > 0) {
        text = wxString(data, wxConvISO8859_1, length);
    }
    return text;
}

bool IsValidLabel(const wxString& label)
{
    if (label.empty() || wxIsspace(label.Last())) {
        return false;
    }
    for (const wxUniChar c : label) {
        if (c < 32 || c > 255) {
            return false;
        }
    }
    return true;
}

wxString CountMessage(size_t keys)
{
    if (keys == 1) {
        return _("There is only 1 secret key found in the token.");
    }
    if (keys > 1) {
        // TRANSLATORS: %d is the number of secret keys
        return wxString::Format(_("There are %d secret keys found in the token."), static_cast<int>(keys));
    }
    return _("There is no secret key in the token.");
}

FormCheck CheckForm(const FormInput& input, const std::vector<std::vector<uint8_t>>& listedIds, int editIndex)
{
    if (CompareForm(input.id).empty()) {
        return { Field::Id, _("Please input a valid key ID.") };
    }
    const wxString id = CompareForm(input.id);
    for (size_t i = 0; i < listedIds.size(); ++i) {
        if (static_cast<int>(i) != editIndex && CompareForm(HexText(listedIds[i])) == id) {
            return { Field::Id, _("Please input a unique key ID.") };
        }
    }
    std::vector<uint8_t> bytes;
    if (ReadHex(input.id, bytes) != HexRead::Ok) {
        return { Field::Id, _("Invalid key ID. It must be in hex format.") };
    }
    if (!IsValidLabel(input.label)) {
        return { Field::Label, _("Please input a valid key label.") };
    }
    if (!input.addMode || input.randomValue) {
        return {};
    }
    const HexRead value = ReadHex(input.value, bytes);
    const size_t length = bytes.size();
    std::fill(bytes.begin(), bytes.end(), 0);
    if (value == HexRead::Empty) {
        return { Field::Value, _("Please input a valid key value.") };
    }
    if (value == HexRead::Invalid) {
        return { Field::Value, _("Invalid key value. It must be in hex format.") };
    }
    if (!IsValueLengthAllowed(input.typeIndex, length)) {
        if (KeyTypeOfIndex(input.typeIndex) == CKK_AES) {
            return { Field::Value, _("Invalid key value. It must be 16, 24 or 32 bytes long.") };
        }
        // TRANSLATORS: %d is the number of bytes the key type needs
        return { Field::Value,
            wxString::Format(_("Invalid key value. It must be %d bytes long."),
                static_cast<int>(ValueLength(input.typeIndex))) };
    }
    return {};
}

ButtonStates ForSelection(bool selected, bool modifiable, size_t keys)
{
    ButtonStates states;
    states.edit = selected && modifiable;
    states.remove = selected;
    states.removeAll = keys > 0;
    return states;
}

} // namespace SecretKeyRules
