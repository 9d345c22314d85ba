#include "TokenStatus.h"

#include "SlotText.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUCryptoki.h"

#include <thread>
#include <wx/intl.h>

namespace {

wxString Decimal(CK_ULONG value)
{
    return wxString::Format("%lu", static_cast<unsigned long>(value));
}

} // namespace

CK_RV WaitForTokenReady(NRVCMUCryptoki& cryptoki, CK_SLOT_ID slot, std::chrono::milliseconds timeout)
{
    // Asked without a pause at first: the module normally answers ready at once
    // after the refresh. Only a slow token gets short sleeps, up to the deadline.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int attempt = 0;; ++attempt) {
        const CK_RV rv = cryptoki.IsTokenReady(slot);
        if (rv == CKR_OK || std::chrono::steady_clock::now() >= deadline) {
            return rv;
        }
        if (attempt >= 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void ClassifyToken(DisplayedToken& token)
{
    const bool shortPinModel = token.model == "VELA5-64" || token.model == "SGL64";
    if (shortPinModel) {
        token.minPinLengthValid = token.minPinLen > 3;
        token.maxPinLengthValid = token.maxPinLen <= 8;
    } else {
        token.minPinLengthValid = token.minPinLen != 0;
        token.maxPinLengthValid = token.maxPinLen <= 16;
    }
    token.ours = token.minPinLengthValid && token.maxPinLengthValid && token.minPinLen <= token.maxPinLen;
}

TokenStatus ReadTokenStatus(
    NRVCMUCryptoki& cryptoki, CK_SLOT_ID slot, bool cardPresent, std::chrono::milliseconds readyTimeout)
{
    TokenStatus status;
    if (!cardPresent) {
        status.noCard = true;
        status.statusText = _("There is no token present in the slot.");
        return status;
    }

    // Only the maker's tokens keep flags to refresh and a readiness to wait for.
    if (cryptoki.HasVendorEntries()) {
        const CK_RV refreshed = cryptoki.RefreshTokenFlag(slot);
        if (refreshed != CKR_OK) {
            status.statusText = GetResultMessage(refreshed, _("Failed to refresh token flags."));
        }
        WaitForTokenReady(cryptoki, slot, readyTimeout);
    }

    CK_TOKEN_INFO info {};
    const CK_RV rv = cryptoki.GetTokenInfo(slot, &info);
    if (rv == CKR_TOKEN_NOT_RECOGNIZED) {
        status.supported = false;
        status.rows = TokenRows::NotSupported;
        status.statusText = _("The token in the slot is not supported.");
        return status;
    }
    if (rv != CKR_OK) {
        status.statusText = GetResultMessage(rv, _("Failed to get token information."));
        return status;
    }

    status.supported = true;
    DisplayedToken& token = status.token;
    token.model = TrimmedField(info.model, sizeof info.model);
    token.serialNumber = TrimmedField(info.serialNumber, sizeof info.serialNumber);
    token.flags = GetTokenFlagsText(info.flags);
    if ((info.flags & CKF_TOKEN_INITIALIZED) == 0) {
        status.rows = TokenRows::NotInitialized;
        status.statusText = _("Token has not been initialized.");
        return status;
    }

    token.initialized = true;
    token.label = TrimmedField(info.label, sizeof info.label);
    token.manufacturer = TrimmedField(info.manufacturerID, sizeof info.manufacturerID);
    token.maxSessionCount = Decimal(info.ulMaxSessionCount);
    token.sessionCount = Decimal(info.ulSessionCount);
    token.maxRwSessionCount = Decimal(info.ulMaxRwSessionCount);
    token.rwSessionCount = Decimal(info.ulRwSessionCount);
    token.maxPinLen = info.ulMaxPinLen;
    token.minPinLen = info.ulMinPinLen;
    token.maxPinLength = Decimal(info.ulMaxPinLen);
    token.minPinLength = Decimal(info.ulMinPinLen);
    token.totalPublicMemory = Decimal(info.ulTotalPublicMemory);
    token.freePublicMemory = Decimal(info.ulFreePublicMemory);
    token.totalPrivateMemory = Decimal(info.ulTotalPrivateMemory);
    token.freePrivateMemory = Decimal(info.ulFreePrivateMemory);
    token.hardwareVersion = FormatVersionText(info.hardwareVersion);
    token.firmwareVersion = FormatVersionText(info.firmwareVersion);
    ClassifyToken(token);

    status.rows = TokenRows::Initialized;
    status.statusText
        = token.ours ? _("Token is ready.") : _("Token has been initialized using other application.");
    return status;
}

std::vector<InfoRow> BuildInfoRows(const SlotRecord& record, const TokenStatus& status)
{
    std::vector<InfoRow> rows = {
        { _("Slot Description"), record.slotDescription },
        { _("Slot Manufacturer"), record.slotManufacturer },
        { _("Slot Flags"), record.slotFlags },
    };
    if (status.rows == TokenRows::None) {
        return rows;
    }
    const DisplayedToken& token = status.token;
    const wxString labels[] = {
        _("Token Label"),
        _("Token Manufacturer"),
        _("Token Model"),
        _("Token Serial Number"),
        _("Token Flags"),
        _("Maximum PIN Length"),
        _("Minimum PIN Length"),
        _("Total Public Space"),
        _("Free Public Space"),
        _("Total Private Space"),
        _("Free Private Space"),
        _("Token Hardware Version"),
    };
    const wxString values[] = {
        token.label,
        token.manufacturer,
        token.model,
        token.serialNumber,
        token.flags,
        token.maxPinLength,
        token.minPinLength,
        token.totalPublicMemory,
        token.freePublicMemory,
        token.totalPrivateMemory,
        token.freePrivateMemory,
        token.hardwareVersion,
    };
    wxString fill;
    if (status.rows == TokenRows::NotSupported) {
        fill = _("<Token is not supported.>");
    } else if (status.rows == TokenRows::NotInitialized) {
        fill = _("<Token has not been initialized.>");
    }
    for (std::size_t i = 0; i < std::size(labels); ++i) {
        rows.emplace_back(labels[i], fill.empty() ? values[i] : fill);
    }
    return rows;
}
