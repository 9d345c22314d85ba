// VELA5KSPSignHash through the CNG router against C_Sign on the same module,
// session kind and RSA-2048 key, in the same process: what the provider adds
// to a signature (login check, PIN cache, DigestInfo, framing, trace). Run
// once with the provider's file log off and once with it on; each mode runs
// in a child process, as the provider reads its log settings when loaded.
#include "ksp/abi/HandleRecords.h"
#include "pkcs11/pkcs11.h"
#include "platform/cng/Router.h"
#include "platform/registry/Registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vela5::platform;

namespace {

constexpr int kRounds = 7;
constexpr int kSignaturesPerRound = 100;
CK_BYTE kId[] = { 'B', 'E', 'N', 'C', 'H' };
CK_UTF8CHAR kPin[] = "1234";

bool Run(const std::string& command)
{
    return std::system((command + " >/dev/null").c_str()) == 0;
}

CK_FUNCTION_LIST* LoadModule()
{
    void* library = dlopen("velapkcs11.so", RTLD_NOW);
    auto getList
        = library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList")) : nullptr;
    CK_FUNCTION_LIST* p11 = nullptr;
    if (getList == nullptr || getList(&p11) != CKR_OK) {
        return nullptr;
    }
    const CK_RV rv = p11->C_Initialize(nullptr);
    return rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED ? p11 : nullptr;
}

CK_SESSION_HANDLE LoggedInSession(CK_FUNCTION_LIST* p11)
{
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    CK_SESSION_HANDLE session = 0;
    if (p11->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1
        || p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session)
            != CKR_OK) {
        return 0;
    }
    const CK_RV rv = p11->C_Login(session, CKU_USER, kPin, 4);
    return rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN ? session : 0;
}

bool GenerateKey(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session)
{
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_ULONG bits = 2048;
    CK_BYTE exponent[] = { 1, 0, 1 };
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 },
        { CKA_TOKEN, &yes, 1 }, { CKA_ID, kId, sizeof kId } };
    CK_ATTRIBUTE priv[] = { { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &yes, 1 }, { CKA_SIGN, &yes, 1 },
        { CKA_ID, kId, sizeof kId } };
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    return p11->C_GenerateKeyPair(session, &mechanism, pub, 4, priv, 4, &publicKey, &privateKey) == CKR_OK;
}

