// The software token through its function list: enumeration, PINs,
// initialization, objects, PKCS#12 import and signing, several processes.
#include "TokenModuleFixture.h"
#include "platform/openssl/OpenSslPtr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

CK_ULONG SlotCount(CK_FUNCTION_LIST* p11, CK_BBOOL present)
{
    CK_ULONG count = 99;
    EXPECT_EQ(p11->C_GetSlotList(present, nullptr, &count), CKR_OK);
    return count;
}

TEST_F(TokenModule, EnumerationFollowsReadersAndTokensChangedByAnotherProcess)
{
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_EQ(SlotCount(p11, CK_FALSE), 1u);
    EXPECT_EQ(SlotCount(p11, CK_TRUE), 0u);
    CK_BYTE serial[NRV_SERIAL_BUFFER_SIZE] = {};
    EXPECT_EQ(p11->C_NRV_GetSerialNumber(0, serial), CKR_DEVICE_ERROR) << "no token in the reader";

    const std::string created = CreateToken("--model VELA5-64 --blank");
    InsertToken(created);
    ASSERT_EQ(RunTool("reader add \"Second Reader\""), 0);
    EXPECT_EQ(SlotCount(p11, CK_FALSE), 2u);
    EXPECT_EQ(SlotCount(p11, CK_TRUE), 1u);
    ASSERT_EQ(p11->C_NRV_GetSerialNumber(0, serial), CKR_OK);
    EXPECT_EQ(reinterpret_cast<char*>(serial), created);

    CK_SLOT_ID slots[2] = { 7, 7 };
    CK_ULONG count = 1;
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, slots, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(p11->C_GetSlotList(CK_FALSE, slots, &count), CKR_OK);
    EXPECT_EQ(slots[0], 0u);
    EXPECT_EQ(slots[1], 1u);

    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(p11->C_GetSlotInfo(0, &slotInfo), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(slotInfo.slotDescription), 22), "VELA5 Virtual Reader 0");
    EXPECT_NE(slotInfo.flags & CKF_TOKEN_PRESENT, 0u);
    EXPECT_EQ(p11->C_GetSlotInfo(2, &slotInfo), CKR_SLOT_ID_INVALID);

    CK_TOKEN_INFO tokenInfo;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &tokenInfo), CKR_OK);
    EXPECT_EQ(tokenInfo.flags & CKF_TOKEN_INITIALIZED, 0u) << "blank token";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(tokenInfo.model), 8), "VELA5-64");

    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(RunTool("token eject " + kReader), 0);
    EXPECT_EQ(SlotCount(p11, CK_TRUE), 0u);
    CK_SESSION_INFO sessionInfo;
    EXPECT_EQ(p11->C_GetSessionInfo(session, &sessionInfo), CKR_DEVICE_REMOVED);
    EXPECT_EQ(p11->C_GetSessionInfo(session, &sessionInfo), CKR_SESSION_HANDLE_INVALID) << "stale handle";
    ASSERT_EQ(RunTool("reader remove \"Second Reader\""), 0);
    EXPECT_EQ(SlotCount(p11, CK_FALSE), 1u);
}

TEST_F(TokenModule, UnrecognizedModelAndFailureSwitches)
{
    const std::string serial = CreateToken("--model UNKNOWN");
    InsertToken(serial);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_TOKEN_INFO info;
    EXPECT_EQ(p11->C_GetTokenInfo(0, &info), CKR_TOKEN_NOT_RECOGNIZED);
    EXPECT_EQ(p11->C_NRV_IsTokenReady(0, 0), CKR_OK) << "ready, so a waiting caller moves on";

    ASSERT_EQ(RunTool("reader fail " + kReader + " C_GetSlotInfo 0x30"), 0);
    CK_SLOT_INFO slotInfo;
    EXPECT_EQ(p11->C_GetSlotInfo(0, &slotInfo), CKR_DEVICE_ERROR);
    ASSERT_EQ(RunTool("reader fail " + kReader + " C_GetSlotInfo off"), 0);
    EXPECT_EQ(p11->C_GetSlotInfo(0, &slotInfo), CKR_OK);
    ASSERT_EQ(RunTool("reader fail " + kReader + " C_GetSlotList"), 0);
    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_DEVICE_ERROR);
}

