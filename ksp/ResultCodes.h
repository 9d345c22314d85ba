// Result codes of the provider: module results and NTSTATUS values turned
// into SECURITY_STATUS, and the names the log lines use.
#pragma once

#include "pkcs11/pkcs11.h"
#include "platform/cng/Cng.h"

// The PIN dialog's own answers: a wrong PIN keeps it open, as does a
// blocked one (which leaves only Cancel).
constexpr SECURITY_STATUS SCARD_W_WRONG_CHV = static_cast<LONG>(0x8010006B);
constexpr SECURITY_STATUS SCARD_W_CHV_BLOCKED = static_cast<LONG>(0x8010006C);

SECURITY_STATUS MapCryptokiResult(CK_RV rv);
SECURITY_STATUS MapNtStatus(NTSTATUS status);
