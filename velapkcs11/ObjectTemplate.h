// What an object may hold: templates become stored objects with their
// defaults, and attribute reads and writes follow the object's rules.
#pragma once

#include "ObjectStore.h"
#include "RsaKey.h"

namespace velatoken {

// Copies a caller's template. With skipEmpty, attributes without a value
// buffer are left out (key generation templates give lengths only).
AttributeMap ReadTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool skipEmpty = false);

Blob BoolBlob(bool value);
Blob UlongBlob(CK_ULONG value);
bool ReadUlong(const Blob& blob, CK_ULONG& value);

// A new object from C_CreateObject's template. Throws CkError with
// CKR_TEMPLATE_INCOMPLETE, CKR_ATTRIBUTE_VALUE_INVALID or
// CKR_TEMPLATE_INCONSISTENT.
StoredObject BuildObject(AttributeMap attributes);
// The two halves of a generated or imported key pair.
StoredObject BuildPublicKey(const RsaKey& key, AttributeMap attributes);
StoredObject BuildPrivateKey(const RsaKey& key, AttributeMap attributes);

// True when the attribute's value must not leave the token.
bool IsSensitive(const StoredObject& object, CK_ATTRIBUTE_TYPE type);
// Applies one C_SetAttributeValue change or throws CKR_ATTRIBUTE_READ_ONLY
// or CKR_ATTRIBUTE_VALUE_INVALID.
void ApplyChange(StoredObject& object, CK_ATTRIBUTE_TYPE type, const Blob& value);

} // namespace velatoken