TEST_F(TokenModule, InitializationRecordBuiltFieldByField)
{
    InsertToken(CreateToken("--model SGL64"));
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_BYTE label[NRV_LABEL_BUFFER_SIZE] = "NRV Card OS 5";
    CK_BYTE userPin[NRV_PIN_BUFFER_SIZE] = "73920518";
    CK_BYTE soPin[NRV_PIN_BUFFER_SIZE] = "12345678";
    NRV_INIT_TOKEN_RECORD record;
    record.pLabel = label;
    record.pUserPin = userPin;
    record.ulUserPinLen = 8;
    record.ulUserPinErrorLimit = 3;
    record.ulUserPinMaxLen = 8;
    record.ulUserPinMinLen = 4;
    record.pSOPin = soPin;
    record.ulSOPinLen = 8;
    record.ulSOPinErrorLimit = 2;
    record.ulSOPinMaxLen = 8;
    record.ulSOPinMinLen = 6;
    record.ulMaxRSAKeyPairs = 10;
    record.bClearCard = 1;

    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(p11->C_NRV_InitToken(0, 0, record), CKR_SESSION_EXISTS);
    EXPECT_EQ(p11->C_CloseAllSessions(0), CKR_OK);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_SESSION_HANDLE_INVALID);
    ASSERT_EQ(p11->C_NRV_InitToken(0, 0, record), CKR_OK);

    CK_TOKEN_INFO info;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 14), "NRV Card OS 5 ");
    EXPECT_NE(info.flags & CKF_TOKEN_INITIALIZED, 0u);
    EXPECT_EQ(info.ulMinPinLen, 4u);
    EXPECT_EQ(info.ulMaxPinLen, 8u);
    NRV_PIN_MIN_MAX range;
    ASSERT_EQ(p11->C_NRV_GetPinMinMax(NRV_PIN_SO, 0, &range), CKR_OK);
    EXPECT_EQ(range.ulMinLen, 6u);
    EXPECT_EQ(range.ulMaxLen, 8u);

    // Re-initialization checks the record's SO PIN against the token's.
    CK_BYTE wrongSo[NRV_PIN_BUFFER_SIZE] = "00000000";
    record.pSOPin = wrongSo;
    EXPECT_EQ(p11->C_NRV_InitToken(0, 0, record), 1u) << "one attempt left";
    record.pSOPin = soPin;
    record.bClearCard = 0;
    ASSERT_EQ(p11->C_NRV_InitToken(0, 0, record), CKR_OK);
    EXPECT_EQ(p11->C_NRV_InitToken(0, 0, record), NRV_CKR_CLEAR_CARD_DISABLED);
}

