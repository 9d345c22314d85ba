// Shared by the token command tests: answering the real dialogs through the
// modal seam, and the software token's control tool.
#pragma once

#include "manager/core/ModalRunner.h"
#include "manager/pin/ChangePINDlg.h"
#include "manager/pin/InitializeTokenDlg.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/RenameTokenDlg.h"
#include "manager/pin/UnlockPINDlg.h"
#include "tests/support/RunTokenTool.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace token_actions_test {

inline void SetText(wxDialog& dialog, int id, const wxString& text)
{
    auto* field = dynamic_cast<wxTextCtrl*>(dialog.FindWindow(id));
    ASSERT_NE(field, nullptr) << "no text field " << id << " in " << dialog.GetName();
    field->SetValue(text);
}

inline void Press(wxDialog& dialog, int id)
{
    wxWindow* button = dialog.FindWindow(id);
    ASSERT_NE(button, nullptr) << "no button " << id << " in " << dialog.GetName();
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

inline wxString ErrorLine(wxDialog& dialog)
{
    int id = wxID_NONE;
    if (dynamic_cast<LogInDlg*>(&dialog) != nullptr) {
        id = LogInDlg::ID_LBE_ERROR_MESSAGE;
    } else if (dynamic_cast<ChangePINDlg*>(&dialog) != nullptr) {
        id = ChangePINDlg::ID_LBE_ERROR_MESSAGE;
    } else if (dynamic_cast<UnlockPINDlg*>(&dialog) != nullptr) {
        id = UnlockPINDlg::ID_LBE_ERROR_MESSAGE;
    } else if (dynamic_cast<InitializeTokenDlg*>(&dialog) != nullptr) {
        id = InitializeTokenDlg::ID_LBE_ERROR_MESSAGE;
    }
    auto* line = dynamic_cast<wxStaticText*>(dialog.FindWindow(id));
    return line != nullptr ? line->GetLabelText() : wxString();
}

// Answers the dialogs of one command in order; every dialog shown is recorded
// with the error text it was shown with.
class DialogScript final {
public:
    using Answer = std::function<int(wxDialog&)>;

    DialogScript()
    {
        ModalRunner::SetDialogHook([this](wxDialog& dialog) { return Next(dialog); });
    }
    ~DialogScript() { ModalRunner::ClearHooks(); }

    DialogScript& Then(Answer answer)
    {
        m_answers.push_back(std::move(answer));
        return *this;
    }

    bool AllUsed() const { return m_answers.empty(); }
    const std::vector<wxString>& Names() const { return m_names; }
    const std::vector<wxString>& Errors() const { return m_errors; }
    const std::vector<wxString>& Titles() const { return m_titles; }

private:
    int Next(wxDialog& dialog)
    {
        m_names.push_back(dialog.GetName());
        m_errors.push_back(ErrorLine(dialog));
        m_titles.push_back(dialog.GetTitle());
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << dialog.GetName();
            return wxID_NO;
        }
        const Answer answer = std::move(m_answers.front());
        m_answers.pop_front();
        return answer(dialog);
    }

    std::deque<Answer> m_answers;
    std::vector<wxString> m_names;
    std::vector<wxString> m_errors;
    std::vector<wxString> m_titles;
};

inline int Accepted(bool accepted, wxDialog& dialog)
{
    EXPECT_TRUE(accepted) << dialog.GetName() << " refused the input: " << ErrorLine(dialog);
    return accepted ? wxID_OK : wxID_NO;
}

inline DialogScript::Answer Cancel()
{
    return [](wxDialog&) { return wxID_NO; };
}

inline DialogScript::Answer EnterPin(const wxString& pin)
{
    return [pin](wxDialog& dialog) {
        auto& login = dynamic_cast<LogInDlg&>(dialog);
        SetText(dialog, LogInDlg::ID_TXT_PIN, pin);
        Press(dialog, LogInDlg::ID_BTN_OK);
        return Accepted(login.GetPIN() == pin, dialog);
    };
}

// current is ignored by the default-PIN form, which has no current field.
inline DialogScript::Answer ChangePin(const wxString& current, const wxString& replacement)
{
    return [current, replacement](wxDialog& dialog) {
        auto& change = dynamic_cast<ChangePINDlg&>(dialog);
        if (dialog.FindWindow(ChangePINDlg::ID_TXT_CURRENT_PIN)->IsShown()) {
            SetText(dialog, ChangePINDlg::ID_TXT_CURRENT_PIN, current);
        }
        SetText(dialog, ChangePINDlg::ID_TXT_NEW_PIN, replacement);
        SetText(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN, replacement);
        Press(dialog, ChangePINDlg::ID_BTN_OK);
        return Accepted(change.GetNewPIN() == replacement, dialog);
    };
}

inline DialogScript::Answer Unlock(const wxString& soPIN, const wxString& newUserPIN)
{
    return [soPIN, newUserPIN](wxDialog& dialog) {
        auto& unlock = dynamic_cast<UnlockPINDlg&>(dialog);
        SetText(dialog, UnlockPINDlg::ID_TXT_NEW_USER_PIN, newUserPIN);
        SetText(dialog, UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN, newUserPIN);
        SetText(dialog, UnlockPINDlg::ID_TXT_CURRENT_SO_PIN, soPIN);
        Press(dialog, UnlockPINDlg::ID_BTN_OK);
        return Accepted(unlock.GetSOPIN() == soPIN, dialog);
    };
}

inline DialogScript::Answer Rename(const wxString& label)
{
    return [label](wxDialog& dialog) {
        auto& rename = dynamic_cast<RenameTokenDlg&>(dialog);
        SetText(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME, label);
        Press(dialog, RenameTokenDlg::ID_BTN_CHANGE);
        return Accepted(rename.GetNewLabel() == label, dialog);
    };
}

// Accepts the initialization dialog with the PINs the settings give.
inline DialogScript::Answer AcceptInit(bool clearCard)
{
    return [clearCard](wxDialog& dialog) {
        auto& init = dynamic_cast<InitializeTokenDlg&>(dialog);
        auto* box
            = dynamic_cast<wxCheckBox*>(dialog.FindWindow(InitializeTokenDlg::ID_CHK_ENABLE_CLEAR_CARD));
        EXPECT_NE(box, nullptr);
        if (box != nullptr) {
            box->SetValue(clearCard);
        }
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
        return Accepted(!init.GetSOPIN().empty(), dialog);
    };
}

inline const wxString kFactoryPIN = wxS("73920518");

using ::RunTokenTool;

} // namespace token_actions_test
