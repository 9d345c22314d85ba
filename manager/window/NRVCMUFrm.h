// The token manager's main window: the slot tree, the slot and token
// information list, the six token actions, the menus and the status bar. It
// owns the slot table with one session per slot and the polling thread.
#pragma once

#include "ActionButton.h"
#include "AutoLogout.h"
#include "PollingTarget.h"
#include "TokenActions.h"
#include "manager/host/CertPropControl.h"
#include "manager/host/ModuleAccess.h"
#include "manager/host/SlotRecord.h"
#include "manager/host/TokenActionHost.h"
#include "manager/host/TokenStatus.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>
#include <wx/arrstr.h>
#include <wx/frame.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

class MainPollingThread;
class MySystemTrayIcon;
class wxDialog;
class wxListCtrl;
class wxMenuBar;

class NRVCMUFrm final : public wxFrame, public TokenActionHost, public PollingTarget {
public:
    // Window and menu IDs of the commands.
    enum {
        ID_BTN_INITIALIZE_TOKEN = wxID_HIGHEST + 100,
        ID_BTN_LOGIN,
        ID_BTN_CHANGE_USER_PIN,
        ID_BTN_RENAME_TOKEN,
        ID_BTN_CHANGE_SO_PIN,
        ID_BTN_UNLOCK_USER_PIN,
        ID_MENU_SAVE_DETAILS,
        ID_MENU_CERTIFICATE_MANAGER,
        ID_MENU_DATA_OBJECT_MANAGER,
        ID_MENU_SECRET_KEY_MANAGER,
        ID_MENU_SETTINGS,
        ID_MENU_LANGUAGE,
        ID_MENU_LANGUAGE_ENGLISH,
        ID_MENU_LANGUAGE_PORTUGUESE,
        ID_MENU_LANGUAGE_BULGARIAN,
        ID_MENU_LANGUAGE_SPANISH,
        ID_MENU_HELP_TOPICS,
        ID_TREE_SLOTS,
        ID_LIST_INFO,
    };

    // programFolder: where the manager's own files are (empty: tests, which
    // fall back on the settings' folder). reloadMainFrame rebuilds the window
    // in the newly chosen language; without it a language change only ticks.
    NRVCMUFrm(NRVCMUSettings* settings, NRVCMUCryptoki* cryptoki, int extraWidth,
        wxString programFolder = wxString(), std::function<void()> reloadMainFrame = {});
    ~NRVCMUFrm() override;

    // Rebuilds the tree from the first slotCount records (reads each slot's information).
    void UpdateSlotList(int slotCount);

    // TokenActionHost
    wxWindow* GetWindow() override { return this; }
    NRVCMUCryptoki& GetCryptoki() override { return *m_cryptoki; }
    NRVCMUSettings& GetSettings() override { return *m_settings; }
    int GetSelectedSlot() const override;
    SlotRecord& GetSlotRecord(int slotIndex) override;
    CK_SESSION_HANDLE& GetSlotSession(int slotIndex) override;
    CK_SLOT_ID GetEnumeratedSlotId(int slotIndex) const override;
    CK_RV OpenSlotSession(int slotIndex) override;
    bool IsDisplayedTokenInitialized() const override { return m_displayedToken.initialized; }
    CK_ULONG GetDisplayedMaxPinLength() const override { return m_displayedToken.maxPinLen; }
    CK_ULONG GetDisplayedMinPinLength() const override { return m_displayedToken.minPinLen; }
    void SetStatus(const wxString& text) override;
    void UpdateActions(bool enable, const SlotRecord& record) override;
    void ShowTokenInfo(int slotIndex) override;
    void PausePolling() override;
    void ResumePolling() override;

    // What tests and neighbours read back.
    wxString GetStatus() const;
    const DisplayedToken& GetDisplayedToken() const { return m_displayedToken; }
    bool IsBusy() const override { return m_rebuilding || m_pauses > 0; }
    wxTreeCtrl* GetSlotTree() const { return m_slotTree; }
    wxListCtrl* GetInfoList() const { return m_infoList; }
    ActionButton* GetActionButton(int id) const;
    // The ticked item of the Language menu ("English", "Bulgarian", ...).
    const wxString& GetLanguage() const { return m_language; }
    // Replaces the reload callback (tests).
    void SetReloadMainFrameHandler(std::function<void()> handler) { m_reloadMainFrame = std::move(handler); }

    // Where the manager's own files are: the agent, the catalogs, the guide.
    wxString GetProgramFolder() const;
    // The user guide in the program's folder.
    wxString GetHelpFilePath() const;
    MySystemTrayIcon* GetTrayIcon() const { return m_trayIcon; }
    // The last agent this window started.
    const CertPropControl::AgentRecord& GetCertPropRecord() const { return m_certProp; }