TEST_F(TokenModule, LoginRetryCodesDownToTheLockThenUnblock)
{
    InsertInitializedToken("--error-limit 3 --so-error-limit 3");
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(Login(session, CKU_USER, "9999"), 2u);
    EXPECT_EQ(Login(session, CKU_USER, "9999"), 1u);
    CK_TOKEN_INFO info;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_NE(info.flags & CKF_USER_PIN_FINAL_TRY, 0u);
    EXPECT_EQ(Login(session, CKU_USER, "9999"), CKR_PIN_LOCKED);
    EXPECT_EQ(Login(session, CKU_USER, "1234"), CKR_PIN_LOCKED) << "the right PIN no longer opens it";
    EXPECT_EQ(Login(session, CKU_USER, "123456789"), CKR_PIN_LOCKED);

    std::string so = "87654321", wrongSo = "11111111", fresh = "5678";
    auto unblock = [&](std::string& soPin) {
        return p11->C_NRV_UnblockUserPIN(session, reinterpret_cast<CK_BYTE*>(soPin.data()),
            static_cast<CK_ULONG>(soPin.size()), reinterpret_cast<CK_BYTE*>(fresh.data()),
            static_cast<CK_ULONG>(fresh.size()));
    };
    EXPECT_EQ(unblock(wrongSo), 2u) << "the retry code refers to the SO PIN";
    EXPECT_EQ(unblock(so), CKR_OK);
    EXPECT_EQ(Login(session, CKU_USER, "1234"), 2u) << "old PIN gone; a full counter loses one attempt";
    EXPECT_EQ(Login(session, CKU_USER, "5678"), CKR_OK);
    EXPECT_EQ(Login(session, CKU_USER, "5678"), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(session, CKU_SO, so), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(session, 2, so), CKR_USER_TYPE_INVALID);

    // C_SetPIN changes the PIN of the user logged in.
    std::string oldPin = "5678", newPin = "24681357", tooLong = "123456789";
    auto setPin = [&](std::string& from, std::string& to) {
        return p11->C_SetPIN(session, reinterpret_cast<CK_BYTE*>(from.data()),
            static_cast<CK_ULONG>(from.size()), reinterpret_cast<CK_BYTE*>(to.data()),
            static_cast<CK_ULONG>(to.size()));
    };
    EXPECT_EQ(setPin(oldPin, tooLong), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(setPin(oldPin, newPin), CKR_OK);
    std::string label = "Renamed";
    EXPECT_EQ(p11->C_NRV_SetTokenLabel(session, reinterpret_cast<CK_BYTE*>(label.data()), 7), CKR_OK);
    EXPECT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(p11->C_Logout(session), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(p11->C_NRV_SetTokenLabel(session, reinterpret_cast<CK_BYTE*>(label.data()), 7),
        CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Login(session, CKU_USER, "24681357"), CKR_OK);
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 8), "Renamed ");
    EXPECT_EQ(p11->C_NRV_Login(session, CKU_USER, nullptr, 4), CKR_ARGUMENTS_BAD);
}

TEST_F(TokenModule, ObjectsFollowLoginAndAnswerLengthQueries)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE value[16] = { 1, 2, 3 };
    char label[] = "key one";
    CK_ATTRIBUTE secret[]
        = { { CKA_CLASS, &secretClass, sizeof secretClass }, { CKA_KEY_TYPE, &aes, sizeof aes },
              { CKA_TOKEN, &yes, sizeof yes }, { CKA_LABEL, label, 7 }, { CKA_VALUE, value, sizeof value } };
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(p11->C_CreateObject(session, secret, 5, &handle), CKR_USER_NOT_LOGGED_IN)
        << "secret keys are private";
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    ASSERT_EQ(p11->C_CreateObject(session, secret, 5, &handle), CKR_OK);
    CK_ATTRIBUTE bad[] = { { CKA_CLASS, &secretClass, sizeof secretClass },
        { CKA_KEY_TYPE, &aes, sizeof aes }, { CKA_VALUE, value, 5 } };
    CK_OBJECT_HANDLE ignored = 0;
    EXPECT_EQ(p11->C_CreateObject(session, bad, 3, &ignored), CKR_ATTRIBUTE_VALUE_INVALID);

    CK_ATTRIBUTE query = { CKA_LABEL, nullptr, 0 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, handle, &query, 1), CKR_OK);
    EXPECT_EQ(query.ulValueLen, 7u);
    char small[3];
    query = { CKA_LABEL, small, sizeof small };
    EXPECT_EQ(p11->C_GetAttributeValue(session, handle, &query, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(query.ulValueLen, CK_UNAVAILABLE_INFORMATION) << "no length for a short buffer";

    EXPECT_EQ(Count(session, { { CKA_CLASS, &secretClass, sizeof secretClass } }), 1u);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(Count(session, { { CKA_CLASS, &secretClass, sizeof secretClass } }), 0u)
        << "hidden without login";
    EXPECT_EQ(p11->C_GetAttributeValue(session, handle, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    ASSERT_EQ(p11->C_DestroyObject(session, handle), CKR_OK);
    EXPECT_EQ(p11->C_DestroyObject(session, handle), CKR_OBJECT_HANDLE_INVALID) << "stale handle";
    EXPECT_EQ(p11->C_CreateObject(session, secret, 5, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(TokenModule, TokenFullAnswersDeviceMemory)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_BYTE> big(8000, 0x5A);
    CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, sizeof yes },
        { CKA_VALUE, big.data(), static_cast<CK_ULONG>(big.size()) } };
    CK_TOKEN_INFO before;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &before), CKR_OK);
    CK_OBJECT_HANDLE handle = 0;
    int created = 0;
    CK_RV rv = CKR_OK;
    while ((rv = p11->C_CreateObject(session, data, 3, &handle)) == CKR_OK && created < 100) {
        ++created;
    }
    EXPECT_EQ(rv, CKR_DEVICE_MEMORY);
    EXPECT_EQ(created, 4) << "32 KB of public memory on a VELA5-64";
    CK_TOKEN_INFO after;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &after), CKR_OK);
    EXPECT_LT(after.ulFreePublicMemory, before.ulFreePublicMemory - 4 * 8000);
}

