#include "ksp/CLogin.h"

#include "ksp/CSecureEditEx.h"
#include "ksp/ProviderTexts.h"
#include "ksp/ResultCodes.h"
#include "ksp/WxHost.h"
#include "platform/cng/WideText.h"

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

using namespace vela5::platform;

CK_RV LoginUser(CryptokiLibrary& library, CK_SESSION_HANDLE session, const CK_BYTE* pin, CK_ULONG length)
{
    auto* copy = const_cast<CK_BYTE*>(pin);
    if (library.IsMakersModule()) {
        return library.Functions()->C_NRV_Login(session, CKU_USER, copy, length);
    }
    return library.Functions()->C_Login(session, CKU_USER, copy, length);
}

bool IsWrongPin(CK_RV rv, int& retriesLeft)
{
    retriesLeft = 0;
    if (rv >= 1 && rv <= 14) {
        retriesLeft = static_cast<int>(rv);
        return true;
    }
    return rv == CKR_PIN_INCORRECT;
}

void CachePin(const DebugClass& log, PinManager* pins, const TokenSerial* serial, const CK_BYTE* pin,
    std::size_t length)
{
    log.Write("Checking PIN cache setting");
    if (!PinCachingAllowed()) {
        log.Write("PIN caching is not allowed");
        return;
    }
    log.Write("Storing PIN to PIN cache");
    if (pins == nullptr) {
        log.Write("NTE_INTERNAL_ERROR - pin cache is not set");
        return;
    }
    if (serial == nullptr) {
        log.Write("NTE_INTERNAL_ERROR - slot serial number is not set");
        return;
    }
    if (pins->Store(*serial, pin, length) != ERROR_SUCCESS) {
        log.Write("NTE_INTERNAL_ERROR: Failed to store pin to cache.");
    }
}

bool PinBytes(const std::u16string& pin, std::string& bytes)
{
    bytes.assign(pin.size(), '\0');
    for (std::size_t i = 0; i < pin.size(); ++i) {
        if (pin[i] > 0xFF) {
            SecureMemory::Wipe(bytes.data(), bytes.size());
            bytes.clear();
            return false;
        }
        bytes[i] = static_cast<char>(pin[i]);
    }
    return true;
}

namespace {

wxString ToWx(const std::u16string& text)
{
    return wxString::FromUTF8(Cng::Narrow(text));
}

// A key on a card, drawn rather than shipped as an image.
wxBitmap KeyPicture()
{
    wxBitmap bitmap(48, 48);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(255, 255, 255)));
    dc.Clear();
    dc.SetPen(wxPen(wxColour(40, 70, 120), 2));
    dc.SetBrush(wxBrush(wxColour(210, 225, 245)));
    dc.DrawRoundedRectangle(2, 8, 44, 32, 4);
    dc.SetBrush(wxBrush(wxColour(230, 180, 40)));
    dc.SetPen(wxPen(wxColour(150, 110, 10), 2));
    dc.DrawCircle(14, 24, 7);
    dc.DrawRectangle(20, 22, 20, 4);
    dc.DrawRectangle(32, 26, 3, 5);
    dc.DrawRectangle(37, 26, 3, 6);
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

