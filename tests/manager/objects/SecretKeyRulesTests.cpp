// The secret key form's decisions without a display: hex reading, the key
// type table, the label sent to the token, the checks in their order.
#include "manager/objects/SecretKeyRules.h"

#include <gtest/gtest.h>
#include <map>

using namespace SecretKeyRules;

namespace {
wxString Repeated(const wxString& text, int times)
{
    wxString repeated;
    for (int i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}
} // namespace

TEST(SecretKeyRules, HexTextAndReadingBack)
{
    const struct {
        const char* text;
        HexRead result;
        std::vector<uint8_t> bytes;
    } cases[] = {
        { "", HexRead::Empty, {} },
        { "   ", HexRead::Empty, {} },
        { "0A", HexRead::Ok, { 0x0A } },
        { "0a ff 10", HexRead::Ok, { 0x0A, 0xFF, 0x10 } },
        { " 01  02 ", HexRead::Ok, { 0x01, 0x02 } },
        // A badly grouped ID is refused whole: the old reading stopped at
        // "ABC" and sent unread bytes.
        { "01 ABC 02", HexRead::Invalid, {} },
        { "0102", HexRead::Invalid, {} },
        { "01 2", HexRead::Invalid, {} },
        { "0G", HexRead::Invalid, {} },
        { "-1", HexRead::Invalid, {} },
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes { 0x55 };
        EXPECT_EQ(ReadHex(c.text, bytes), c.result) << c.text;
        EXPECT_EQ(bytes, c.bytes) << c.text;
    }
    const std::vector<uint8_t> id { 0x00, 0x0A, 0xFF };
    EXPECT_EQ(HexText(id), "00 0A FF");
    std::vector<uint8_t> back;
    EXPECT_EQ(ReadHex(HexText(id), back), HexRead::Ok);
    EXPECT_EQ(back, id);
    EXPECT_EQ(HexText({}), "");
}

TEST(SecretKeyRules, KeyTypeTableAndValueLengths)
{
    const struct {
        CK_KEY_TYPE type;
        const char* listText;
        int index;
        size_t length;
        std::vector<size_t> allowed;
    } cases[] = {
        { CKK_DES, "DES", 0, 8, { 8 } },
        { CKK_DES2, "DES3", 1, 16, { 16 } },
        { CKK_AES, "AES", 2, 16, { 16, 24, 32 } },
        // Three-key DES has no entry in the form.
        { CKK_DES3, "ERROR", -1, 0, {} },
        { CKK_GENERIC_SECRET, "ERROR", -1, 0, {} },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KeyTypeText(c.type), c.listText) << c.type;
        EXPECT_EQ(KeyTypeIndex(c.type), c.index) << c.type;
        EXPECT_EQ(ValueLength(c.index), c.length) << c.type;
        if (c.index >= 0) {
            EXPECT_EQ(KeyTypeOfIndex(c.index), c.type);
        }
        for (size_t length = 0; length <= 40; ++length) {
            const bool expected = std::find(c.allowed.begin(), c.allowed.end(), length) != c.allowed.end();
            EXPECT_EQ(IsValueLengthAllowed(c.index, length), expected) << c.type << " " << length;
        }
    }
    EXPECT_EQ(MaskedValue(8), "XX XX XX XX XX XX XX XX");
    EXPECT_EQ(MaskedValue(16), "XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX");
}