// Makes a PKCS#12 file with the openssl command line; returns its path.
std::string MakePkcs12(const std::string& folder, const std::string& password)
{
    const std::string key = "'" + folder + "/key.pem'", cert = "'" + folder + "/cert.pem'";
    const std::string p12 = folder + "/id.p12";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -out " + cert
        + " -days 30 -subj /CN=Token\\ Test >/dev/null 2>&1 && openssl pkcs12 -export -inkey " + key + " -in "
        + cert + " -name test-id -out '" + p12 + "' -passout pass:" + password + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? p12 : std::string();
}

TEST_F(TokenModule, Pkcs12ImportThenSignatureChecksAgainstTheCertificate)
{
    InsertInitializedToken("--max-keypairs 1");
    const std::string p12 = MakePkcs12(root.Temp().string(), "secret");
    ASSERT_FALSE(p12.empty());
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_BYTE path[NRV_PATH_BUFFER_SIZE] = {};
    std::snprintf(reinterpret_cast<char*>(path), sizeof path, "%s", p12.c_str());
    CK_BYTE good[] = "secret", wrong[] = "nope";
    EXPECT_EQ(p11->C_NRV_LoadCert(session, path, good, 6), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    EXPECT_EQ(p11->C_NRV_LoadCert(session, path, wrong, 4), CKR_DATA_INVALID);
    CK_BYTE missing[] = "/nonexistent/file.p12";
    EXPECT_EQ(p11->C_NRV_LoadCert(session, missing, good, 6), NRV_CKR_FILE_OPEN_FAILED);
    ASSERT_EQ(p11->C_NRV_LoadCert(session, path, good, 6), CKR_OK);
    EXPECT_EQ(p11->C_NRV_LoadCert(session, path, good, 6), CKR_DEVICE_MEMORY) << "one key pair allowed";

    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE filter = { CKA_CLASS, &privateClass, sizeof privateClass };
    ASSERT_EQ(p11->C_FindObjectsInit(session, &filter, 1), CKR_OK);
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    ASSERT_EQ(p11->C_FindObjects(session, &key, 1, &found), CKR_OK);
    ASSERT_EQ(found, 1u);
    ASSERT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
    CK_BYTE index = 0, partner = 0;
    CK_ATTRIBUTE indexQuery = { CKA_NRV_KEY_PAIR_INDEX, &index, 1 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, key, &indexQuery, 1), CKR_OK);
    EXPECT_EQ(index, 1);
    ASSERT_EQ(p11->C_NRV_FindPriPubKey(session, NRV_FROM_PRIVATE_KEY_INDEX, index, &partner), CKR_OK);
    EXPECT_EQ(partner, index);
    CK_BYTE exponent[8];
    CK_ATTRIBUTE sensitive = { CKA_PRIVATE_EXPONENT, exponent, sizeof exponent };
    EXPECT_EQ(p11->C_GetAttributeValue(session, key, &sensitive, 1), CKR_ATTRIBUTE_SENSITIVE);

    // SHA-256 DigestInfo of "hello", signed with CKM_RSA_PKCS.
    const unsigned char prefix[] = { 0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
        0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20 };
    std::vector<CK_BYTE> digestInfo(prefix, prefix + sizeof prefix);
    digestInfo.resize(sizeof prefix + 32);
    unsigned int digestLength = 0;
    EVP_Digest("hello", 5, digestInfo.data() + sizeof prefix, &digestLength, EVP_sha256(), nullptr);
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, key), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(p11->C_Sign(session, digestInfo.data(), 51, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    std::vector<CK_BYTE> signature(length);
    CK_ULONG shortLength = 10;
    EXPECT_EQ(
        p11->C_Sign(session, digestInfo.data(), 51, signature.data(), &shortLength), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortLength, 256u);
    ASSERT_EQ(p11->C_Sign(session, digestInfo.data(), 51, signature.data(), &length), CKR_OK);
    EXPECT_EQ(p11->C_Sign(session, digestInfo.data(), 51, signature.data(), &length),
        CKR_OPERATION_NOT_INITIALIZED);

    FILE* certFile = std::fopen((root.Temp() / "cert.pem").c_str(), "r");
    ASSERT_NE(certFile, nullptr);
    const vela5::platform::X509Ptr cert(PEM_read_X509(certFile, nullptr, nullptr, nullptr));
    std::fclose(certFile);
    ASSERT_NE(cert, nullptr);
    const vela5::platform::MdCtxPtr ctx(EVP_MD_CTX_new());
    ASSERT_EQ(
        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, X509_get0_pubkey(cert.get())), 1);
    EXPECT_EQ(EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                  reinterpret_cast<const unsigned char*>("hello"), 5),
        1);
}

