// The secret key and data object managers on the software token: objects
// made through the module, the real windows shown modally, their workers
// run, and what the token holds afterwards read back.
#include "../window/LayoutCheck.h"
#include "../window/TokenActionsTestHost.h"
#include "../window/WindowTestSupport.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/objects/DataObjectManagerDlg.h"
#include "manager/objects/ObjectManagerCommands.h"
#include "manager/objects/SecretKeyManagerDlg.h"
#include "manager/objects/SecretKeyPropertiesDlg.h"
#include "manager/objects/SecretKeyRules.h"
#include "manager/pin/MessageBoxDlg.h"
#include "manager/window/NRVCMUFrm.h"

#include <cstring>
#include <functional>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

namespace {

const wxString kPin = "1234";

using Bytes = std::vector<uint8_t>;

class ObjectManagersGuiTests : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        Tool("reader add 'Reader 0'");
        m_serial = InsertToken("Reader 0", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_host = std::make_unique<TokenActionsTestHost>(*m_cryptoki, *m_settings);
        m_host->Enumerate();
        // Secret keys are private: the User is logged in, as after "Login".
        ASSERT_EQ(m_host->OpenSlotSession(0), CKR_OK);
        ASSERT_EQ(m_cryptoki->LogIn(CKU_USER, Session(), kPin), CKR_OK);
        m_host->GetSlotRecord(0).loggedIn = true;
        m_host->GetSlotRecord(0).cachedPIN.Keep(kPin);
        // Confirmations go on; form messages are recorded.
        ModalRunner::SetMessageHook([this](const wxString& message, const wxString& caption, long style) {
            m_boxes.push_back({ message, caption, style });
            return wxOK;
        });
    }

    void TearDown() override
    {
        wxTranslations::Set(nullptr);
        ModalRunner::ClearHooks();
        m_host.reset();
        SoftTokenFixture::TearDown();
    }

    CK_SESSION_HANDLE& Session() { return m_host->GetSlotSession(0); }

    CK_OBJECT_HANDLE CreateKey(CK_KEY_TYPE type, const Bytes& value, const Bytes& id, bool modifiable = true)
    {
        CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE, canModify = modifiable ? CK_TRUE : CK_FALSE;
        char label[] = "Door key";
        CK_ATTRIBUTE attributes[] = {
            { CKA_CLASS, &keyClass, sizeof keyClass },
            { CKA_KEY_TYPE, &type, sizeof type },
            { CKA_TOKEN, &yes, 1 },
            { CKA_LABEL, label, 8 },
            { CKA_ID, const_cast<uint8_t*>(id.data()), static_cast<CK_ULONG>(id.size()) },
            { CKA_VALUE, const_cast<uint8_t*>(value.data()), static_cast<CK_ULONG>(value.size()) },
            { CKA_MODIFIABLE, &canModify, 1 },
            { CKA_SENSITIVE, &no, 1 },
            { CKA_EXTRACTABLE, &yes, 1 },
            { CKA_ENCRYPT, &yes, 1 },
        };
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(
            m_cryptoki->CreateCryptoObject(Session(), attributes, std::size(attributes), &handle), CKR_OK);
        return handle;
    }

