#include "MainInitializeTokenThread.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModuleTextBuffer.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/core/SecretString.h"
#include "manager/host/PinScrambler.h"
#include "manager/host/TokenCommandRules.h"

#include <utility>
#include <wx/intl.h>

InitTokenSettings InitTokenSettings::From(const NRVCMUSettings& settings)
{
    InitTokenSettings values;
    values.tokenLabel = settings.GetTokenLabel();
    values.appendSerialNumber = settings.IsAppendSerialNumberToLabel();
    values.userPINErrorLimit = settings.GetUserPINErrorLimit();
    values.userPINMaxLength = settings.GetUserPINMaxLength();
    values.userPINMinLength = settings.GetUserPINMinLength();
    values.soPINErrorLimit = settings.GetSOPINErrorLimit();
    values.soPINMaxLength = settings.GetSOPINMaxLength();
    values.soPINMinLength = settings.GetSOPINMinLength();
    values.maxRSAKeyPairs = settings.GetMaxRSAKeyPairs();
    return values;
}

MainInitializeTokenThread::MainInitializeTokenThread(
    wxWindow* window, NRVCMUCryptoki& cryptoki, Request request, Completion completion)
    : WindowWorkerOf(window, std::move(completion))
    , m_cryptoki(cryptoki)
    , m_request(std::move(request))
{
}

MainInitializeTokenThread::~MainInitializeTokenThread()
{
    SecretString::Wipe(m_request.userPIN);
    SecretString::Wipe(m_request.soPIN);
}

namespace {
CK_ULONG ToUlong(long value)
{
    return value < 0 ? 0 : static_cast<CK_ULONG>(value);
}

wxString ContextText(bool reinitialize)
{
    return reinitialize ? _("Failed to re-initialize token.") : _("Failed to initialize token.");
}
} // namespace

InitTokenOutcome MainInitializeTokenThread::InitializeToken(NRVCMUCryptoki& cryptoki, const Request& request)
{
    const wxString context = ContextText(request.reinitialize);
    const InitTokenSettings& settings = request.settings;

    ModuleTextBuffer label(ModuleTextKind::Label);
    ModuleTextBuffer userPIN(ModuleTextKind::Pin);
    ModuleTextBuffer soPIN(ModuleTextKind::Pin);
    const wxString labelText
        = TokenCommandRules::FitToBytes(TokenCommandRules::BuildInitLabel(settings.tokenLabel,
                                            settings.appendSerialNumber, request.serialNumber),
            ModuleTextBuffer::CapacityOf(ModuleTextKind::Label) - 1);
    for (const auto& [buffer, text] : { std::pair { &label, &labelText },
             std::pair { &userPIN, &request.userPIN }, std::pair { &soPIN, &request.soPIN } }) {
        const CK_RV rv = buffer->Assign(*text);
        if (rv != CKR_OK) {
            return { rv, GetResultMessage(rv, context) };
        }
    }

    NRV_INIT_TOKEN_RECORD record {};
    record.pLabel = label.Data();
    record.pUserPin = userPIN.Data();
    record.ulUserPinLen = userPIN.Length();
    record.ulUserPinErrorLimit = ToUlong(settings.userPINErrorLimit);
    record.ulUserPinMaxLen = ToUlong(settings.userPINMaxLength);
    record.ulUserPinMinLen = ToUlong(settings.userPINMinLength);
    record.pSOPin = soPIN.Data();
    record.ulSOPinLen = soPIN.Length();
    record.ulSOPinErrorLimit = ToUlong(settings.soPINErrorLimit);
    record.ulSOPinMaxLen = ToUlong(settings.soPINMaxLength);
    record.ulSOPinMinLen = ToUlong(settings.soPINMinLength);
    record.ulMaxRSAKeyPairs = ToUlong(settings.maxRSAKeyPairs);
    record.bClearCard = request.clearCard ? 1 : 0;

    CK_RV rv = CKR_OK;
    for (int attempt = 0; attempt <= kMaxSessionExistsRetries; ++attempt) {
        rv = cryptoki.InitializeToken(0, request.slotID, record);
        if (rv != CKR_SESSION_EXISTS) {
            break;
        }
        const CK_RV closed = cryptoki.CloseAllSessions(request.enumeratedSlotID);
        if (closed != CKR_OK) {
            return { closed, GetResultMessage(closed, context) };
        }
    }
    if (rv != CKR_OK) {
        return { rv, TokenCommandRules::GetInitFailureText(rv, context) };
    }
    return { CKR_OK,
        request.reinitialize ? _("Token has been re-initialized successfully.")
                             : _("Token has been initialized successfully.") };
}

InitTokenOutcome MainInitializeTokenThread::Work()
{
    return InitializeToken(m_cryptoki, m_request);
}
