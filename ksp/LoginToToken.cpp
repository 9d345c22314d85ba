#include "ksp/LoginToToken.h"

#include "ksp/CLogin.h"
#include "ksp/Globals.h"
#include "ksp/ResultCodes.h"
#include "ksp/SecureCells.h"

#include <cstring>

using namespace vela5::platform;

namespace {

std::u16string TokenLabel(const CK_TOKEN_INFO& info)
{
    std::size_t length = sizeof info.label;
    while (length > 0 && (info.label[length - 1] == ' ' || info.label[length - 1] == 0)) {
        --length;
    }
    // Single bytes, as the label is written to the token.
    return std::u16string(info.label, info.label + length);
}

// A wrong or blocked PIN given by the host fails the operation with the
// dialog's codes; it is never retried.
SECURITY_STATUS LoginWithHostPin(const DebugClass& log, ProviderContext* provider, CryptokiLibrary* library,
    PinManager* pins, const TokenSerial& serial)
{
    log.Write("Using the PIN given by the host");
    std::u16string given(provider->pszPin);
    std::string pin;
    const bool converted = PinBytes(given, pin);
    WipeText(given);
    if (!converted || pin.empty()) {
        return NTE_INVALID_PARAMETER;
    }
    const auto* bytes = reinterpret_cast<const CK_BYTE*>(pin.data());
    CK_RV rv = LoginUser(*library, provider->hSession, bytes, static_cast<CK_ULONG>(pin.size()));
    int retries = 0;
    SECURITY_STATUS result = ERROR_SUCCESS;
    if (IsWrongPin(rv, retries)) {
        log.WriteInt("Incorrect PIN. Retries left: ", retries);
        result = SCARD_W_WRONG_CHV;
    } else if (rv == CKR_PIN_LOCKED) {
        log.Write("Pin is locked");
        result = SCARD_W_CHV_BLOCKED;
    } else if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) {
        CachePin(log, pins, &serial, bytes, pin.size());
    } else {
        result = MapCryptokiResult(rv);
    }
    SecureMemory::Wipe(pin.data(), pin.size());
    return result;
}

} // namespace

SECURITY_STATUS LoginToToken(ProviderContext* provider, CryptokiLibrary* library, PinManager* pins)
{
    const DebugClass& log = HelperLog();
    if (provider == nullptr) {
        log.Write("NTE_INVALID_PARAMETER - Provider context is NULL");
        return NTE_INVALID_PARAMETER;
    }
    if (library == nullptr || library->Functions() == nullptr) {
        log.Write("NTE_INVALID_PARAMETER - Cryptoki library context is NULL");
        return NTE_INVALID_PARAMETER;
    }
    if (pins == nullptr) {
        log.Write("NTE_INVALID_PARAMETER - PIN Manager context is NULL");
        return NTE_INVALID_PARAMETER;
    }
    log.Write("Retrieving token info");
    CK_TOKEN_INFO info {};
    if (library->Functions()->C_GetTokenInfo(provider->slotId, &info) != CKR_OK) {
        log.Write("\tNTE_INTERNAL_ERROR: Failed to retrieve token info");
        return NTE_INTERNAL_ERROR;
    }
    CLogin dialog;
    log.Write("Setting cryptoki context");
    dialog.library = library;
    log.Write("Setting cryptoki session handle");
    dialog.session = provider->hSession;
    log.Write("Setting pin cache context");
    dialog.pinManager = pins;
    log.Write("Setting slot serial number");
    std::memcpy(dialog.serial.data(), info.serialNumber, kSerialSize);
    dialog.hasSerial = true;
    dialog.maxPinLength = info.ulMaxPinLen;
    dialog.minPinLength = info.ulMinPinLen;
    dialog.tokenLabel = TokenLabel(info);

    log.Write("Entering critical section");
    SECURITY_STATUS result = ERROR_SUCCESS;
    {
        const std::lock_guard guard(pins->Lock());
        if (provider->pszPin != nullptr) {
            result = LoginWithHostPin(log, provider, library, pins, dialog.serial);
        } else {
            log.Write("Checking PIN cache");
            DWORD length = 0;
            const SECURITY_STATUS cached = pins->Lookup(dialog.serial, nullptr, &length);
            bool ask = false;
            if (cached == NTE_NOT_FOUND) {
                log.Write("PIN cache is empty");
                ask = true;
            } else if (cached != ERROR_SUCCESS) {
                log.Write("NTE_INTERNAL_ERROR: An internal error with the PIN cache has occured");
                result = NTE_INTERNAL_ERROR;
            } else {
                LockedBuffer pin(PinBlock::kMaxPin);
                DWORD size = static_cast<DWORD>(pin.Size());
                log.Write("Retrieving PIN from cache");
                if (pins->Lookup(dialog.serial, pin.Data(), &size) != ERROR_SUCCESS) {
                    log.Write("NTE_INTERNAL_ERROR: An unexpected error has occured.");
                    result = NTE_INTERNAL_ERROR;
                } else {
                    const CK_RV rv = LoginUser(*library, provider->hSession, pin.Data(), size);
                    int retries = 0;
                    if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) {
                        result = ERROR_SUCCESS;
                    } else if (IsWrongPin(rv, retries)) {
                        // The PIN was changed since it was cached: trying it
                        // again would only spend the token's attempts.
                        log.WriteInt("Cached PIN was refused; it is dropped. Retries left: ", retries);
                        pins->Drop(dialog.serial);
                        ask = true;
                    } else {
                        log.WriteHex("NTE_INTERNAL_ERROR: Unable to login using cached PIN. Error code: ",
                            static_cast<std::uint64_t>(rv));
                        if (rv == CKR_PIN_LOCKED) {
                            pins->Drop(dialog.serial);
                        }
                        result = NTE_INTERNAL_ERROR;
                    }
                }
            }
            if (ask) {
                result = dialog.Run(log);
                if (result == SCARD_W_CANCELLED_BY_USER) {
                    log.Write("SCARD_W_CANCELLED_BY_USER: PIN submission has been cancelled by the user.");
                } else if (result != ERROR_SUCCESS) {
                    log.WriteHex("Login dialog exited with code: ",
                        static_cast<std::uint64_t>(static_cast<DWORD>(result)));
                }
            }
        }
        log.Write("Initiating cleanup routine - Login");
        log.Write("Securely clearing PIN buffer");
        log.Write("Pin buffer cleared");
    }
    log.Write("Cleanup routine success - Login");
    return result;
}

SECURITY_STATUS LoginIfRequired(ProviderContext* provider)
{
    CK_TOKEN_INFO info {};
    CryptokiLibrary& library = Cryptoki();
    if (library.Functions() == nullptr
        || library.Functions()->C_GetTokenInfo(provider->slotId, &info) != CKR_OK) {
        HelperLog().Write("\tNTE_INTERNAL_ERROR: Failed to retrieve token info");
        return NTE_INTERNAL_ERROR;
    }
    if ((info.flags & CKF_LOGIN_REQUIRED) == 0 || (info.flags & CKF_USER_PIN_INITIALIZED) == 0) {
        return ERROR_SUCCESS;
    }
    return LoginToToken(provider, &library, &ThePinManager());
}