    CK_OBJECT_HANDLE CreateData(const std::string& label, const std::string& application, size_t valueSize)
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        Bytes value(valueSize, 0x5A);
        CK_ATTRIBUTE attributes[] = {
            { CKA_CLASS, &dataClass, sizeof dataClass },
            { CKA_TOKEN, &yes, 1 },
            { CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size()) },
            { CKA_APPLICATION, const_cast<char*>(application.data()),
                static_cast<CK_ULONG>(application.size()) },
            { CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size()) },
        };
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(
            m_cryptoki->CreateCryptoObject(Session(), attributes, std::size(attributes), &handle), CKR_OK);
        return handle;
    }

    Bytes Read(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE attribute = { type, nullptr, 0 };
        EXPECT_EQ(m_cryptoki->GetAttributeValue(Session(), object, &attribute, 1), CKR_OK);
        Bytes value(attribute.ulValueLen);
        attribute.pValue = value.data();
        EXPECT_EQ(m_cryptoki->GetAttributeValue(Session(), object, &attribute, 1), CKR_OK);
        return value;
    }

    // Shows the window modally; inside its loop, once loaded, runs check.
    template <typename Dialog> void Show(const std::function<void(Dialog&)>& check)
    {
        wxArrayString slots;
        slots.Add("Reader 0 [Card Present]");
        Dialog dialog(m_host->GetWindow(), *m_host, 0, slots);
        dialog.CallAfter([&] {
            check(dialog);
            dialog.Close();
        });
        EXPECT_EQ(dialog.ShowModal(), wxID_OK);
        EXPECT_EQ(dialog.GetSession(), CK_INVALID_HANDLE) << "closing closes the window's session";
        EXPECT_FALSE(m_host->IsPaused()) << "polling resumed";
    }

    // Runs an operation and waits for its worker's outcome.
    static void RunAndWait(ObjectListDlg& dialog, const std::function<void()>& operation)
    {
        operation();
        EXPECT_TRUE(WaitFor([&] { return !dialog.IsWorking(); }, [] { wxTheApp->ProcessPendingEvents(); }))
            << "the worker ended";
        EXPECT_TRUE(dialog.IsEnabled()) << "the window is enabled again";
    }

    static std::vector<wxString> Row(ObjectListDlg& dialog, long row)
    {
        std::vector<wxString> cells;
        for (int column = 0; column < dialog.GetList()->GetColumnCount(); ++column) {
            cells.push_back(dialog.GetList()->GetItemText(row, column));
        }
        return cells;
    }

    // Answers the properties form: fill runs on the shown form, then Add or
    // Edit is pressed (unless submit is false); a form still open after that
    // (a failed check) is cancelled. Confirmation boxes are answered with answer.
    void AnswerForm(
        std::function<void(SecretKeyPropertiesDlg&)> fill, int answer = wxID_OK, bool submit = true)
    {
        ModalRunner::SetDialogHook([this, fill, answer, submit](wxDialog& dialog) {
            auto* form = dynamic_cast<SecretKeyPropertiesDlg*>(&dialog);
            if (form == nullptr) {
                m_questions.push_back(dialog.GetTitle());
                return answer;
            }
            ++m_formsShown;
            form->CallAfter([form, fill, submit] {
                fill(*form);
                if (submit) {
                    form->Submit();
                }
                if (form->IsModal()) {
                    form->EndModal(wxID_NO);
                }
            });
            return form->ShowModal();
        });
    }

    struct Box {
        wxString message;
        wxString caption;
        long style;
    };
    std::string m_serial;
    std::unique_ptr<NRVCMUSettings> m_settings;
    std::unique_ptr<TokenActionsTestHost> m_host;
    std::vector<Box> m_boxes;
    std::vector<wxString> m_questions;
    int m_formsShown = 0;
};

