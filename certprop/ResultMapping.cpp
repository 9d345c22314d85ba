#include "certprop/ResultMapping.h"

namespace CertProp {

long MapCkResult(CK_RV rv)
{
    switch (rv) {
    case 0x00:
        return ErrorSuccess;
    case 0x01:
        return ErrorCancelled;
    case 0x02:
    case 0x31:
        return NteNoMemory;
    case 0x03:
    case 0x12:
    case 0x13:
    case 0x20:
    case 0x21:
    case 0x70:
    case 0x71:
    case 0xA1:
    case 0xA2:
    case 0xD0:
    case 0xD1:
        return NteInvalidParameter;
    case 0x06:
        return ErrorFunctionFailed;
    case 0x07:
        return ErrorBadArguments;
    case 0x10:
    case 0x11:
    case 0x101:
        return NtePerm;
    case 0x30:
        return NteInternalError;
    case 0x54:
        return NteNotSupported;
    case 0x60:
    case 0x82:
    case 0xB3:
        return NteInvalidHandle;
    case 0xA0:
        return ErrorLogonFailure;
    case 0xA4:
        return ErrorAccountDisabled;
    default:
        return NteFail;
    }
}

} // namespace CertProp
