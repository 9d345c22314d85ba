#include "SettingsDlg.h"

#include "SettingsGeneralApplicationPnl.h"
#include "SettingsInitializationPINPnl.h"
#include "SettingsInitializationTokenPnl.h"
#include "SettingsLoggingPnl.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/pin/PinDialogBase.h"
#include "manager/res/EmbeddedImages.h"

#include <functional>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

struct PageInfo {
    SettingsPage page;
    int category;
    const char* button;
    const char* header;
    const char* description;
};

// wxTRANSLATE marks the texts for the catalogs; they are translated when shown.
const PageInfo kPageInfo[] = {
    { SettingsPage::Application, 0, wxTRANSLATE("Application Settings"), wxTRANSLATE("Settings:"),
        wxTRANSLATE("Set up all the basic utility operations") },
    { SettingsPage::Token, 1, wxTRANSLATE("Token Settings"), wxTRANSLATE("Token Settings:"),
        wxTRANSLATE("Customize general token settings") },
    { SettingsPage::UserPIN, 1, wxTRANSLATE("User PIN"), wxTRANSLATE("User PIN:"),
        wxTRANSLATE("Customize User PIN settings") },
    { SettingsPage::SOPIN, 1, wxTRANSLATE("SO PIN"), wxTRANSLATE("SO PIN:"),
        wxTRANSLATE("Customize SO PIN settings") },
    { SettingsPage::CSP, 2, wxTRANSLATE("CSP"), wxTRANSLATE("CSP - Cryptographic Service Provider:"),
        wxTRANSLATE("Set up CSP logging preference") },
    { SettingsPage::KSP, 2, wxTRANSLATE("KSP"), wxTRANSLATE("KSP - Key Storage Provider:"),
        wxTRANSLATE("Set up KSP logging preference") },
    { SettingsPage::PKCS11, 2, wxTRANSLATE("PKCS#11"),
        wxTRANSLATE("PKCS#11 - Cryptographic Token Interface:"),
        wxTRANSLATE("Set up PKCS#11 logging preference") },
};

struct CategoryInfo {
    const char* name;
    const char* normal;
    const char* selected;
    SettingsPage first;
};

const CategoryInfo kCategories[] = {
    { wxTRANSLATE("GENERAL"), "CatGeneralDef", "CatGeneralSel", SettingsPage::Application },
    { wxTRANSLATE("INITIALIZATION"), "CatInitializationDef", "CatInitializationSel", SettingsPage::Token },
    { wxTRANSLATE("LOGGING PREFERENCE"), "CatLoggingDef", "CatLoggingSel", SettingsPage::CSP },
};

size_t Index(SettingsPage page)
{
    return static_cast<size_t>(page);
}

} // namespace