bool Contains(const std::vector<wxString>& texts, const wxString& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

// A three-key DES key has no entry in the form: listed "ERROR", and the
// edit form selects no type. The other rows show their type and flag.
TEST_F(ObjectManagersGuiTests, KeysAreListedWithTypeModifiableAndId)
{
    CreateKey(CKK_DES3, Bytes(24, 0x11), { 0x0A });
    CreateKey(CKK_AES, Bytes(32, 0x22), { 0x0B, 0x0C }, false);
    int typeInForm = 0;
    AnswerForm(
        [&](SecretKeyPropertiesDlg& form) {
            typeInForm = form.GetTypeChoice()->GetSelection();
            EXPECT_FALSE(form.GetTypeChoice()->IsEnabled());
            EXPECT_FALSE(form.GetCheck(SecretKeyPropertiesDlg::ID_CHK_MODIFIABLE)->IsEnabled());
        },
        wxID_OK, false);
    Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
        EXPECT_EQ(dialog.GetMessage(), "There are 2 secret keys found in the token.");
        ASSERT_EQ(dialog.GetList()->GetItemCount(), 2);
        EXPECT_EQ(Row(dialog, 0), (std::vector<wxString> { "Door key", "ERROR", "True", "0A" }));
        EXPECT_EQ(Row(dialog, 1), (std::vector<wxString> { "Door key", "AES", "False", "0B 0C" }));
        EXPECT_FALSE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_EDIT)->IsEnabled())
            << "nothing selected";
        EXPECT_TRUE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_DELETEALL)->IsEnabled());

        // Not modifiable: Edit stays off and the form never opens.
        dialog.SelectRow(1);
        EXPECT_FALSE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_EDIT)->IsEnabled());
        EXPECT_TRUE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_DELETE)->IsEnabled());
        dialog.Edit();
        EXPECT_EQ(m_formsShown, 0);

        dialog.SelectRow(0);
        EXPECT_TRUE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_EDIT)->IsEnabled());
        dialog.Edit();
        EXPECT_EQ(m_formsShown, 1);
        EXPECT_EQ(dialog.GetMessage(), "Secret key has not been edited because the operation was cancelled.");
    });
    EXPECT_EQ(typeInForm, wxNOT_FOUND);
    EXPECT_EQ(m_host->LastStatus(), "Secret Key Manager is currently active . . .");
}

// Add sends the label as 32 bytes (cut or padded), the ID as many bytes as
// the hex text holds, and the key type under the maker's attribute.
TEST_F(ObjectManagersGuiTests, AddSendsTheLabelIdAndValueAsTheFormHoldsThem)
{
    const struct {
        wxString label;
        wxString id;
        int type;
        wxString value;
        std::string labelSent;
        Bytes idSent;
        CK_KEY_TYPE typeSent;
    } cases[] = {
        { wxString(40, 'L'), "01 02 03", 0, "01 02 03 04 05 06 07 08", std::string(32, 'L'), { 1, 2, 3 },
            CKK_DES },
        { "Short", "a1 B2", 2, "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00 11 22 33 44 55 66 77",
            std::string("Short") + std::string(27, '\0'), { 0xA1, 0xB2 }, CKK_AES },
    };
    for (const auto& c : cases) {
        AnswerForm([&](SecretKeyPropertiesDlg& form) {
            form.GetLabelField()->SetValue(c.label);
            form.GetIdField()->SetValue(c.id);
            form.GetTypeChoice()->SetSelection(c.type);
            form.GetValueField()->SetValue(c.value);
        });
        Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
            RunAndWait(dialog, [&] { dialog.Add(); });
            EXPECT_EQ(dialog.GetMessage(), "Secret key has been added successfully.");
            const std::vector<wxString>& messages = dialog.GetMessages();
            EXPECT_TRUE(Contains(messages, "Adding the secret key . . ."));
            EXPECT_TRUE(Contains(messages, "Refreshing secret key list . . ."));
            EXPECT_TRUE(Contains(messages, "Retrieving token information . . ."));
        });
    }
    std::vector<CK_OBJECT_HANDLE> keys;
    ASSERT_EQ(FindSecretKeys(*m_cryptoki, Session(), keys), CKR_OK);
    ASSERT_EQ(keys.size(), 2u);
    for (size_t i = 0; i < keys.size(); ++i) {
        const Bytes label = Read(keys[i], CKA_LABEL);
        EXPECT_EQ(std::string(label.begin(), label.end()), cases[i].labelSent);
        EXPECT_EQ(Read(keys[i], CKA_ID), cases[i].idSent);
        CK_KEY_TYPE type = 0;
        const Bytes typeBytes = Read(keys[i], CKA_KEY_TYPE);
        ASSERT_EQ(typeBytes.size(), sizeof type);
        std::memcpy(&type, typeBytes.data(), sizeof type);
        EXPECT_EQ(type, cases[i].typeSent);
    }
}

