// Which attributes each object class takes and the form of their values:
// templates are checked against these rules before an object is built or
// changed, so nothing PKCS#11 refuses is stored.
#pragma once

#include "ObjectStore.h"
#include "pkcs11/nrv.h"
#include "pkcs11/pkcs11.h"

namespace velatoken {

// The token manager's secret-key template gives the key type under this
// vendor type instead of CKA_KEY_TYPE; it is taken as the key type.
constexpr CK_ATTRIBUTE_TYPE kManagerKeyTypeAttribute = 0xFFFFFFFFU;

// Throws CkError: CKR_ATTRIBUTE_TYPE_INVALID for a type no class takes,
// CKR_TEMPLATE_INCONSISTENT for one foreign to the class, and
// CKR_ATTRIBUTE_VALUE_INVALID for a value of the wrong form (a CK_BBOOL not
// one byte, a CK_ULONG not its width, a CK_DATE neither empty nor 8 bytes).
void CheckAttribute(CK_OBJECT_CLASS objectClass, CK_ATTRIBUTE_TYPE type, const Blob& value);
void CheckTemplate(CK_OBJECT_CLASS objectClass, const AttributeMap& map);

// RSA components as a caller gives them: a modulus of 512-4096 bits, an
// odd public exponent above 1 and below the modulus, and for a private key
// a private exponent and no empty CRT component (absent ones are allowed).
// Throws CKR_ATTRIBUTE_VALUE_INVALID.
void CheckRsaComponents(const AttributeMap& map, bool isPrivate);

// A key-pair generation's templates against CKM_RSA_PKCS_KEY_PAIR_GEN: each
// half's class and key type, if given, must be the mechanism's
// (CKR_TEMPLATE_INCONSISTENT), every attribute must fit its half, and an
// exponent must be odd, above 1 and shorter than the modulus
// (CKR_ATTRIBUTE_VALUE_INVALID).
void CheckKeyPairTemplates(const AttributeMap& publicMap, const AttributeMap& privateMap, CK_ULONG bits);

} // namespace velatoken