TEST_F(TokenModule, CloseAllSessionsReachesAnotherProcess)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    // The helper holds a session until it reads a line.
    const std::string fifo = (root.Temp() / "go").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string command = std::string(VELA5_TEST_HELPER) + " hold < " + fifo;
    FILE* helper = popen(command.c_str(), "r");
    ASSERT_NE(helper, nullptr);
    FILE* go = std::fopen(fifo.c_str(), "w");
    ASSERT_NE(go, nullptr);
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, helper), nullptr);
    CK_TOKEN_INFO info;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 1u);

    CK_BYTE label[NRV_LABEL_BUFFER_SIZE] = "x";
    CK_BYTE pin[NRV_PIN_BUFFER_SIZE] = "1234";
    CK_BYTE so[NRV_PIN_BUFFER_SIZE] = "87654321";
    NRV_INIT_TOKEN_RECORD record = { label, pin, 4, 8, 8, 4, so, 8, 8, 8, 4, 10, 1 };
    EXPECT_EQ(p11->C_NRV_InitToken(0, 0, record), CKR_SESSION_EXISTS) << "another process holds a session";
    ASSERT_EQ(p11->C_CloseAllSessions(0), CKR_OK);
    EXPECT_EQ(p11->C_NRV_InitToken(0, 0, record), CKR_OK);
    std::fputs("go\n", go);
    std::fclose(go);
    ASSERT_NE(std::fgets(line, sizeof line, helper), nullptr);
    EXPECT_EQ(std::stoul(line), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(pclose(helper), 0);
}

