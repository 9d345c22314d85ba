// The frame shared by the secret key and data object managers: the disabled
// slot choice, a report list in the group "Items", a column of buttons, the
// message line, the window's own session, and the bracket every token
// operation runs in (controls off, the main window's polling paused, all of
// it undone at the end). A worker's operation spans from its start to its
// posted outcome.
#pragma once

#include "ButtonColumn.h"
#include "MessageLine.h"
#include "manager/host/ModuleAccess.h"
#include "pkcs11/pkcs11.h"

#include <memory>
#include <vector>
#include <wx/arrstr.h>
#include <wx/dialog.h>

class NRVCMUCryptoki;
class TokenActionHost;
class WindowWorker;
class wxButton;
class wxChoice;
class wxListCtrl;
class wxListEvent;

class ObjectListDlg : public wxDialog {
public:
    ~ObjectListDlg() override;

    // What tests read back.
    wxString GetMessage() const;
    // Every text the message line showed, in order.
    const std::vector<wxString>& GetMessages() const { return m_messages; }
    wxListCtrl* GetList() const { return m_list; }
    wxButton* GetButton(int id) const;
    CK_SESSION_HANDLE GetSession() const { return m_session; }
    // True from a worker's start until its outcome has been applied.
    bool IsWorking() const { return m_working; }
    // The selected row, or -1.
    int GetSelectedRow() const;
    void SelectRow(int row);

protected:
    struct Column {
        wxString title;
        // What the values need; a wider title widens the column.
        int width;
    };
    using ListButton = ButtonColumn::Entry;
    struct ControlIds {
        int slotChoice;
        int list;
        int message;
    };

    ObjectListDlg(wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts,
        int dialogId, const wxString& subject, const ControlIds& ids, const std::vector<Column>& columns,
        const std::vector<ListButton>& buttons);

    // The buttons for the window's current rows and selection.
    virtual void ApplyButtons() = 0;
    virtual void Load() = 0;

    NRVCMUCryptoki& Cryptoki();
    void SetMessage(const wxString& text);
    // "No Card Present" in the selected slot's text.
    bool IsNoCardPresent() const;
    // The maker's refresh call (on the maker's module) and the window's session.
    CK_RV OpenWindowSession();
    // The maker's refresh call, before each listing.
    CK_RV RefreshTokenFlag();
    void SetRows(const std::vector<std::vector<wxString>>& rows);
    // The common question box: "%s\n%s" with text and "Do you still want to
    // continue?"; true when the user goes on.
    bool Confirm(const wxString& title, const wxString& text);

    // Controls off and polling paused; a worker's operation also disables
    // the window.
    void BeginOperation(bool worker);
    // Reverses BeginOperation and applies the buttons.
    void EndOperation();
    // Starts a created worker inside a begun operation. If it cannot start,
    // shows failure with the thread error text and ends the operation.
    bool StartWorker(std::unique_ptr<WindowWorker> worker, const wxString& failure);
    // A worker's outcome: the success path shows the token information step
    // and then text; a failure shows text alone. Ends the operation.
    void FinishWorker(bool succeeded, const wxString& text);

    TokenActionHost& m_host;
    const int m_slotIndex;
    CK_SESSION_HANDLE m_session = CK_INVALID_HANDLE;

    // A synchronous operation (the listing at load) as a scope.
    class Bracket final {
    public:
        explicit Bracket(ObjectListDlg& dialog)
            : m_dialog(dialog)
        {
            m_dialog.BeginOperation(false);
        }
        ~Bracket() { m_dialog.EndOperation(); }
        Bracket(const Bracket&) = delete;
        Bracket& operator=(const Bracket&) = delete;

    private:
        ObjectListDlg& m_dialog;
    };

private:
    void EnableControls(bool enable);
    void CloseWindow();

    wxChoice* m_slots = nullptr;
    wxListCtrl* m_list = nullptr;
    MessageLine* m_message = nullptr;
    ButtonColumn m_buttons;
    std::vector<wxString> m_messages;
    ModuleAccess m_access;
    bool m_working = false;
};
