// Result codes of the provider: module results and NTSTATUS values turned
// into SECURITY_STATUS, and the names the log lines use.
#pragma once

#include "pkcs11/pkcs11.h"
#include "platform/cng/Cng.h"

SECURITY_STATUS MapCryptokiResult(CK_RV rv);
SECURITY_STATUS MapNtStatus(NTSTATUS status);
