#include "ObjectListing.h"

#include "SecretKeyRules.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "platform/secure_memory/SecureMemory.h"

#include <algorithm>
#include <wx/intl.h>

using namespace vela5::platform;

namespace {

bool IsTrue(const std::vector<uint8_t>& value)
{
    return value.size() == 1 && value[0] != 0;
}

} // namespace

SecretKeyEntry::~SecretKeyEntry()
{
    WipeValue();
}

void SecretKeyEntry::WipeValue()
{
    if (!value.empty()) {
        SecureMemory::Wipe(value.data(), value.size());
    }
    value.clear();
}

CK_RV FindObjectHandles(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_ATTRIBUTE* filter,
    CK_ULONG count, CK_ULONG maxHandles, std::vector<CK_OBJECT_HANDLE>& handles)
{
    handles.assign(maxHandles, CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    const CK_RV rv = cryptoki.FindObjects(session, filter, count, handles.data(), maxHandles, &found);
    handles.resize(rv == CKR_OK ? std::min(found, maxHandles) : 0);
    return rv;
}

CK_RV FindSecretKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session,
    std::vector<CK_OBJECT_HANDLE>& handles, CK_ULONG maxHandles)
{
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE filter[]
        = { { CKA_CLASS, &keyClass, sizeof keyClass }, { CKA_TOKEN, &onToken, sizeof onToken } };
    return FindObjectHandles(cryptoki, session, filter, 2, maxHandles, handles);
}

CK_RV ListSecretKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, std::vector<SecretKeyEntry>& keys)
{
    keys.clear();
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_RV rv = FindSecretKeys(cryptoki, session, handles);
    if (rv != CKR_OK) {
        return rv;
    }
    for (const CK_OBJECT_HANDLE handle : handles) {
        std::vector<std::vector<uint8_t>> values;
        rv = cryptoki.GetAttributeBytes(session, handle,
            { CKA_LABEL, CKA_ID, CKA_KEY_TYPE, CKA_MODIFIABLE, CKA_DERIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN,
                CKA_VERIFY, CKA_WRAP, CKA_UNWRAP },
            values);
        if (rv != CKR_OK) {
            return rv;
        }
        SecretKeyEntry key;
        key.handle = handle;
        key.label = SecretKeyRules::LabelText(values[0]);
        key.id = values[1];
        if (values[2].size() == sizeof(CK_KEY_TYPE)) {
            std::copy(values[2].begin(), values[2].end(), reinterpret_cast<uint8_t*>(&key.keyType));
        }
        key.modifiable = IsTrue(values[3]);
        key.derive = IsTrue(values[4]);
        key.encrypt = IsTrue(values[5]);
        key.decrypt = IsTrue(values[6]);
        key.sign = IsTrue(values[7]);
        key.verify = IsTrue(values[8]);
        key.wrap = IsTrue(values[9]);
        key.unwrap = IsTrue(values[10]);
        keys.push_back(std::move(key));
    }
    return CKR_OK;
}

CK_RV FindDataObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session,
    std::vector<CK_OBJECT_HANDLE>& handles, CK_ULONG maxHandles)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE filter[] = { { CKA_CLASS, &dataClass, sizeof dataClass } };
    return FindObjectHandles(cryptoki, session, filter, 1, maxHandles, handles);
}

CK_RV ListDataObjects(
    NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, std::vector<DataObjectEntry>& objects)
{
    objects.clear();
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_RV rv = FindDataObjects(cryptoki, session, handles);
    if (rv != CKR_OK) {
        return rv;
    }
    for (const CK_OBJECT_HANDLE handle : handles) {
        // The value is never shown, so it is not read at all: a large one
        // cannot make the listing fail.
        std::vector<std::vector<uint8_t>> values;
        rv = cryptoki.GetAttributeBytes(
            session, handle, { CKA_LABEL, CKA_APPLICATION, CKA_OBJECT_ID, CKA_PRIVATE }, values);
        if (rv != CKR_OK) {
            return rv;
        }
        DataObjectEntry object;
        object.handle = handle;
        object.label = DataObjectText(values[0]);
        object.application = DataObjectText(values[1]);
        object.objectId = DataObjectText(values[2]);
        object.isPublic = !IsTrue(values[3]);
        objects.push_back(std::move(object));
    }
    return CKR_OK;
}

wxString DataObjectText(const std::vector<uint8_t>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t { 0 });
    if (end == bytes.begin()) {
        return _("<NONE>");
    }
    // Read as single bytes: the object ID is raw DER, not text.
    return wxString(reinterpret_cast<const char*>(bytes.data()), wxConvISO8859_1,
        static_cast<size_t>(end - bytes.begin()));
}
