// The token manager's preferences window: seven pages in three categories,
// each bound to its keys of the settings store. OK checks the label and the
// PIN policies, writes every page and saves the digest; Cancel discards every
// edit; Reset to Default puts the store's defaults into the pages.
#pragma once

#include "SettingsDlgRules.h"

#include <array>
#include <wx/dialog.h>

class NRVCMUSettings;
class SettingsGeneralApplicationPnl;
class SettingsInitializationPINPnl;
class SettingsInitializationTokenPnl;
class SettingsLoggingPnl;
class wxButton;
class wxStaticText;

class SettingsDlg final : public wxDialog {
public:
    enum {
        ID_BTN_OK = 2000,
        ID_BTN_CANCEL,
        ID_BTN_DEFAULT,
        ID_BTN_CATEGORY_GENERAL,
        ID_BTN_CATEGORY_INITIALIZATION,
        ID_BTN_CATEGORY_LOGGING,
        // One per page, in SettingsPage order.
        ID_BTN_PAGE_FIRST,
        ID_LBE_HEADER = ID_BTN_PAGE_FIRST + 7,
        ID_LBE_DESCRIPTION,
    };

    // show64: the 64-bit logging controls are shown (a 64-bit system).
    SettingsDlg(wxWindow* parent, NRVCMUSettings& settings, bool show64 = true);
    ~SettingsDlg() override;

    // Shows a page alone, as clicking its button does.
    void ShowPage(SettingsPage page);
    SettingsPage GetShownPage() const { return m_shown; }
    wxWindow* GetPage(SettingsPage page) const { return m_pages[static_cast<size_t>(page)]; }
    SettingsGeneralApplicationPnl* GetApplicationPage() const { return m_application; }
    SettingsInitializationTokenPnl* GetTokenPage() const { return m_token; }
    SettingsInitializationPINPnl* GetPinPage(PinKind kind) const
    {
        return kind == PinKind::SO ? m_soPin : m_userPin;
    }
    SettingsLoggingPnl* GetLoggingPage(LogComponent component) const;
    wxString GetHeaderText() const;

private:
    void LoadPages(const SettingsValues& values);
    void FitToPages();
    void OnCategory(wxCommandEvent& event);
    void OnPageButton(wxCommandEvent& event);
    void OnOK(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnDefault(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void EndIfModal(int code);

    NRVCMUSettings& m_settings;
    SettingsGeneralApplicationPnl* m_application = nullptr;
    SettingsInitializationTokenPnl* m_token = nullptr;
    SettingsInitializationPINPnl* m_userPin = nullptr;
    SettingsInitializationPINPnl* m_soPin = nullptr;
    std::array<SettingsLoggingPnl*, 3> m_logging {};
    std::array<wxWindow*, 7> m_pages {};
    std::array<wxButton*, 7> m_pageButtons {};
    std::array<wxButton*, 3> m_categoryButtons {};
    std::array<wxSizer*, 3> m_pageLists {};
    wxStaticText* m_header = nullptr;
    wxStaticText* m_description = nullptr;
    SettingsPage m_shown = SettingsPage::Application;
    bool m_fittedWhenShown = false;
};
