// Token modules side by side: RSA-2048 CKM_RSA_PKCS C_Sign through the
// software token and through SoftHSMv2's module (when installed), with OpenSSL
// in this process as the floor, and the manager's two-call slot-list poll on
// each. One harness, the same calls for every module; prints the ratios.
#include "pkcs11/pkcs11.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <string>
#include <vector>

namespace {

constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";
std::vector<unsigned char> digestInfo(51, 0x42);

struct ModuleUnderTest {
    std::string name;
    CK_FUNCTION_LIST* p11 = nullptr;
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE privateKey = 0;

    bool Sign()
    {
        CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
        unsigned char signature[256];
        CK_ULONG length = sizeof signature;
        return p11->C_SignInit(session, &mechanism, privateKey) == CKR_OK
            && p11->C_Sign(session, digestInfo.data(), digestInfo.size(), signature, &length) == CKR_OK;
    }

    void Poll() const
    {
        CK_ULONG slots = 0, tokens = 0;
        p11->C_GetSlotList(CK_FALSE, nullptr, &slots);
        p11->C_GetSlotList(CK_TRUE, nullptr, &tokens);
        benchmark::DoNotOptimize(slots + tokens);
    }
};

bool Run(const std::string& command)
{
    return std::system((command + " >/dev/null").c_str()) == 0;
}

// Loads a module, logs in to its first token and generates the key pair.
bool Open(ModuleUnderTest& module, const char* path)
{
    void* library = dlopen(path, RTLD_NOW);
    auto getList
        = library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList")) : nullptr;
    if (getList == nullptr || getList(&module.p11) != CKR_OK || module.p11->C_Initialize(nullptr) != CKR_OK) {
        return false;
    }
    // The first initialized token: SoftHSMv2 also lists a blank one.
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (module.p11->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK) {
        return false;
    }
    const CK_SLOT_ID* slot = std::find_if(slots, slots + count, [&](CK_SLOT_ID id) {
        CK_TOKEN_INFO info {};
        return module.p11->C_GetTokenInfo(id, &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED) != 0;
    });
    CK_UTF8CHAR pin[] = "1234";
    if (slot == slots + count
        || module.p11->C_OpenSession(
               *slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &module.session)
            != CKR_OK
        || module.p11->C_Login(module.session, CKU_USER, pin, 4) != CKR_OK) {
        return false;
    }
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_ULONG bits = 2048;
    CK_BYTE exponent[] = { 1, 0, 1 };
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 },
        { CKA_TOKEN, &yes, 1 }, { CKA_VERIFY, &yes, 1 } };
    CK_ATTRIBUTE priv[] = { { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &yes, 1 }, { CKA_SIGN, &yes, 1 } };
    CK_OBJECT_HANDLE publicKey = 0;
    return module.p11->C_GenerateKeyPair(
               module.session, &mechanism, pub, 4, priv, 3, &publicKey, &module.privateKey)
        == CKR_OK
        && module.Sign();
}

std::vector<ModuleUnderTest> SetUp(const std::filesystem::path& root)
{
    std::vector<ModuleUnderTest> modules;
    setenv("VELA5_ROOT", root.c_str(), 1);
    const std::string tool = std::string(VELA5_BIN_DIR) + "/vela5-token ";
    ModuleUnderTest ours { "velapkcs11" };
    if (!Run(tool + "reader add Bench")
        || !Run(
            tool + "token create --model VELA5-64 --serial BENCH --label B --user-pin 1234 --so-pin 87654321")
        || !Run(tool + "token insert BENCH Bench") || !Open(ours, "velapkcs11.so")) {
        std::fprintf(stderr, "TokenModuleBench: cannot set up the software token\n");
        std::exit(1);
    }
    modules.push_back(ours);

    if (!std::filesystem::exists(kSoftHsm)) {
        std::printf("SoftHSMv2 is not installed: its figures are skipped\n");
        return modules;
    }
    std::filesystem::create_directories(root / "softhsm");
    std::ofstream(root / "softhsm2.conf")
        << "directories.tokendir = " << (root / "softhsm").string() << "\nobjectstore.backend = file\n";
    setenv("SOFTHSM2_CONF", (root / "softhsm2.conf").c_str(), 1);
    ModuleUnderTest softhsm { "SoftHSMv2" };
    if (!Run("softhsm2-util --init-token --free --label B --pin 1234 --so-pin 87654321")
        || !Open(softhsm, kSoftHsm)) {
        std::printf("SoftHSMv2 could not be set up: its figures are skipped\n");
        return modules;
    }
    modules.push_back(softhsm);
    return modules;
}

bool OpenSslSign(EVP_PKEY* key)
{
    unsigned char signature[256];
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t length = sizeof signature;
    const bool signed_ = EVP_PKEY_sign_init(ctx) == 1
        && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1
        && EVP_PKEY_sign(ctx, signature, &length, digestInfo.data(), digestInfo.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return signed_;
}

// Process CPU time: the machine may be shared, and wall time then measures
// the neighbours.
double CpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double MedianPollMicroseconds(const ModuleUnderTest& module)
{
    std::vector<double> samples;
    for (int i = 0; i < 2000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        module.Poll();
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/vela5-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    std::vector<ModuleUnderTest> modules = SetUp(pattern);
    EVP_PKEY* localKey = EVP_RSA_gen(2048);

    for (ModuleUnderTest& module : modules) {
        benchmark::RegisterBenchmark(("Sign/" + module.name).c_str(), [&module](benchmark::State& state) {
            for (auto _ : state) {
                if (!module.Sign()) {
                    state.SkipWithError("C_Sign failed");
                    break;
                }
            }
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Poll/" + module.name).c_str(), [&module](benchmark::State& state) {
            for (auto _ : state) {
                module.Poll();
            }
        })->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Sign/OpenSSL in-process", [localKey](benchmark::State& state) {
        for (auto _ : state) {
            benchmark::DoNotOptimize(OpenSslSign(localKey));
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    // Side by side in this run: alternate rounds so drift hits every party.
    std::vector<double> moduleSeconds(modules.size(), 0.0);
    double local = 0;
    for (int round = 0; round < 10; ++round) {
        for (size_t m = 0; m < modules.size(); ++m) {
            const double start = CpuSeconds();
            for (int i = 0; i < 50; ++i) {
                modules[m].Sign();
            }
            moduleSeconds[m] += CpuSeconds() - start;
        }
        const double start = CpuSeconds();
        for (int i = 0; i < 50; ++i) {
            OpenSslSign(localKey);
        }
        local += CpuSeconds() - start;
    }
    std::printf("RSA-2048 CKM_RSA_PKCS C_Sign, CPU time per signature relative to OpenSSL in-process:\n");
    for (size_t m = 0; m < modules.size(); ++m) {
        std::printf("  %-12s %.3f%s\n", modules[m].name.c_str(), moduleSeconds[m] / local,
            m == 0 ? " (target <= 1.2)" : "");
    }
    if (modules.size() > 1) {
        std::printf(
            "Sign rate velapkcs11 / SoftHSMv2: %.2f (target >= 1.5)\n", moduleSeconds[1] / moduleSeconds[0]);
    }
    for (const ModuleUnderTest& module : modules) {
        std::printf("C_GetSlotList poll (without and with tokenPresent), median, %s: %.2f us%s\n",
            module.name.c_str(), MedianPollMicroseconds(module),
            &module == &modules[0] ? " (target <= 20)" : "");
    }
    for (ModuleUnderTest& module : modules) {
        module.p11->C_Finalize(nullptr);
    }
    EVP_PKEY_free(localKey);
    std::filesystem::remove_all(pattern);
    return 0;
}