TEST(SecretKeyRules, LabelIsCutOrPaddedToThirtyTwoBytes)
{
    const std::string forty(40, 'L');
    std::vector<uint8_t> bytes = LabelBytes(wxString(forty));
    ASSERT_EQ(bytes.size(), kLabelBytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), forty.substr(0, 32));

    bytes = LabelBytes("Door");
    ASSERT_EQ(bytes.size(), kLabelBytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "Door");
    EXPECT_TRUE(std::all_of(bytes.begin() + 4, bytes.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(LabelText(bytes), "Door");

    // The read is bounded by the returned bytes, with no zero among them.
    EXPECT_EQ(LabelText({ 'A', 'B' }), "AB");
    EXPECT_EQ(LabelText({}), "");
}

TEST(SecretKeyRules, LabelValidity)
{
    const std::map<wxString, bool> cases = {
        { "Created by NRVCMU", true },
        { "", false },
        { "Trailing ", false },
        { "Tab\t", false },
        { "Bell\x07inside", false },
        { wxString::FromUTF8("caf\xc3\xa9"), true },
        { wxString::FromUTF8("\xe2\x82\xac uro"), false },
    };
    for (const auto& [label, valid] : cases) {
        EXPECT_EQ(IsValidLabel(label), valid) << label;
    }
}

// Each input fails exactly the first check in the order the form runs them.
TEST(SecretKeyRules, FormChecksInOrder)
{
    const std::vector<std::vector<uint8_t>> listed { { 0x0A, 0x0B }, { 0x01 } };
    auto input = [](wxString id, wxString label, wxString value, int type = 0, bool add = true) {
        FormInput in;
        in.addMode = add;
        in.id = id;
        in.label = label;
        in.value = value;
        in.typeIndex = type;
        return in;
    };
    const struct {
        const char* name;
        FormInput input;
        int editIndex;
        Field field;
        const char* message;
    } cases[] = {
        { "empty ID", input("  ", "", ""), -1, Field::Id, "Please input a valid key ID." },
        { "duplicate ID before bad label", input("0a0b", "", ""), -1, Field::Id,
            "Please input a unique key ID." },
        { "the edited key's own ID", input("0A 0B", "Mine", "", 0, false), 0, Field::None, "" },
        { "non-hex ID", input("0A 0", "", ""), -1, Field::Id, "Invalid key ID. It must be in hex format." },
        { "bad label", input("02", " x ", ""), -1, Field::Label, "Please input a valid key label." },
        { "empty value", input("02", "Mine", ""), -1, Field::Value, "Please input a valid key value." },
        { "non-hex value", input("02", "Mine", "0102030405060708"), -1, Field::Value,
            "Invalid key value. It must be in hex format." },
        { "DES value of 7 bytes", input("02", "Mine", "01 02 03 04 05 06 07"), -1, Field::Value,
            "Invalid key value. It must be 8 bytes long." },
        { "triple DES value of 8 bytes", input("02", "Mine", "01 02 03 04 05 06 07 08", 1), -1, Field::Value,
            "Invalid key value. It must be 16 bytes long." },
        { "AES value of 20 bytes", input("02", "Mine", Repeated("AB ", 20), 2), -1, Field::Value,
            "Invalid key value. It must be 16, 24 or 32 bytes long." },
        { "DES value of 8 bytes", input("02", "Mine", "01 02 03 04 05 06 07 08"), -1, Field::None, "" },
        { "edit mode ignores the value", input("02", "Mine", "", 0, false), 1, Field::None, "" },
    };
    for (const auto& c : cases) {
        const FormCheck check = CheckForm(c.input, listed, c.editIndex);
        EXPECT_EQ(check.field, c.field) << c.name;
        EXPECT_EQ(check.message, c.message) << c.name;
    }
    FormInput random = input("02", "Mine", "", 2);
    random.randomValue = true;
    EXPECT_EQ(CheckForm(random, listed, -1).field, Field::None) << "a generated value needs no text";
}

TEST(SecretKeyRules, ButtonsFollowSelectionAndCount)
{
    const struct {
        bool selected;
        bool modifiable;
        size_t keys;
        bool edit, remove, removeAll;
    } cases[] = {
        { false, false, 0, false, false, false },
        { false, false, 3, false, false, true },
        { true, false, 3, false, true, true },
        { true, true, 3, true, true, true },
    };
    for (const auto& c : cases) {
        const ButtonStates states = ForSelection(c.selected, c.modifiable, c.keys);
        EXPECT_EQ(states.edit, c.edit);
        EXPECT_EQ(states.remove, c.remove);
        EXPECT_EQ(states.removeAll, c.removeAll);
    }
    EXPECT_EQ(CountMessage(0), "There is no secret key in the token.");
    EXPECT_EQ(CountMessage(1), "There is only 1 secret key found in the token.");
    EXPECT_EQ(CountMessage(7), "There are 7 secret keys found in the token.");
}
