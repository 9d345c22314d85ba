// The software token's speed: RSA-2048 C_Sign through the module against
// OpenSSL in this process, and the manager's slot-list poll. Runs on a
// throw-away state root and prints the ratio and the poll median.
#include "pkcs11/pkcs11.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <string>
#include <vector>

namespace {

CK_FUNCTION_LIST* p11 = nullptr;
CK_SESSION_HANDLE session = 0;
CK_OBJECT_HANDLE privateKey = 0;
EVP_PKEY* localKey = nullptr;
std::vector<unsigned char> digestInfo(51, 0x42);

bool Tool(const std::string& arguments)
{
    return std::system((std::string(VELA5_BIN_DIR) + "/vela5-token " + arguments + " >/dev/null").c_str())
        == 0;
}

bool SetUp()
{
    char pattern[] = "/tmp/vela5-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return false;
    }
    setenv("VELA5_ROOT", pattern, 1);
    if (!Tool("reader add Bench")
        || !Tool("token create --model VELA5-64 --serial BENCH --label B --user-pin 1234 "
                 "--so-pin 87654321")
        || !Tool("token insert BENCH Bench")) {
        return false;
    }
    void* module = dlopen("velapkcs11.so", RTLD_NOW);
    auto getList
        = module ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList")) : nullptr;
    if (getList == nullptr || getList(&p11) != CKR_OK || p11->C_Initialize(nullptr) != CKR_OK) {
        return false;
    }
    CK_BYTE pin[] = "1234";
    if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK
        || p11->C_NRV_Login(session, CKU_USER, pin, 4) != CKR_OK) {
        return false;
    }
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_ULONG bits = 2048;
    CK_BYTE exponent[] = { 1, 0, 1 };
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 },
        { CKA_TOKEN, &yes, 1 } };
    CK_ATTRIBUTE priv[] = { { CKA_TOKEN, &yes, 1 } };
    CK_OBJECT_HANDLE publicKey = 0;
    if (p11->C_GenerateKeyPair(session, &mechanism, pub, 3, priv, 1, &publicKey, &privateKey) != CKR_OK) {
        return false;
    }
    localKey = EVP_RSA_gen(2048);
    return localKey != nullptr;
}

void ModuleSign(benchmark::State& state)
{
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    unsigned char signature[256];
    for (auto _ : state) {
        CK_ULONG length = sizeof signature;
        if (p11->C_SignInit(session, &mechanism, privateKey) != CKR_OK
            || p11->C_Sign(session, digestInfo.data(), 51, signature, &length) != CKR_OK) {
            state.SkipWithError("C_Sign failed");
            break;
        }
        benchmark::DoNotOptimize(signature);
    }
}

void OpenSslSign(benchmark::State& state)
{
    unsigned char signature[256];
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(localKey, nullptr);
        size_t length = sizeof signature;
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        EVP_PKEY_sign(ctx, signature, &length, digestInfo.data(), 51);
        EVP_PKEY_CTX_free(ctx);
        benchmark::DoNotOptimize(signature);
    }
}

// One poll of the manager: slot count without and with tokenPresent.
void Poll(benchmark::State& state)
{
    for (auto _ : state) {
        CK_ULONG slots = 0, tokens = 0;
        p11->C_GetSlotList(CK_FALSE, nullptr, &slots);
        p11->C_GetSlotList(CK_TRUE, nullptr, &tokens);
        benchmark::DoNotOptimize(slots + tokens);
    }
}

// Process CPU time: the machine may be shared, and wall time then measures
// the neighbours.
double CpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double MedianPollMicroseconds()
{
    std::vector<double> samples;
    for (int i = 0; i < 2000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        CK_ULONG slots = 0, tokens = 0;
        p11->C_GetSlotList(CK_FALSE, nullptr, &slots);
        p11->C_GetSlotList(CK_TRUE, nullptr, &tokens);
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

} // namespace

BENCHMARK(ModuleSign)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslSign)->Unit(benchmark::kMicrosecond);
BENCHMARK(Poll)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (!SetUp()) {
        std::fprintf(stderr, "TokenModuleBench: cannot set up the software token\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    // Side by side in this run: alternate rounds so drift hits both.
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    unsigned char signature[256];
    double module = 0, local = 0;
    for (int round = 0; round < 10; ++round) {
        double start = CpuSeconds();
        for (int i = 0; i < 50; ++i) {
            CK_ULONG length = sizeof signature;
            p11->C_SignInit(session, &mechanism, privateKey);
            p11->C_Sign(session, digestInfo.data(), 51, signature, &length);
        }
        module += CpuSeconds() - start;
        start = CpuSeconds();
        for (int i = 0; i < 50; ++i) {
            EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(localKey, nullptr);
            size_t length = sizeof signature;
            EVP_PKEY_sign_init(ctx);
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
            EVP_PKEY_sign(ctx, signature, &length, digestInfo.data(), 51);
            EVP_PKEY_CTX_free(ctx);
        }
        local += CpuSeconds() - start;
    }
    std::printf(
        "RSA-2048 C_Sign via module / OpenSSL in-process (CPU time): %.3f (target <= 1.2)\n", module / local);
    std::printf("C_GetSlotList poll (without and with tokenPresent), median: %.2f us (target <= 20)\n",
        MedianPollMicroseconds());
    p11->C_Finalize(nullptr);
    std::filesystem::remove_all(std::getenv("VELA5_ROOT"));
    return 0;
}