SettingsDlg::SettingsDlg(wxWindow* parent, NRVCMUSettings& settings, bool show64)
    : wxDialog(parent, wxID_ANY, ManagerTitle(_("Settings")), wxDefaultPosition, wxDefaultSize,
        wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU, "SettingsDlg")
    , m_settings(settings)
{
    NRVCMULog::Get().WriteLine("@SettingsDlg::SettingsDlg() - ENTER");
    const int gap = FromDIP(6);

    // The category column: a bitmap button per category, its pages below it.
    auto* navigation = new wxPanel(this);
    navigation->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    auto* navigationColumn = new wxBoxSizer(wxVERTICAL);
    for (size_t c = 0; c < std::size(kCategories); ++c) {
        auto* button = new wxButton(navigation, ID_BTN_CATEGORY_GENERAL + static_cast<int>(c),
            wxGetTranslation(kCategories[c].name), wxDefaultPosition, wxDefaultSize,
            wxBORDER_NONE | wxBU_LEFT);
        button->SetBitmap(LoadEmbeddedBitmap(kCategories[c].normal));
        button->SetBitmapPressed(LoadEmbeddedBitmap(kCategories[c].selected));
        button->SetFont(button->GetFont().Bold());
        button->Bind(wxEVT_BUTTON, &SettingsDlg::OnCategory, this);
        m_categoryButtons[c] = button;
        navigationColumn->Add(button, wxSizerFlags().Expand().Border(wxTOP | wxLEFT | wxRIGHT, gap));
        auto* list = new wxBoxSizer(wxVERTICAL);
        for (const PageInfo& info : kPageInfo) {
            if (info.category != static_cast<int>(c)) {
                continue;
            }
            auto* pageButton = new wxButton(navigation, ID_BTN_PAGE_FIRST + static_cast<int>(info.page),
                wxGetTranslation(info.button), wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxBU_LEFT);
            pageButton->Bind(wxEVT_BUTTON, &SettingsDlg::OnPageButton, this);
            m_pageButtons[Index(info.page)] = pageButton;
            list->Add(pageButton, wxSizerFlags().Expand().Border(wxLEFT, gap * 5));
        }
        m_pageLists[c] = list;
        navigationColumn->Add(list, wxSizerFlags().Expand());
    }
    navigation->SetSizer(navigationColumn);

    // The page area: header, description, then the seven pages (one shown).
    m_header = new wxStaticText(this, ID_LBE_HEADER, wxString());
    m_header->SetFont(m_header->GetFont().Bold().Larger());
    m_description = new wxStaticText(this, ID_LBE_DESCRIPTION, wxString());
    m_application = new SettingsGeneralApplicationPnl(this);
    m_token = new SettingsInitializationTokenPnl(this);
    m_userPin = new SettingsInitializationPINPnl(this, PinKind::User);
    m_soPin = new SettingsInitializationPINPnl(this, PinKind::SO);
    m_logging[0] = new SettingsLoggingCSPPnl(this, settings, show64);
    m_logging[1] = new SettingsLoggingKSPPnl(this, settings, show64);
    m_logging[2] = new SettingsLoggingPKCS11Pnl(this, settings, show64);
    m_pages = { m_application, m_token, m_userPin, m_soPin, m_logging[0], m_logging[1], m_logging[2] };
    auto* pageColumn = new wxBoxSizer(wxVERTICAL);
    pageColumn->Add(m_header, wxSizerFlags().Border(wxBOTTOM, gap / 2));
    pageColumn->Add(m_description, wxSizerFlags().Border(wxBOTTOM, gap / 2));
    pageColumn->Add(new wxStaticLine(this), wxSizerFlags().Expand().Border(wxBOTTOM, gap));
    for (wxWindow* page : m_pages) {
        pageColumn->Add(page, wxSizerFlags(1).Expand());
    }

    auto* body = new wxBoxSizer(wxHORIZONTAL);
    body->Add(navigation, wxSizerFlags().Expand().Border(wxRIGHT, gap * 2));
    body->Add(pageColumn, wxSizerFlags(1).Expand());

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* reset = new wxButton(this, ID_BTN_DEFAULT, _("Reset to Default"));
    auto* ok = new wxButton(this, ID_BTN_OK, _("OK"));
    auto* cancel = new wxButton(this, ID_BTN_CANCEL, _("Cancel"));
    buttons->Add(reset);
    buttons->AddStretchSpacer();
    buttons->Add(ok, wxSizerFlags().Border(wxRIGHT, gap));
    buttons->Add(cancel);
    ok->SetDefault();
    reset->Bind(wxEVT_BUTTON, &SettingsDlg::OnDefault, this);
    ok->Bind(wxEVT_BUTTON, &SettingsDlg::OnOK, this);
    cancel->Bind(wxEVT_BUTTON, &SettingsDlg::OnCancel, this);
    Bind(wxEVT_CLOSE_WINDOW, &SettingsDlg::OnClose, this);
    SetEscapeId(ID_BTN_CANCEL);

    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(body, wxSizerFlags(1).Expand().Border(wxALL, gap * 2));
    outer->Add(new wxStaticLine(this), wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT, gap * 2));
    outer->Add(buttons, wxSizerFlags().Expand().Border(wxALL, gap * 2));

    SetSizer(outer);
    LoadPages(ReadSettingsValues(settings));
    FitToPages();
    // The toolkit knows the final text sizes only once the window is realized.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        event.Skip();
        if (event.IsShown() && !m_fittedWhenShown) {
            m_fittedWhenShown = true;
            CallAfter([this] { FitToPages(); });
        }
    });
    CentreOnParent();
    NRVCMULog::Get().WriteLine("@SettingsDlg::SettingsDlg() - EXIT");
}

void SettingsDlg::FitToPages()
{
    // Sized for the largest page and PIN type, so the dialog keeps its size
    // while the user browses.
    const std::function<void(wxWindow*)> invalidate = [&invalidate](wxWindow* window) {
        window->InvalidateBestSize();
        for (wxWindow* child : window->GetChildren()) {
            invalidate(child);
        }
    };
    invalidate(this);
    const SettingsPage shown = m_shown;
    wxSize largest = GetMinSize();
    for (const PageInfo& info : kPageInfo) {
        ShowPage(info.page);
        SettingsInitializationPINPnl* pin = nullptr;
        if (info.page == SettingsPage::UserPIN || info.page == SettingsPage::SOPIN) {
            pin = info.page == SettingsPage::SOPIN ? m_soPin : m_userPin;
        }
        const long chosen = pin != nullptr ? pin->GetState().type : 0;
        for (long type : { 0L, 1L, 2L }) {
            if (pin != nullptr) {
                pin->ShowType(type);
            }
            largest.IncTo(GetSizer()->ComputeFittingWindowSize(this));
            if (pin == nullptr) {
                break;
            }
        }
        if (pin != nullptr) {
            pin->ShowType(chosen);
        }
    }
    ShowPage(shown);
    SetMinSize(largest);
    wxSize size = GetSize();
    size.IncTo(largest);
    SetSize(size);
}