CK_OBJECT_HANDLE FindPrivateKey(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session)
{
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE search[]
        = { { CKA_CLASS, &privateClass, sizeof privateClass }, { CKA_ID, kId, sizeof kId } };
    CK_OBJECT_HANDLE found = 0;
    CK_ULONG count = 0;
    p11->C_FindObjectsInit(session, search, 2);
    p11->C_FindObjects(session, &found, 1, &count);
    p11->C_FindObjectsFinal(session);
    return count == 1 ? found : 0;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One mode, in a child process: the module and the provider loaded fresh.
int Measure(bool fileLogging, const std::filesystem::path& root)
{
    Registry::Key sdk;
    if (Registry::Key::Create(
            Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK", Registry::View::Native, sdk)
            != Registry::Success
        || sdk.SetString("KSPLOG", fileLogging ? "00000001" : "00000000") != Registry::Success
        || sdk.SetString("KSPDIR", (root / "ksp.log").string()) != Registry::Success) {
        std::fprintf(stderr, "ProviderSignBench: cannot write the log settings\n");
        return 1;
    }
    CK_FUNCTION_LIST* p11 = LoadModule();
    const CK_SESSION_HANDLE session = p11 != nullptr ? LoggedInSession(p11) : 0;
    const CK_OBJECT_HANDLE privateKey = session != 0 ? FindPrivateKey(p11, session) : 0;
    Cng::Provider router;
    std::string error;
    NCRYPT_PROV_HANDLE provider = 0;
    NCRYPT_KEY_HANDLE key = 0;
    if (privateKey == 0 || router.Load("Nurvon KSP v1.0", error) != ERROR_SUCCESS
        || router.Open(&provider, u"Nurvon KSP v1.0", NCRYPT_SILENT_FLAG) != ERROR_SUCCESS) {
        std::fprintf(stderr, "ProviderSignBench: cannot open the token or the provider %s\n", error.c_str());
        return 1;
    }
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table = *router.Table();
    // The first login takes the PIN from the host and caches it; every
    // signature after that logs in from the cache, as an application's would.
    auto* record = reinterpret_cast<ProviderContext*>(provider);
    record->pszPin = new char16_t[5] { u'1', u'2', u'3', u'4', 0 };
    std::vector<BYTE> hash(32, 0x42);
    std::vector<BYTE> signature(256);
    DWORD length = 0;
    if (table.OpenKey(provider, &key, u"BENCH", 0, NCRYPT_SILENT_FLAG) != ERROR_SUCCESS
        || table.SignHash(provider, key, nullptr, hash.data(), 32, signature.data(), 256, &length, 0)
            != ERROR_SUCCESS) {
        std::fprintf(stderr, "ProviderSignBench: the provider cannot sign\n");
        return 1;
    }
    delete[] record->pszPin;
    record->pszPin = nullptr;

    // The DigestInfo the provider makes of that hash, signed directly.
    const CK_BYTE sha256Prefix[] = { 0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
        0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20 };
    CK_BYTE digestInfo[sizeof sha256Prefix + 32];
    std::memcpy(digestInfo, sha256Prefix, sizeof sha256Prefix);
    std::memcpy(digestInfo + sizeof sha256Prefix, hash.data(), 32);
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    double direct = 1e9;
    double routed = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kSignaturesPerRound; ++i) {
            CK_ULONG size = signature.size();
            if (p11->C_SignInit(session, &mechanism, privateKey) != CKR_OK
                || p11->C_Sign(session, digestInfo, sizeof digestInfo, signature.data(), &size) != CKR_OK) {
                std::fprintf(stderr, "ProviderSignBench: C_Sign failed\n");
                return 1;
            }
        }
        direct = std::min(direct, Seconds(start));
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < kSignaturesPerRound; ++i) {
            if (table.SignHash(provider, key, nullptr, hash.data(), 32, signature.data(), 256, &length, 0)
                != ERROR_SUCCESS) {
                std::fprintf(stderr, "ProviderSignBench: VELA5KSPSignHash failed\n");
                return 1;
            }
        }
        routed = std::min(routed, Seconds(start));
    }
    const double perDirect = direct / kSignaturesPerRound * 1e3;
    const double perRouted = routed / kSignaturesPerRound * 1e3;
    std::printf("file logging %-3s  C_Sign %.3f ms  VELA5KSPSignHash %.3f ms  ratio %.3f%s\n",
        fileLogging ? "on" : "off", perDirect, perRouted, routed / direct,
        !fileLogging && routed / direct > 1.1 ? "  (goal: at most 1.1)" : "");
    table.FreeKey(provider, key);
    router.Free(provider);
    return 0;
}

} // namespace

int main()
{
    char pattern[] = "/tmp/vela5-provider-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::filesystem::path root(pattern);
    setenv("VELA5_ROOT", root.c_str(), 1);
    const std::string bin = VELA5_BIN_DIR;
    const std::string tool = bin + "/vela5-token ";
    Cng::RegisteredProvider registration;
    registration.name = "Nurvon KSP v1.0";
    registration.image = bin + "/velaksp.so";
    registration.aliases = { registration.name };
    int status = 1;
    if (!Run(tool + "reader add Bench")
        || !Run(
            tool + "token create --model VELA5-64 --serial BENCH --label B --user-pin 1234 --so-pin 87654321")
        || !Run(tool + "token insert BENCH Bench")
        || Cng::RegisterProvider(registration) != Registry::Success) {
        std::fprintf(stderr, "ProviderSignBench: cannot set up the software token\n");
    } else if (const pid_t keyMaker = fork(); keyMaker == 0) {
        // The key pair, made in a process of its own so each mode starts clean.
        CK_FUNCTION_LIST* p11 = LoadModule();
        const CK_SESSION_HANDLE session = p11 != nullptr ? LoggedInSession(p11) : 0;
        _exit(session != 0 && GenerateKey(p11, session) ? 0 : 1);
    } else if (int made = 0; waitpid(keyMaker, &made, 0) != keyMaker || made != 0) {
        std::fprintf(stderr, "ProviderSignBench: cannot generate the key pair\n");
    } else {
        std::printf("RSA-2048 PKCS #1 v1.5 signatures of a SHA-256 hash, best of %d rounds of %d\n", kRounds,
            kSignaturesPerRound);
        std::fflush(stdout);
        status = 0;
        for (const bool fileLogging : { false, true }) {
            const pid_t child = fork();
            if (child == 0) {
                const int measured = Measure(fileLogging, root);
                // _exit skips the stdio buffers.
                std::fflush(stdout);
                std::fflush(stderr);
                _exit(measured);
            }
            int result = 0;
            if (waitpid(child, &result, 0) != child || result != 0) {
                status = 1;
            }
        }
    }
    std::filesystem::remove_all(root);
    return status;
}