// The form refuses what would send unread or wrong bytes, with its titled
// warning box, and keeps the form open.
TEST_F(ObjectManagersGuiTests, FormChecksRefuseBadIdsAndValues)
{
    CreateKey(CKK_DES, Bytes(8, 0x33), { 0x0A });
    const struct {
        wxString id;
        wxString value;
        const char* message;
    } cases[] = {
        { "", "", "Please input a valid key ID." },
        { "0A", "", "Please input a unique key ID." },
        { "01 023", "01 02 03 04 05 06 07 08", "Invalid key ID. It must be in hex format." },
        { "01", "", "Please input a valid key value." },
        { "01", "0102030405060708", "Invalid key value. It must be in hex format." },
        { "01", "01 02 03 04 05 06 07", "Invalid key value. It must be 8 bytes long." },
    };
    for (const auto& c : cases) {
        m_boxes.clear();
        AnswerForm([&](SecretKeyPropertiesDlg& form) {
            form.GetIdField()->SetValue(c.id);
            form.GetValueField()->SetValue(c.value);
        });
        Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
            dialog.Add();
            EXPECT_EQ(
                dialog.GetMessage(), "No secret key has been added because the operation was cancelled.");
        });
        ASSERT_EQ(m_boxes.size(), 1u) << c.message;
        EXPECT_EQ(m_boxes[0].message, c.message);
        EXPECT_EQ(m_boxes[0].caption, "Pavix Manager - Add Secret Key");
        EXPECT_EQ(m_boxes[0].style, 260);
    }
    std::vector<CK_OBJECT_HANDLE> keys;
    ASSERT_EQ(FindSecretKeys(*m_cryptoki, Session(), keys), CKR_OK);
    EXPECT_EQ(keys.size(), 1u) << "nothing refused reached the token";
}

// Edit changes label, ID and the operation flags only.
TEST_F(ObjectManagersGuiTests, EditKeepsValueTypeAndModifiable)
{
    const Bytes value(16, 0x44);
    const CK_OBJECT_HANDLE key = CreateKey(CKK_AES, value, { 0x0A });
    AnswerForm([&](SecretKeyPropertiesDlg& form) {
        EXPECT_EQ(form.GetValueField()->GetValue(), SecretKeyRules::MaskedValue(16));
        EXPECT_EQ(form.GetTypeChoice()->GetSelection(), 2);
        form.GetLabelField()->SetValue("Renamed");
        form.GetIdField()->SetValue("0B 0C");
        form.GetCheck(SecretKeyPropertiesDlg::ID_CHK_ENCRYPT)->SetValue(false);
        form.GetCheck(SecretKeyPropertiesDlg::ID_CHK_SIGN)->SetValue(true);
    });
    Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
        dialog.SelectRow(0);
        RunAndWait(dialog, [&] { dialog.Edit(); });
        EXPECT_EQ(dialog.GetMessage(), "Secret key has been edited successfully.");
        EXPECT_EQ(Row(dialog, 0), (std::vector<wxString> { "Renamed", "AES", "True", "0B 0C" }));
    });
    EXPECT_EQ(Read(key, CKA_VALUE), value);
    EXPECT_EQ(Read(key, CKA_MODIFIABLE), Bytes { CK_TRUE });
    EXPECT_EQ(Read(key, CKA_ENCRYPT), Bytes { CK_FALSE });
    EXPECT_EQ(Read(key, CKA_SIGN), Bytes { CK_TRUE });
    EXPECT_EQ(Read(key, CKA_ID), (Bytes { 0x0B, 0x0C }));
}