SettingsDlg::~SettingsDlg()
{
    NRVCMULog::Get().WriteLine("@SettingsDlg::~SettingsDlg() - EXIT");
}

SettingsLoggingPnl* SettingsDlg::GetLoggingPage(LogComponent component) const
{
    return m_logging[static_cast<size_t>(component)];
}

wxString SettingsDlg::GetHeaderText() const
{
    return m_header->GetLabel();
}

void SettingsDlg::LoadPages(const SettingsValues& values)
{
    m_application->Load(values);
    m_token->Load(values);
    m_userPin->Load(values.userPin);
    m_soPin->Load(values.soPin);
    m_logging[0]->Load(values.csp);
    m_logging[1]->Load(values.ksp);
    m_logging[2]->Load(values.pkcs11);
}

void SettingsDlg::ShowPage(SettingsPage page)
{
    m_shown = page;
    const PageInfo& info = kPageInfo[Index(page)];
    for (size_t i = 0; i < m_pages.size(); ++i) {
        m_pages[i]->Show(i == Index(page));
        const bool selected = i == Index(page);
        m_pageButtons[i]->SetForegroundColour(
            selected ? wxColour(0, 84, 166) : wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
        wxFont font = m_pageButtons[i]->GetFont();
        font.SetWeight(selected ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
        m_pageButtons[i]->SetFont(font);
    }
    for (size_t c = 0; c < m_categoryButtons.size(); ++c) {
        const bool selected = static_cast<int>(c) == info.category;
        m_categoryButtons[c]->SetBitmap(
            LoadEmbeddedBitmap(selected ? kCategories[c].selected : kCategories[c].normal));
        m_categoryButtons[c]->GetContainingSizer()->Show(m_pageLists[c], selected, true);
    }
    m_header->SetLabel(wxGetTranslation(info.header));
    m_description->SetLabel(wxGetTranslation(info.description));
    m_categoryButtons[0]->GetParent()->Layout();
    Layout();
}

void SettingsDlg::OnCategory(wxCommandEvent& event)
{
    const int category = event.GetId() - ID_BTN_CATEGORY_GENERAL;
    if (kPageInfo[Index(m_shown)].category == category) {
        return;
    }
    ShowPage(kCategories[category].first);
}

void SettingsDlg::OnPageButton(wxCommandEvent& event)
{
    ShowPage(static_cast<SettingsPage>(event.GetId() - ID_BTN_PAGE_FIRST));
}

void SettingsDlg::OnOK(wxCommandEvent&)
{
    const SettingsCheckResult check
        = CheckSettingsPages(m_token->GetState(), m_userPin->GetState(), m_soPin->GetState());
    if (!check.accepted) {
        ShowPage(check.page);
        wxTextCtrl* field = nullptr;
        if (check.focus == SettingsField::TokenLabel) {
            field = m_token->GetLabelField();
        } else if (check.focus == SettingsField::PinValue) {
            field = GetPinPage(check.page == SettingsPage::SOPIN ? PinKind::SO : PinKind::User)
                        ->GetVisibleValueField();
        }
        if (field != nullptr && check.replaceText) {
            field->ChangeValue(check.replacement);
        }
        ModalRunner::ShowMessage(check.message, ManagerTitle(_("Settings")), wxOK | wxICON_INFORMATION, this);
        if (field != nullptr) {
            field->SetFocus();
            if (check.selectAll) {
                field->SelectAll();
            } else {
                field->SetInsertionPointEnd();
            }
        }
        return;
    }
    SettingsValues values = ReadSettingsValues(m_settings);
    m_application->Store(values);
    m_token->Store(values);
    values.userPin = m_userPin->Store();
    values.soPin = m_soPin->Store();
    values.csp = m_logging[0]->Store();
    values.ksp = m_logging[1]->Store();
    values.pkcs11 = m_logging[2]->Store();
    WriteSettingsValues(m_settings, values);
    m_settings.SaveHash();
    EndIfModal(wxID_OK);
}

void SettingsDlg::OnCancel(wxCommandEvent&)
{
    EndIfModal(wxID_CANCEL);
}

void SettingsDlg::OnClose(wxCloseEvent&)
{
    EndIfModal(wxID_CANCEL);
}

void SettingsDlg::EndIfModal(int code)
{
    // A test's hook answers the dialog without showing it: the code is read back.
    SetReturnCode(code);
    if (IsModal()) {
        EndModal(code);
    }
}

void SettingsDlg::OnDefault(wxCommandEvent&)
{
    LoadPages(DefaultSettingsValues(m_settings));
    // The page shown stays; its controls now show the defaults.
    ShowPage(m_shown);
}
