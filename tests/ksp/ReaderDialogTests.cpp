// The reader selection dialog, shown for real under the test display and
// answered through its window (found by its name, as a person would find it
// by its title): choosing, cancelling, and the provider cache around it.
#include "ProviderFixture.h"
#include "platform/cng/WideText.h"

#include <functional>
#include <wx/app.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/window.h>

namespace {

// Answers every CSelectCard dialog that appears: picks the reader (or the
// first when empty) and presses OK, or Cancel when cancel is set. Records
// what each dialog offered.
class DialogAnswerer final : public wxTimer {
public:
    DialogAnswerer(std::string reader, bool cancel)
        : m_reader(std::move(reader))
        , m_cancel(cancel)
    {
        Start(20);
    }
    ~DialogAnswerer() override { Stop(); }

    // Runs on the dialog before it is read and answered.
    void BeforeAnswer(std::function<void(wxDialog&)> hook) { m_before = std::move(hook); }

    void Notify() override
    {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(window);
            if (dialog == nullptr || dialog->GetName() != "CSelectCard" || !dialog->IsModal()) {
                continue;
            }
            if (m_before) {
                m_before(*dialog);
            }
            auto* list = dynamic_cast<wxComboBox*>(dialog->FindWindow(1005));
            std::vector<std::string> offered;
            if (list != nullptr) {
                for (unsigned i = 0; i < list->GetCount(); ++i) {
                    offered.push_back(list->GetString(i).utf8_string());
                }
                if (!m_reader.empty()) {
                    list->SetValue(wxString::FromUTF8(m_reader));
                }
            }
            m_offered.push_back(offered);
            m_titles.push_back(dialog->GetTitle().utf8_string());
            dialog->EndModal(m_cancel ? wxID_CANCEL : wxID_OK);
        }
    }

    std::size_t Shown() const { return m_offered.size(); }
    const std::vector<std::vector<std::string>>& Offered() const { return m_offered; }
    const std::vector<std::string>& Titles() const { return m_titles; }

private:
    std::string m_reader;
    bool m_cancel;
    std::function<void(wxDialog&)> m_before;
    std::vector<std::vector<std::string>> m_offered;
    std::vector<std::string> m_titles;
};

} // namespace

class ReaderDialogTest : public ProviderTest {
protected:
    SECURITY_STATUS Open(NCRYPT_PROV_HANDLE& handle, DWORD flags = 0)
    {
        return Table().OpenProvider(&handle, kProviderName, flags);
    }
};

TEST_F(ReaderDialogTest, TwoTokensTheChosenReaderIsBound)
{
    AddReader("VELA5 Reader A");
    AddReader("VELA5 Reader B");
    DialogAnswerer answer("VELA5 Reader B", false);
    NCRYPT_PROV_HANDLE handle = 0;
    ASSERT_EQ(Open(handle), ERROR_SUCCESS);
    ASSERT_EQ(answer.Shown(), 1U);
    EXPECT_EQ(answer.Titles()[0], "Nurvon KSP v1.0");
    EXPECT_EQ(answer.Offered()[0], (std::vector<std::string> { "VELA5 Reader A", "VELA5 Reader B" }));
    EXPECT_EQ(ReaderOf(handle), u"VELA5 Reader B");
    const std::string log = NewLog();
    for (const char* line : { "Provider not set", "Loading resources", "Loading Dialog", "Dialog Loaded",
             "Retrieving data", "Data Retrieved", "Acquired VELA5 Reader B", "Found slot: VELA5 Reader A",
             "Reader name acquired. Setting active slot to VELA5 Reader B" }) {
        EXPECT_TRUE(Contains(log, line)) << line;
    }
    EXPECT_EQ(Table().FreeProvider(handle), ERROR_SUCCESS);
}

TEST_F(ReaderDialogTest, CancelReturnsCancelledAndNoHandle)
{
    AddReader("VELA5 Reader A");
    AddReader("VELA5 Reader B");
    DialogAnswerer answer("", true);
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(Open(handle), ERROR_CANCELLED);
    EXPECT_EQ(handle, 0U);
    EXPECT_EQ(answer.Shown(), 1U);
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "Action was cancelled by the user"));
    EXPECT_TRUE(Contains(log, "ERROR_CANCELLED: The operation was cancelled."));
}

TEST_F(ReaderDialogTest, NoTokenTheChosenReaderIsNotFound)
{
    AddReader("VELA5 Empty Reader", false);
    DialogAnswerer answer("VELA5 Empty Reader", false);
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(Open(handle), NTE_INTERNAL_ERROR);
    EXPECT_EQ(answer.Shown(), 1U);
    EXPECT_TRUE(Contains(NewLog(), "NTE_INTERNAL_ERROR: Selected reader not found."));
}