TEST_F(TokenModule, TwoProcessesChangingOneTokenLoseNothing)
{
    InsertInitializedToken();
    // This process holds the state open while the helpers write, and then
    // must see every one of their objects.
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    EXPECT_EQ(Count(session, { { CKA_CLASS, &dataClass, sizeof dataClass } }), 0u);
    const std::string helper = std::string(VELA5_TEST_HELPER) + " create 40";
    FILE* first = popen(helper.c_str(), "r");
    FILE* second = popen(helper.c_str(), "r");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(pclose(first), 0);
    EXPECT_EQ(pclose(second), 0);
    EXPECT_EQ(Count(session, { { CKA_CLASS, &dataClass, sizeof dataClass } }), 80u);
}

// Reads one line of a helper's output and waits for it to end.
std::string HelperResult(FILE* helper, int& status)
{
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, helper) != nullptr;
    status = pclose(helper);
    return read ? Trim(line) : std::string("(nothing)");
}

TEST_F(TokenModule, TwoProcessesChangingOneObjectKeepEachOthersChanges)
{
    InsertInitializedToken();
    // This process keeps the state open throughout, as a manager would.
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    char start[] = "start";
    CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, sizeof yes },
        { CKA_LABEL, start, 5 }, { CKA_VALUE, start, 5 } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, data, 4, &handle), CKR_OK);

    // One helper sets only the label, the other only the value: neither may
    // ever see its own attribute put back by the other.
    const std::string helper = std::string(VELA5_TEST_HELPER) + " touch ";
    const std::string rounds = " 150 " + std::to_string(handle);
    FILE* labels = popen((helper + "label" + rounds).c_str(), "r");
    FILE* values = popen((helper + "value" + rounds).c_str(), "r");
    ASSERT_NE(labels, nullptr);
    ASSERT_NE(values, nullptr);
    int labelStatus = -1;
    int valueStatus = -1;
    EXPECT_EQ(HelperResult(labels, labelStatus), "0") << "label changes undone by the other process";
    EXPECT_EQ(HelperResult(values, valueStatus), "0") << "value changes undone by the other process";
    EXPECT_EQ(labelStatus, 0);
    EXPECT_EQ(valueStatus, 0);

    char label[32] = {};
    char value[32] = {};
    CK_ATTRIBUTE query[] = { { CKA_LABEL, label, sizeof label }, { CKA_VALUE, value, sizeof value } };
    ASSERT_EQ(p11->C_GetAttributeValue(session, handle, query, 2), CKR_OK);
    EXPECT_EQ(std::string(label, query[0].ulValueLen), "label149");
    EXPECT_EQ(std::string(value, query[1].ulValueLen), "value149");
}

TEST_F(TokenModule, ImportingTheStateItselfKeepsTheStateShared)
{
    const std::string serial = InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    // Opening and closing any of the state's files from this process would
    // drop the locks that tell other processes it is in use.
    const std::string state = (root.Root() / "tokens" / "state.db").string();
    for (const std::string suffix : { "", "-wal", "-shm" }) {
        CK_BYTE path[NRV_PATH_BUFFER_SIZE] = {};
        std::memcpy(path, (state + suffix).c_str(), state.size() + suffix.size());
        CK_BYTE password[] = "pw";
        EXPECT_EQ(p11->C_NRV_LoadCert(session, path, password, 2), NRV_CKR_CERT_DATA_INVALID) << suffix;
    }
    // Another process comes and goes; what this one writes next must still
    // reach everybody.
    ASSERT_EQ(RunTool("list"), 0);
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    char label[] = "written after";
    CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, sizeof yes },
        { CKA_LABEL, label, sizeof label - 1 } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, data, 3, &handle), CKR_OK);
    std::string shown;
    ASSERT_EQ(RunTool("show " + serial, &shown), 0);
    EXPECT_NE(shown.find("written after"), std::string::npos) << shown;
}