class LoginDialog final : public wxDialog {
public:
    LoginDialog(const CLogin& setup, const DebugClass& log)
        : wxDialog(nullptr, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
            CLogin::kWindowName)
        , m_setup(setup)
        , m_log(log)
    {
        SetTitle(wxString::Format("%s %s", ProviderTexts::kEnterPinFor, ToWx(setup.tokenLabel)));
        m_bold = GetFont().Bold();

        auto* left = new wxBoxSizer(wxVERTICAL);
        left->Add(new wxStaticBitmap(this, CLogin::kBitmapId, KeyPicture()), 0, wxALIGN_CENTER_HORIZONTAL);
        left->Add(new wxStaticText(this, CLogin::kCaptionId, ProviderTexts::kProviderCaption), 0,
            wxTOP | wxALIGN_CENTER_HORIZONTAL, 6);

        auto* box = new wxStaticBoxSizer(wxVERTICAL, this);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(new wxStaticText(box->GetStaticBox(), CLogin::kPinLabelId, ProviderTexts::kPinLabel), 0,
            wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
        m_field = new CSecureEditEx(box->GetStaticBox(), CLogin::kPinFieldId);
        const CK_ULONG maxLength = setup.maxPinLength != 0 ? setup.maxPinLength : CLogin::kDefaultMaxPin;
        m_field->SetMaxLength(static_cast<unsigned long>(maxLength));
        m_field->SetMinSize(wxSize(m_field->GetTextExtent(wxString('W', 16)).GetWidth(), -1));
        row->Add(m_field, 1, wxALIGN_CENTER_VERTICAL);
        box->Add(row, 0, wxALL | wxEXPAND, 8);
        // Sized for the longest line it shows, then cleared.
        m_status = new wxStaticText(box->GetStaticBox(), CLogin::kStatusId,
            wxString::Format("%s: %d", ProviderTexts::kRetriesLeft, 14), wxDefaultPosition, wxDefaultSize,
            wxST_NO_AUTORESIZE);
        m_status->SetForegroundColour(wxColour(250, 0, 0));
        m_status->SetFont(m_bold);
        m_status->SetMinSize(m_status->GetBestSize());
        box->Add(m_status, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxEXPAND, 8);

        auto* body = new wxBoxSizer(wxHORIZONTAL);
        body->Add(left, 0, wxALL, 10);
        body->Add(box, 1, wxTOP | wxRIGHT | wxBOTTOM | wxEXPAND, 10);

        auto* buttons = new wxBoxSizer(wxHORIZONTAL);
        m_login = new wxButton(this, wxID_OK, ProviderTexts::kLogin);
        m_login->SetDefault();
        m_login->Disable();
        buttons->Add(m_login, 0, wxRIGHT, 8);
        buttons->Add(new wxButton(this, wxID_CANCEL, ProviderTexts::kCancel));

        auto* top = new wxBoxSizer(wxVERTICAL);
        top->Add(body, 1, wxEXPAND);
        top->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 10);
        SetSizerAndFit(top);
        m_status->SetLabel(wxEmptyString);

        m_field->OnChanged([this](std::size_t count) {
            m_login->Enable(m_field->IsEnabled() && count >= m_setup.minPinLength);
        });
        Bind(wxEVT_BUTTON, &LoginDialog::OnBnClickedOk, this, wxID_OK);
        Bind(wxEVT_BUTTON, &LoginDialog::OnCancel, this, wxID_CANCEL);
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Cancel(); });
        m_field->SetFocus();
        CentreOnScreen();
    }

    SECURITY_STATUS Result() const { return m_result; }