TEST_F(ObjectManagersGuiTests, RandomizeAndGeneratedValuesAreUnpredictable)
{
    SecretKeyPropertiesDlg form(m_host->GetWindow(), {}, -1, nullptr);
    EXPECT_EQ(form.GetLabelField()->GetValue(), "Created by NRVCMU");
    form.Randomize();
    const wxString first = form.GetIdField()->GetValue();
    form.Randomize();
    const wxString second = form.GetIdField()->GetValue();
    EXPECT_NE(first, second);
    Bytes bytes;
    ASSERT_EQ(SecretKeyRules::ReadHex(second, bytes), SecretKeyRules::HexRead::Ok);
    EXPECT_EQ(bytes.size(), 32u);

    // Two generated AES values differ (read back from the token).
    for (const char* id : { "01", "02" }) {
        AnswerForm([id](SecretKeyPropertiesDlg& shown) {
            shown.GetIdField()->SetValue(id);
            shown.GetTypeChoice()->SetSelection(2);
            shown.GetRandomChoice()->SetValue(true);
        });
        Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
            RunAndWait(dialog, [&] { dialog.Add(); });
            EXPECT_EQ(dialog.GetMessage(), "Secret key has been added successfully.");
        });
    }
    std::vector<CK_OBJECT_HANDLE> keys;
    ASSERT_EQ(FindSecretKeys(*m_cryptoki, Session(), keys), CKR_OK);
    ASSERT_EQ(keys.size(), 2u);
    CK_ULONG lengths[2] = {};
    for (size_t i = 0; i < 2; ++i) {
        CK_ATTRIBUTE attribute = { CKA_VALUE_LEN, &lengths[i], sizeof lengths[i] };
        EXPECT_EQ(m_cryptoki->GetAttributeValue(Session(), keys[i], &attribute, 1), CKR_OK);
    }
    EXPECT_EQ(lengths[0], 16u);
    EXPECT_EQ(lengths[1], 16u);
}

TEST_F(ObjectManagersGuiTests, DeleteAndDeleteAllSecretKeys)
{
    for (uint8_t id = 1; id <= 12; ++id) {
        CreateKey(CKK_DES, Bytes(8, id), { id });
    }
    AnswerForm([](SecretKeyPropertiesDlg&) {}, wxID_OK);
    Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) {
        EXPECT_EQ(dialog.GetList()->GetItemCount(), 10) << "at most ten listed";
        dialog.SelectRow(0);
        RunAndWait(dialog, [&] { dialog.Delete(); });
        EXPECT_EQ(dialog.GetMessage(), "Secret key has been deleted successfully.");
        EXPECT_EQ(dialog.GetList()->GetItemCount(), 10) << "the eleventh moves up";
        RunAndWait(dialog, [&] { dialog.DeleteAll(); });
        EXPECT_EQ(dialog.GetMessage(), "All secret keys have been deleted successfully.");
        EXPECT_EQ(dialog.GetList()->GetItemCount(), 0);
        EXPECT_FALSE(dialog.GetButton(SecretKeyManagerDlg::ID_BUTTON_DELETEALL)->IsEnabled());
    });
    EXPECT_EQ(m_questions,
        (std::vector<wxString> {
            "Pavix Manager - Delete Secret Key", "Pavix Manager - Delete All Secret Keys" }));
    std::vector<CK_OBJECT_HANDLE> keys;
    ASSERT_EQ(FindSecretKeys(*m_cryptoki, Session(), keys), CKR_OK);
    EXPECT_TRUE(keys.empty()) << "all eleven left went, not only the ten listed";
}

