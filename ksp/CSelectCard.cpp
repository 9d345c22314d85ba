#include "ksp/CSelectCard.h"

#include "ksp/WxHost.h"
#include "platform/cng/WideText.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

using namespace vela5::platform;

namespace {

wxString ToWx(const std::u16string& text)
{
    return wxString::FromUTF8(Cng::Narrow(text));
}

class SelectCardDialog final : public wxDialog {
public:
    SelectCardDialog(
        const std::vector<std::u16string>& readers, std::function<std::vector<std::u16string>()> relist)
        : wxDialog(nullptr, wxID_ANY, "Nurvon KSP v1.0", wxDefaultPosition, wxDefaultSize,
            wxDEFAULT_DIALOG_STYLE, CSelectCard::kWindowName)
        , m_relist(std::move(relist))
    {
        auto* top = new wxBoxSizer(wxVERTICAL);
        top->Add(new wxStaticText(this, wxID_ANY, "Please select a smart card"), 0, wxALL, 10);
        m_list = new wxComboBox(this, CSelectCard::kReaderListId, wxEmptyString, wxDefaultPosition,
            wxDefaultSize, 0, nullptr, wxCB_READONLY | wxCB_SORT);
        m_list->SetMinSize(wxSize(m_list->GetTextExtent("W").GetWidth() * 32, -1));
        top->Add(m_list, 0, wxLEFT | wxRIGHT | wxEXPAND, 10);
        auto* buttons = new wxStdDialogButtonSizer();
        auto* ok = new wxButton(this, wxID_OK, "OK");
        ok->SetDefault();
        buttons->AddButton(ok);
        buttons->AddButton(new wxButton(this, wxID_CANCEL, "Cancel"));
        buttons->Realize();
        top->Add(buttons, 0, wxALL | wxALIGN_RIGHT, 10);
        SetSizerAndFit(top);
        Fill(readers);
        m_list->Bind(wxEVT_COMBOBOX_DROPDOWN, [this](wxCommandEvent&) { Fill(m_relist()); });
        CentreOnScreen();
    }

    wxString Reader() const { return m_list->GetValue(); }

private:
    void Fill(const std::vector<std::u16string>& readers)
    {
        m_list->Clear();
        for (const std::u16string& reader : readers) {
            m_list->Append(ToWx(reader));
        }
        if (!m_list->IsListEmpty()) {
            m_list->SetSelection(0);
        }
    }

    std::function<std::vector<std::u16string>()> m_relist;
    wxComboBox* m_list = nullptr;
};

} // namespace

bool CSelectCard::Run(const std::vector<std::u16string>& readers,
    const std::function<std::vector<std::u16string>()>& relist, const DebugClass& log, std::u16string& chosen)
{
    // A dialog that cannot be created counts as cancelled.
    if (!EnsureWx()) {
        return false;
    }
    SelectCardDialog dialog(readers, relist);
    log.Write("Dialog Loaded");
    const int result = dialog.ShowModal();
    if (result != wxID_OK) {
        return false;
    }
    chosen = Cng::Widen(dialog.Reader().utf8_string());
    return true;
}