private:
    void OnBnClickedOk(wxCommandEvent&)
    {
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (m_setup.library == nullptr) {
            m_log.Write("NTE_INTERNAL_ERROR - cryptoki context is not set");
            result = NTE_INTERNAL_ERROR;
        } else if (m_setup.session == 0) {
            m_log.Write("NTE_INVALID_HANDLE - cryptoki session handle is not set");
            result = NTE_INVALID_HANDLE;
        } else if (!m_setup.hasSerial) {
            m_log.Write("NTE_INTERNAL_ERROR - slot serial number is not set");
            result = NTE_INTERNAL_ERROR;
        } else if (m_setup.pinManager == nullptr) {
            m_log.Write("NTE_INTERNAL_ERROR - pin cache context is not set");
            result = NTE_INTERNAL_ERROR;
        }
        if (result != ERROR_SUCCESS) {
            Finish(result);
            return;
        }
        if (m_field->PinLength() == 0) {
            m_log.Write("No PIN was entered");
            return;
        }
        m_log.Write("Retrieving PIN length");
        m_log.Write("Retrieving PIN");
        std::u16string typed = m_field->Pin();
        std::string pin;
        const bool converted = PinBytes(typed, pin);
        WipeText(typed);
        if (!converted) {
            m_log.Write("Failed to retrieve PIN: 0x80090027");
            Finish(NTE_INVALID_PARAMETER);
            return;
        }
        m_log.Write("Logging in to token");
        result = Login(reinterpret_cast<const CK_BYTE*>(pin.data()), pin.size());
        m_log.Write("Initiating cleanup routine - OnBnClickedOk()");
        m_log.Write("Securely deleting PIN buffer");
        SecureMemory::Wipe(pin.data(), pin.size());
        if (result == SCARD_W_WRONG_CHV || result == SCARD_W_CHV_BLOCKED) {
            return;
        }
        m_log.Write("Cleanup routine success - OnBnClickedOk()");
        // The dialog answers what the login answered.
        Finish(result);
    }

    SECURITY_STATUS Login(const CK_BYTE* pin, std::size_t length)
    {
        m_log.Write("Login - Entry");
        m_log.Write("Initiating login to cryptographic session");
        CK_RV rv = LoginUser(*m_setup.library, m_setup.session, pin, static_cast<CK_ULONG>(length));
        int retries = 0;
        if (IsWrongPin(rv, retries)) {
            const wxString text = retries > 0
                ? wxString::Format("%s: %d", ProviderTexts::kRetriesLeft, retries)
                : wxString(ProviderTexts::kRetriesLeft).BeforeLast('.') + ".";
            m_status->SetLabel(text);
            m_field->Erase();
            m_log.Write(text.utf8_string());
            return SCARD_W_WRONG_CHV;
        }
        if (rv == CKR_PIN_LOCKED) {
            m_status->SetLabel(ProviderTexts::kPinLocked);
            m_field->Erase();
            m_field->Disable();
            m_login->Disable();
            m_log.Write(ProviderTexts::kPinLocked);
            return SCARD_W_CHV_BLOCKED;
        }
        if (rv == CKR_USER_ALREADY_LOGGED_IN) {
            m_log.Write("User is already logged in");
            rv = CKR_OK;
        }
        if (rv == CKR_OK) {
            m_log.Write("Login success");
            CachePin(m_log, m_setup.pinManager, &m_setup.serial, pin, length);
            return ERROR_SUCCESS;
        }
        m_log.WriteHex(
            "An unexpected error occured. Refer to PKCS logs for more info", static_cast<std::uint64_t>(rv));
        return MapCryptokiResult(rv);
    }

    void OnCancel(wxCommandEvent&) { Cancel(); }

    void Cancel()
    {
        m_log.Write("Login cancelled");
        m_field->Erase();
        Finish(SCARD_W_CANCELLED_BY_USER);
    }

    void Finish(SECURITY_STATUS result)
    {
        m_log.Write("Releasing PIN cache lock");
        m_result = result;
        if (IsModal()) {
            EndModal(result == ERROR_SUCCESS ? wxID_OK : wxID_CANCEL);
        }
    }

    const CLogin& m_setup;
    const DebugClass& m_log;
    wxFont m_bold;
    CSecureEditEx* m_field = nullptr;
    wxStaticText* m_status = nullptr;
    wxButton* m_login = nullptr;
    SECURITY_STATUS m_result = SCARD_W_CANCELLED_BY_USER;
};

} // namespace

SECURITY_STATUS CLogin::Run(const DebugClass& log) const
{
    if (!EnsureWx()) {
        log.Write("The PIN dialog cannot be shown");
        return NTE_NOT_FOUND;
    }
    // One PIN dialog at a time: a second one (re-entered through the first's
    // message loop) ends at once as cancelled.
    if (pinManager != nullptr && pinManager->DialogActive()) {
        return SCARD_W_CANCELLED_BY_USER;
    }
    try {
        LoginDialog dialog(*this, log);
        if (pinManager != nullptr) {
            pinManager->SetDialogActive(true);
        }
        dialog.ShowModal();
        if (pinManager != nullptr) {
            pinManager->SetDialogActive(false);
        }
        return dialog.Result();
    } catch (const std::runtime_error& error) {
        // The masking field could not draw its pad: no dialog, no login.
        if (pinManager != nullptr) {
            pinManager->SetDialogActive(false);
        }
        log.Write(error.what());
        return NTE_INTERNAL_ERROR;
    }
}