TEST_F(ObjectManagersGuiTests, DataObjectsListedWithNoneForEmptyTextsAndLargeValues)
{
    CreateData("", "", 10);
    CreateData("Big", "Reader app", 2000);
    AnswerForm([](SecretKeyPropertiesDlg&) {}, wxID_OK);
    Show<DataObjectManagerDlg>([&](DataObjectManagerDlg& dialog) {
        EXPECT_EQ(dialog.GetMessage(), "There are 2 data objects found in the token.");
        ASSERT_EQ(dialog.GetList()->GetItemCount(), 2);
        EXPECT_EQ(Row(dialog, 0), (std::vector<wxString> { "<NONE>", "<NONE>", "<NONE>", "Public" }));
        EXPECT_EQ(Row(dialog, 1), (std::vector<wxString> { "Reader app", "Big", "<NONE>", "Public" }));
        EXPECT_FALSE(dialog.GetButton(DataObjectManagerDlg::ID_BUTTON_DELETE)->IsEnabled())
            << "nothing selected";
        EXPECT_TRUE(dialog.GetButton(DataObjectManagerDlg::ID_BTN_DELETE_ALL)->IsEnabled());
        dialog.Delete();
        EXPECT_EQ(dialog.GetMessage(), "There is no data object to be deleted.");
        dialog.SelectRow(1);
        EXPECT_TRUE(dialog.GetButton(DataObjectManagerDlg::ID_BUTTON_DELETE)->IsEnabled());
        RunAndWait(dialog, [&] { dialog.Delete(); });
        EXPECT_EQ(dialog.GetMessage(), "The data object has been deleted successfully.");
        EXPECT_TRUE(Contains(dialog.GetMessages(), "Deleting the data object . . ."));
        EXPECT_EQ(dialog.GetList()->GetItemCount(), 1);
    });
    EXPECT_EQ(m_host->LastStatus(), "Data Object Manager is currently active . . .");
}

TEST_F(ObjectManagersGuiTests, DeleteAllDataObjects)
{
    const struct {
        size_t objects;
        const char* question;
        const char* working;
    } cases[] = {
        { 1, "Pavix Manager - Delete Data Object", "Deleting the data object . . ." },
        { 12, "Pavix Manager - Delete All Data Objects", "Deleting all data objects . . ." },
    };
    for (const auto& c : cases) {
        for (size_t i = 0; i < c.objects; ++i) {
            CreateData("Object", "Test", 16);
        }
        m_questions.clear();
        AnswerForm([](SecretKeyPropertiesDlg&) {}, wxID_OK);
        Show<DataObjectManagerDlg>([&](DataObjectManagerDlg& dialog) {
            RunAndWait(dialog, [&] { dialog.DeleteAll(); });
            EXPECT_EQ(dialog.GetMessage(), "All data objects have been deleted successfully.");
            EXPECT_TRUE(Contains(dialog.GetMessages(), c.working));
            EXPECT_EQ(dialog.GetList()->GetItemCount(), 0);
            EXPECT_FALSE(dialog.GetButton(DataObjectManagerDlg::ID_BTN_DELETE_ALL)->IsEnabled());
        });
        EXPECT_EQ(m_questions, std::vector<wxString> { c.question });
        std::vector<CK_OBJECT_HANDLE> left;
        ASSERT_EQ(FindDataObjects(*m_cryptoki, Session(), left), CKR_OK);
        EXPECT_TRUE(left.empty()) << c.objects;
    }
    // Cancelled: nothing goes.
    CreateData("Kept", "Test", 16);
    AnswerForm([](SecretKeyPropertiesDlg&) {}, wxID_NO);
    Show<DataObjectManagerDlg>([&](DataObjectManagerDlg& dialog) {
        dialog.DeleteAll();
        EXPECT_EQ(
            dialog.GetMessage(), "No data object has been deleted because the operation was cancelled.");
        EXPECT_EQ(dialog.GetList()->GetItemCount(), 1);
    });
}