TEST_F(ReaderDialogTest, CacheServesOnlyOpensWithNothingBetween)
{
    AddReader("VELA5 Reader A");
    AddReader("VELA5 Reader B");
    DialogAnswerer answer("VELA5 Reader B", false);
    NCRYPT_PROV_HANDLE first = 0;
    NCRYPT_PROV_HANDLE second = 0;
    NCRYPT_PROV_HANDLE third = 0;
    ASSERT_EQ(Open(first), ERROR_SUCCESS);
    ASSERT_EQ(Open(second), ERROR_SUCCESS);
    EXPECT_EQ(answer.Shown(), 1U); // open, open: asked once
    EXPECT_EQ(ReaderOf(second), u"VELA5 Reader B");
    DWORD size = 0;
    Table().GetProviderProperty(second, u"Name", nullptr, 0, &size, 0);
    ASSERT_EQ(Open(third), ERROR_SUCCESS);
    EXPECT_EQ(answer.Shown(), 2U); // open, property, open: asked again
    for (const NCRYPT_PROV_HANDLE handle : { first, second, third }) {
        EXPECT_EQ(Table().FreeProvider(handle), ERROR_SUCCESS);
    }
}

TEST_F(ReaderDialogTest, CacheSwitchedOffAsksEveryTime)
{
    AddReader("VELA5 Reader A");
    AddReader("VELA5 Reader B");
    for (const uint32_t value : { 0U, 256U }) {
        SetUseProviderCache(value);
        DialogAnswerer answer("VELA5 Reader A", false);
        NCRYPT_PROV_HANDLE first = 0;
        NCRYPT_PROV_HANDLE second = 0;
        ASSERT_EQ(Open(first), ERROR_SUCCESS);
        ASSERT_EQ(Open(second), ERROR_SUCCESS);
        EXPECT_EQ(answer.Shown(), 2U) << value;
        EXPECT_EQ(Table().FreeProvider(first), ERROR_SUCCESS);
        EXPECT_EQ(Table().FreeProvider(second), ERROR_SUCCESS);
    }
    SetUseProviderCache(1);
    DialogAnswerer answer("VELA5 Reader A", false);
    NCRYPT_PROV_HANDLE first = 0;
    NCRYPT_PROV_HANDLE second = 0;
    ASSERT_EQ(Open(first), ERROR_SUCCESS);
    ASSERT_EQ(Open(second), ERROR_SUCCESS);
    EXPECT_EQ(answer.Shown(), 1U);
    EXPECT_EQ(Table().FreeProvider(first), ERROR_SUCCESS);
    EXPECT_EQ(Table().FreeProvider(second), ERROR_SUCCESS);
}

// A slot description keeps only 32 characters as the reader name, so a
// longer reader can be chosen but never found.
TEST_F(ReaderDialogTest, ReaderNameLongerThan32CharactersIsNotFound)
{
    const std::string longName = "VELA5 Reader With A Very Long Name 0123";
    AddReader("VELA5 Reader A");
    AddReader(longName);
    DialogAnswerer answer(longName, false);
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(Open(handle), NTE_INTERNAL_ERROR);
    EXPECT_EQ(answer.Shown(), 1U);
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "Found slot: " + longName.substr(0, 32)));
    EXPECT_TRUE(Contains(log, "NTE_INTERNAL_ERROR: Selected reader not found."));
    EXPECT_EQ(handle, 0U);
}

// Opening the drop-down list lists the readers again: one attached while the
// dialog is open is offered.
TEST_F(ReaderDialogTest, OpeningTheListShowsReadersAttachedMeanwhile)
{
    AddReader("VELA5 Reader A");
    AddReader("VELA5 Reader B");
    DialogAnswerer answer("VELA5 Reader B", false);
    answer.BeforeAnswer([this](wxDialog& dialog) {
        AddReader("VELA5 Late Reader");
        wxCommandEvent dropDown(wxEVT_COMBOBOX_DROPDOWN, 1005);
        dropDown.SetEventObject(dialog.FindWindow(1005));
        dialog.FindWindow(1005)->GetEventHandler()->ProcessEvent(dropDown);
    });
    NCRYPT_PROV_HANDLE handle = 0;
    ASSERT_EQ(Open(handle), ERROR_SUCCESS);
    ASSERT_EQ(answer.Shown(), 1U);
    EXPECT_EQ(answer.Offered()[0],
        (std::vector<std::string> { "VELA5 Late Reader", "VELA5 Reader A", "VELA5 Reader B" }));
    EXPECT_EQ(ReaderOf(handle), u"VELA5 Reader B");
    EXPECT_EQ(Table().FreeProvider(handle), ERROR_SUCCESS);
}