    // Starts the propagation agent from the program's folder, hidden.
    void RunCertProp();
    // Called after the settings dialog with the two certificate options it
    // started with: applies the settings in a worker, which resumes polling.
    // Pauses polling itself unless handed the dialog's pause.
    void StartSettingsThread(
        bool wasInstallCertificate, bool wasRemoveCertificate, ModuleAccess access = ModuleAccess());
    // Options, Settings: the settings dialog with polling paused, then the
    // settings worker, whatever the dialog's result.
    void ShowSettings();
    // Auto-logout's input clock; tests shorten its minute.
    AutoLogout& GetAutoLogout() { return *m_autoLogout; }
    void SetAutoLogoutMinuteLength(AutoLogout::Clock::duration length);
    // File, Save Details: asks for a file and writes the list into it.
    void SaveDetails();
    // Writes the list's report into path and reports the outcome in the status bar.
    void SaveDetailsTo(const wxString& path);
    // Opens the user guide with the desktop's document opener.
    void ShowHelp();

private:
    // PollingTarget
    void SetBusy(bool busy) override { m_rebuilding = busy; }
    void PostReadersGone() override;
    void PostBeginRebuild() override;
    void PostRebuild(SlotEnumeration enumeration) override;
    void PostStepError(const wxString& text) override;
    void OnPollingThreadGone() override;

    void CreateMenus();
    void CreateControls();
    void StartPolling();
    void StopPolling();
    void CloseAllSessionsOnExit();

    void ApplyReadersGone();
    void ApplyBeginRebuild();
    void ApplyRebuild(const SlotEnumeration& enumeration);
    void ApplyStepError(const wxString& text);
    void ApplySlotList(const std::vector<SlotInfoEntry>& slotInfos);
    void CloseKnownDialogs();
    wxDialog* FindChildDialog(int id) const;
    void SelectSlot(int slotIndex);
    void FillInfoList(const std::vector<InfoRow>& rows);
    void FitValueColumn();
    void FitTreeToItems();
    void OnInfoListMotion(wxMouseEvent& event);
    bool IsValidSlot(int slotIndex) const;

    void OnSlotSelected(wxTreeEvent& event);
    void OnInitializeToken(wxCommandEvent& event);
    void OnLogin(wxCommandEvent& event);
    void OnChangeUserPIN(wxCommandEvent& event);
    void OnRenameToken(wxCommandEvent& event);
    void OnChangeSOPIN(wxCommandEvent& event);
    void OnUnlockUserPIN(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnLanguage(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnSaveDetails(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    void OnIconize(wxIconizeEvent& event);
    void OnCertificateManager(wxCommandEvent& event);
    void OnSettings(wxCommandEvent& event);
    void OnAutoLogoutTimer(wxTimerEvent& event);
    void OnDataObjectManager(wxCommandEvent& event);
    void OnSecretKeyManager(wxCommandEvent& event);
    // The slot tree's texts, one per slot, for the object managers.
    wxArrayString SlotTexts() const;
    void OnClose(wxCloseEvent& event);

    const wxString m_programFolder;
    NRVCMUSettings* m_settings;
    NRVCMUCryptoki* m_cryptoki;
    const int m_extraWidth;
    TokenActions m_actions;
    std::function<void()> m_reloadMainFrame;

    SlotTable m_slots;
    std::array<CK_SESSION_HANDLE, kSlotTableSize> m_sessions {};
    std::vector<CK_SLOT_ID> m_slotIds;
    DisplayedToken m_displayedToken;
    // Answers for an index outside the table, so a caller never gets a dangling reference.
    SlotRecord m_noSlot;
    CK_SESSION_HANDLE m_noSession = 0;
    // Set by the poller while it rebuilds the slot list.
    std::atomic<bool> m_rebuilding { false };
    // Module accesses held now; they nest (a command's status step takes
    // its own), so only the first pauses the poller and the last resumes it.
    // Changed under m_threadCS.
    std::atomic<int> m_pauses { 0 };

    MainPollingThread* m_threadPolling = nullptr;
    wxCriticalSection m_threadCS;

    wxTreeCtrl* m_slotTree = nullptr;
    wxTreeItemId m_slotRoot;
    wxListCtrl* m_infoList = nullptr;
    wxWindow* m_actionPanel = nullptr;
    std::array<ActionButton*, 6> m_buttons {};
    wxString m_language;
    MySystemTrayIcon* m_trayIcon = nullptr;
    CertPropControl::AgentRecord m_certProp;
    bool m_selectingSlot = false;
    std::unique_ptr<AutoLogout> m_autoLogout;
    wxTimer m_autoLogoutTimer;
    // Width of the widest value of the list, padding included.
    int m_valueWidth = 0;
};