TEST_F(ObjectManagersGuiTests, OpenedAndClosedFromTheMainWindowCommands)
{
    const struct {
        std::function<void(TokenActionHost&, const wxArrayString&)> open;
        const char* name;
        const char* title;
        const char* loading;
        const char* closed;
    } cases[] = {
        { OpenDataObjectManager, "NRVCMU_DLG_DATA_OBJECT_MANAGER", "Pavix Manager - Data Object Manager",
            "Loading Data Object Manager . . .", "Data Object Manager has been closed." },
        { OpenSecretKeyManager, "NRVCMU_DLG_SECRET_KEY_MANAGER", "Pavix Manager - Secret Key Manager",
            "Loading Secret Key Manager . . .", "Secret Key Manager has been closed." },
    };
    for (const auto& c : cases) {
        wxString name, title;
        ModalRunner::SetDialogHook([&](wxDialog& dialog) {
            name = dialog.GetName();
            title = dialog.GetTitle();
            dialog.CallAfter([&dialog] { dialog.Close(); });
            return dialog.ShowModal();
        });
        wxArrayString slots;
        slots.Add("Reader 0 [Card Present]");
        c.open(*m_host, slots);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(title, c.title);
        const std::vector<wxString>& statuses = m_host->Statuses();
        ASSERT_GE(statuses.size(), 3u);
        EXPECT_TRUE(Contains(statuses, c.loading));
        EXPECT_EQ(statuses.back(), c.closed);
        EXPECT_TRUE(m_host->AreActionsEnabled());
        EXPECT_FALSE(m_host->IsPaused());
    }
}

