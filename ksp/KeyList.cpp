#include "ksp/KeyList.h"

#include "ksp/RecordBuffers.h"

#include <cstring>

void ReleaseKeyList(KeyContext*& list, DWORD& count)
{
    if (list != nullptr) {
        for (DWORD i = 0; i < count; ++i) {
            KeyContext& key = list[i];
            WipeAndRelease(key.pszKeyName);
            DWORD none = 0;
            WipeAndRelease(key.pbKeyFile, none);
            WipeAndRelease(key.pbKeyFileData, key.cbKeyFileData);
            WipeAndRelease(key.pbPrivateKey, key.cbPrivateKey);
            WipeAndRelease(key.pbSecurityDescriptor, key.cbSecurityDescriptor);
            for (PBYTE* part : { &key.pbModulus, &key.pbPrime1, &key.pbPrime2, &key.pbExponent1,
                     &key.pbExponent2, &key.pbCoefficient, &key.pbPrivateExponent }) {
                delete[] * part;
                *part = nullptr;
            }
            std::memset(static_cast<void*>(&key), 0, sizeof key);
        }
        delete[] list;
    }
    list = nullptr;
    count = 0;
}
