// A second process on the same token state, driven by the tests:
//   hold   - open a session on slot 0, print its handle, wait for a line on
//            stdin, then print the result of using the session again;
//   create N - create N public data objects on slot 0's token;
//   wrong N  - try N wrong User PINs;
//   abandon VALUE - create a session data object holding VALUE, print its
//            handle and end without closing anything, as a crash would;
//   touch ATTR N OBJECT - set the object's "label" or "value" N times, each
//            time first reading back what it wrote before; prints how often
//            that had changed (another process only sets the other one);
//   sign PIN - log the User in with its own C_Login, sign "signed elsewhere"
//            with SHA256-RSA-PKCS and the first private key, print the
//            result and the signature in hex.
#include "ModuleLoader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    CK_FUNCTION_LIST* p11 = LoadModule();
    if (p11->C_Initialize(nullptr) != CKR_OK) {
        return 3;
    }
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        std::printf("open %lu\n", rv);
        return 4;
    }
    if (std::strcmp(argv[1], "hold") == 0) {
        std::printf("%lu\n", session);
        std::fflush(stdout);
        char line[16];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            return 5;
        }
        CK_SESSION_INFO info;
        std::printf("%lu\n", p11->C_GetSessionInfo(session, &info));
    } else if (std::strcmp(argv[1], "wrong") == 0 && argc > 2) {
        CK_BYTE pin[] = "0000";
        for (int i = 0; i < std::atoi(argv[2]); ++i) {
            rv = p11->C_NRV_Login(session, CKU_USER, pin, 4);
            std::printf("%lu ", rv);
            if (rv < NRV_CKR_PIN_RETRIES_MIN || rv > NRV_CKR_PIN_RETRIES_MAX) {
                std::printf("login %lu\n", rv);
                return 7;
            }
        }
    } else if (std::strcmp(argv[1], "touch") == 0 && argc > 4) {
        const CK_ATTRIBUTE_TYPE type = std::strcmp(argv[2], "label") == 0 ? CKA_LABEL : CKA_VALUE;
        const int count = std::atoi(argv[3]);
        const auto object = static_cast<CK_OBJECT_HANDLE>(std::strtoul(argv[4], nullptr, 10));
        std::string written;
        int changed = 0;
        for (int i = 0; i < count; ++i) {
            if (!written.empty()) {
                char buffer[64] = {};
                CK_ATTRIBUTE read = { type, buffer, sizeof buffer };
                rv = p11->C_GetAttributeValue(session, object, &read, 1);
                if (rv != CKR_OK) {
                    std::printf("get %lu\n", rv);
                    return 8;
                }
                changed += std::string(buffer, read.ulValueLen) != written ? 1 : 0;
            }
            written = std::string(argv[2]) + std::to_string(i);
            CK_ATTRIBUTE write = { type, written.data(), static_cast<CK_ULONG>(written.size()) };
            rv = p11->C_SetAttributeValue(session, object, &write, 1);
            if (rv != CKR_OK) {
                std::printf("set %lu\n", rv);
                return 9;
            }
        }
        std::printf("%d\n", changed);
    } else if (std::strcmp(argv[1], "sign") == 0 && argc > 2) {
        rv = p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(argv[2]),
            static_cast<CK_ULONG>(std::strlen(argv[2])));
        if (rv != CKR_OK) {
            std::printf("login %lu\n", rv);
            return 10;
        }
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE filter = { CKA_CLASS, &keyClass, sizeof keyClass };
        CK_OBJECT_HANDLE key = 0;
        CK_ULONG found = 0;
        p11->C_FindObjectsInit(session, &filter, 1);
        p11->C_FindObjects(session, &key, 1, &found);
        p11->C_FindObjectsFinal(session);
        CK_MECHANISM mechanism = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
        CK_BYTE data[] = "signed elsewhere";
        CK_BYTE signature[512];
        CK_ULONG length = sizeof signature;
        rv = found == 1 ? p11->C_SignInit(session, &mechanism, key) : CKR_KEY_HANDLE_INVALID;
        rv = rv == CKR_OK ? p11->C_Sign(session, data, sizeof data - 1, signature, &length) : rv;
        std::printf("%lu ", rv);
        for (CK_ULONG i = 0; rv == CKR_OK && i < length; ++i) {
            std::printf("%02x", signature[i]);
        }
        std::printf("\n");
    } else if (std::strcmp(argv[1], "abandon") == 0 && argc > 2) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE object[] = { { CKA_CLASS, &dataClass, sizeof dataClass },
            { CKA_VALUE, argv[2], static_cast<CK_ULONG>(std::strlen(argv[2])) } };
        CK_OBJECT_HANDLE handle = 0;
        rv = p11->C_CreateObject(session, object, 2, &handle);
        std::printf("%lu\n", rv == CKR_OK ? handle : 0);
        std::fflush(stdout);
        std::_Exit(rv == CKR_OK ? 0 : 6);
    } else if (std::strcmp(argv[1], "create") == 0 && argc > 2) {
        const int count = std::atoi(argv[2]);
        for (int i = 0; i < count; ++i) {
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_BBOOL yes = CK_TRUE;
            std::string label = "helper " + std::to_string(i);
            CK_ATTRIBUTE object[]
                = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, sizeof yes },
                      { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) } };
            CK_OBJECT_HANDLE handle = 0;
            rv = p11->C_CreateObject(session, object, 3, &handle);
            if (rv != CKR_OK) {
                std::printf("create %lu\n", rv);
                return 6;
            }
        }
    }
    p11->C_Finalize(nullptr);
    return 0;
}
