// Turns module result codes into the log's symbolic names and the user's
// translated sentences, and token flags into their names.
#pragma once

#include "pkcs11/pkcs11.h"

#include <wx/string.h>

// The symbolic name of a code. The vendor reading (results of C_NRV_Login,
// C_NRV_InitToken and C_NRV_UnblockUserPIN) names 1-14 as PIN retry counts and
// 0xFFFFFFFF as the disabled clear-card function. Unlisted codes give
// "UNKNOWN ERROR 0x%08X".
wxString GetResultName(CK_RV code, bool vendorReading = false);

// The user's sentence for a code, after the context and a blank when the
// context is not empty.
wxString GetResultMessage(CK_RV code, const wxString& context = wxString());

// The PIN sentence for retry codes 1-14, CKR_PIN_INCORRECT, CKR_PIN_LEN_RANGE and
// CKR_PIN_LOCKED; for any other code the context alone (callers then use
// GetResultMessage).
wxString GetPINResultMessage(CK_RV code, bool isSO, const wxString& context = wxString());

// Certificate import sentences; a code without one gives the context alone.
wxString GetCertificateResultMessage(CK_RV code, const wxString& context = wxString());

// CKR_DEVICE_MEMORY gives the full-token sentence; other codes the context alone.
wxString GetSecretKeyResultMessage(CK_RV code, const wxString& context = wxString());

// "(<context> Error: 0x%08X)", or "(Error: 0x%08X)" without a context.
wxString FormatErrorCode(CK_RV code, const wxString& context = wxString());

// message, a blank and FormatErrorCode(code, context).
wxString AppendErrorCode(const wxString& message, CK_RV code, const wxString& context = wxString());

// The sentence for a wxThreadError value (1 no resource, 2 already running).
wxString GetThreadErrorMessage(int threadError, const wxString& context = wxString());

// The names of the set CK_TOKEN_INFO flags, joined by ", ".
wxString GetTokenFlagsText(CK_FLAGS flags);