// The module's failures become one line: the operation's text and the result
// text; the window is usable again afterwards.
TEST_F(ObjectManagersGuiTests, ModuleFailuresBecomeTheOperationsMessage)
{
    const auto fillKey = [](SecretKeyPropertiesDlg& form) {
        form.GetIdField()->SetValue("05");
        form.GetValueField()->SetValue("01 02 03 04 05 06 07 08");
    };
    const struct {
        const char* function;
        CK_RV code;
        bool secretKeys;
        std::function<void(ObjectListDlg&)> operation;
        wxString message;
    } cases[] = {
        { "C_FindObjectsInit", CKR_DEVICE_ERROR, true, [](ObjectListDlg&) {},
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to load secret keys.") },
        { "C_FindObjectsInit", CKR_DEVICE_ERROR, false, [](ObjectListDlg&) {},
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to load data objects.") },
        { "C_CreateObject", CKR_DEVICE_MEMORY, true,
            [](ObjectListDlg& dialog) { dynamic_cast<SecretKeyManagerDlg&>(dialog).Add(); },
            "Failed to add the secret key. Token already has the maximum number of secret keys." },
        { "C_CreateObject", CKR_DEVICE_ERROR, true,
            [](ObjectListDlg& dialog) { dynamic_cast<SecretKeyManagerDlg&>(dialog).Add(); },
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to add the secret key.") },
        { "C_SetAttributeValue", CKR_DEVICE_ERROR, true,
            [](ObjectListDlg& dialog) {
                dialog.SelectRow(0);
                dynamic_cast<SecretKeyManagerDlg&>(dialog).Edit();
            },
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to edit the secret key.") },
        { "C_DestroyObject", CKR_DEVICE_ERROR, true,
            [](ObjectListDlg& dialog) { dynamic_cast<SecretKeyManagerDlg&>(dialog).DeleteAll(); },
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to delete all secret keys.") },
        { "C_DestroyObject", CKR_DEVICE_ERROR, false,
            [](ObjectListDlg& dialog) { dynamic_cast<DataObjectManagerDlg&>(dialog).DeleteAll(); },
            GetResultMessage(CKR_DEVICE_ERROR, "Failed to delete all data objects.") },
    };
    CreateKey(CKK_DES, Bytes(8, 1), { 0x01 });
    CreateKey(CKK_DES, Bytes(8, 2), { 0x02 });
    CreateData("One", "Test", 4);
    CreateData("Two", "Test", 4);
    for (const auto& c : cases) {
        AnswerForm(fillKey);
        char code[16];
        std::snprintf(code, sizeof code, "0x%lX", c.code);
        Tool("token fail " + m_serial + " " + c.function + " " + code);
        const auto run = [&](ObjectListDlg& dialog) {
            RunAndWait(dialog, [&] { c.operation(dialog); });
            EXPECT_EQ(dialog.GetMessage(), c.message) << c.function;
            EXPECT_EQ(dialog.GetSelectedRow(), -1) << "the selection is cleared";
        };
        if (c.secretKeys) {
            Show<SecretKeyManagerDlg>(run);
        } else {
            Show<DataObjectManagerDlg>(run);
        }
        Tool("token fail " + m_serial + " " + c.function + " off");
    }
    std::vector<CK_OBJECT_HANDLE> left;
    ASSERT_EQ(FindSecretKeys(*m_cryptoki, Session(), left), CKR_OK);
    EXPECT_EQ(left.size(), 2u) << "nothing was deleted or added";
}

// The menu events of the real main window open the managers on its selected
// slot, though their items are not in the menu bar.
TEST_F(ObjectManagersGuiTests, MainWindowEventsOpenTheManagers)
{
    m_settings->SetIsAskOnExit(false);
    auto* frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
    frame->Show();
    const std::function<void()> pump = [] {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    };
    ASSERT_TRUE(
        WaitFor([&] { return frame->GetInfoList()->GetItemCount() > 0; }, pump, std::chrono::seconds(5)));
    EXPECT_EQ(frame->GetMenuBar()->FindItem(NRVCMUFrm::ID_MENU_SECRET_KEY_MANAGER), nullptr);
    const struct {
        int menu;
        const char* active;
        const char* closed;
    } cases[] = {
        { NRVCMUFrm::ID_MENU_DATA_OBJECT_MANAGER, "Data Object Manager is currently active . . .",
            "Data Object Manager has been closed." },
        { NRVCMUFrm::ID_MENU_SECRET_KEY_MANAGER, "Secret Key Manager is currently active . . .",
            "Secret Key Manager has been closed." },
    };
    for (const auto& c : cases) {
        wxString statusWhileOpen;
        ModalRunner::SetDialogHook([&](wxDialog& dialog) {
            dialog.CallAfter([&] {
                statusWhileOpen = frame->GetStatus();
                dialog.Close();
            });
            return dialog.ShowModal();
        });
        wxCommandEvent open(wxEVT_MENU, c.menu);
        frame->ProcessWindowEvent(open);
        EXPECT_EQ(statusWhileOpen, c.active);
        EXPECT_EQ(frame->GetStatus(), c.closed);
    }
    frame->Destroy();
    wxTheApp->ProcessIdle();
}

// Every text of the managers and their form whole in every language, the
// list's column titles included.
TEST_F(ObjectManagersGuiTests, EveryTextIsWholeInEveryLanguage)
{
    CreateKey(CKK_AES, Bytes(16, 0x11), { 0x01 });
    CreateData("Reader", "Notes", 3);
    for (const char* language : layout_check::kLanguages) {
        const wxString folder = wxString::FromUTF8(m_bin) + "/Language";
        ASSERT_TRUE(layout_check::UseLanguage(language, folder)) << "no catalog " << language;
        const auto check = [language](const char* name, const wxWindow& window) {
            std::vector<wxString> faults;
            layout_check::CheckLayout(&window, faults);
            for (const wxString& fault : faults) {
                ADD_FAILURE() << language << " " << name << ": " << fault;
            }
        };
        Show<SecretKeyManagerDlg>([&](SecretKeyManagerDlg& dialog) { check("secret keys", dialog); });
        Show<DataObjectManagerDlg>([&](DataObjectManagerDlg& dialog) { check("data objects", dialog); });
        SecretKeyPropertiesDlg form(m_host->GetWindow(), {}, -1, nullptr);
        form.Show();
        check("secret key form", form);
    }
}