TEST_F(TokenModule, DamagedStateGivesAClearErrorNotACrash)
{
    std::ofstream((root.Root() / "tokens" / "state.db").string(), std::ios::trunc)
        << "this is not a database";
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_DEVICE_ERROR);
    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    std::string output;
    EXPECT_EQ(RunTool("list 2>&1", &output), 1);
    EXPECT_NE(output.find("damaged or not a token state"), std::string::npos) << output;
}

} // namespace

namespace {

TEST_F(TokenModule, Pkcs12FilesThatCannotBeUsedGetTheirCodes)
{
    InsertInitializedToken();
    // A folder whose name holds a backslash: the caller doubles it.
    const std::filesystem::path folder = root.Temp() / "in\\side";
    std::filesystem::create_directories(folder);
    const std::string p12 = MakePkcs12(folder.string(), "pw");
    ASSERT_FALSE(p12.empty());
    const std::string certOnly = (folder / "cert-only.p12").string();
    ASSERT_EQ(std::system(("openssl pkcs12 -export -nokeys -in '" + (folder / "cert.pem").string()
                  + "' -out '" + certOnly + "' -passout pass:pw >/dev/null 2>&1")
                              .c_str()),
        0);
    std::ofstream((folder / "junk.p12").string()) << "not a PKCS#12 file";

    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    auto load = [&](const std::filesystem::path& file) {
        std::string doubled;
        for (char c : file.string()) {
            doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        CK_BYTE path[NRV_PATH_BUFFER_SIZE] = {};
        std::memcpy(path, doubled.c_str(), std::min<size_t>(doubled.size(), sizeof path - 1));
        CK_BYTE password[] = "pw";
        return p11->C_NRV_LoadCert(session, path, password, 2);
    };
    EXPECT_EQ(load(folder / "junk.p12"), NRV_CKR_CERT_DATA_INVALID);
    EXPECT_EQ(load(certOnly), NRV_CKR_PRIVATE_KEY_NOT_FOUND);
    EXPECT_EQ(load(p12), CKR_OK) << "doubled backslashes are undone";
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    EXPECT_EQ(Count(session, { { CKA_CLASS, &certClass, sizeof certClass } }), 1u);
    CK_BYTE unterminated[NRV_PATH_BUFFER_SIZE];
    std::memset(unterminated, 'a', sizeof unterminated);
    CK_BYTE password[] = "pw";
    EXPECT_EQ(p11->C_NRV_LoadCert(session, unterminated, password, 2), CKR_ARGUMENTS_BAD)
        << "no NUL in 1000 bytes";
}

TEST_F(TokenModule, MisuseAnswersExactCodes)
{
    InsertInitializedToken();
    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_C_INITIALIZE_ARGS args = {};
    args.pReserved = &count;
    EXPECT_EQ(p11->C_Initialize(&args), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(p11->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &session),
        CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tokenData[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, 1 } };
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(p11->C_CreateObject(session, tokenData, 2, &handle), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(Login(session, CKU_SO, "87654321"), CKR_SESSION_READ_ONLY_EXISTS);
    CK_ULONG found = 0;
    EXPECT_EQ(p11->C_FindObjects(session, nullptr, 10, &found), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(p11->C_FindObjectsInit(session, nullptr, 0), CKR_OK);
    EXPECT_EQ(p11->C_FindObjectsInit(session, nullptr, 0), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(p11->C_FindObjectsInit(session, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(p11->C_InitToken(0, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(p11->C_DigestKey(session, handle), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(p11->C_SeedRandom(session, nullptr, 0), CKR_RANDOM_SEED_NOT_SUPPORTED);
    CK_BYTE random[32] = {};
    EXPECT_EQ(p11->C_GenerateRandom(session, random, sizeof random), CKR_OK);
    EXPECT_EQ(p11->C_GenerateRandom(session + 1000, random, sizeof random), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(p11->C_Finalize(&count), CKR_ARGUMENTS_BAD);
}

} // namespace
