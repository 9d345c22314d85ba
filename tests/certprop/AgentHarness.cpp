#include "AgentHarness.h"

#include "pkcs11/pkcs11.h"
#include "platform/certstore/Store.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestCertificates.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vela5::platform;

extern char** environ;

namespace {

std::string BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin != nullptr ? bin : ".";
}

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

AgentProcess::AgentProcess(const std::string& argument, const std::map<std::string, std::string>& environment)
{
    const std::string program = BinDir() + "/VELA5 CertProp Svc";
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    variables["VELA5_CERTPROP_TEST_POLL_INTERVAL_MS"] = std::to_string(kTestPollInterval.count());
    for (const auto& [name, value] : environment) {
        variables[name] = value;
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : variables) {
        texts.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& text : texts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::string name = program;
    std::string first = argument;
    std::vector<char*> argv { name.data() };
    if (!argument.empty()) {
        argv.push_back(first.data());
    }
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid == 0) {
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    EXPECT_GT(m_pid, 0) << "fork failed";
}

AgentProcess::~AgentProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void AgentProcess::Signal(int signal) const
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

bool AgentProcess::WaitExit(std::chrono::milliseconds timeout, int& status)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        int raw = 0;
        const pid_t done = ::waitpid(m_pid, &raw, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string TokenTool(const std::string& arguments)
{
    const ProgramResult result = RunProgram("vela5-token", arguments);
    EXPECT_EQ(result.status, 0) << "vela5-token " << arguments << ": " << result.err;
    return result.out.substr(0, result.out.find('\n'));
}

TestToken MakeToken(
    const ScopedTestRoot& root, const std::string& reader, const std::vector<std::string>& ids)
{
    TestToken token;
    token.reader = reader;
    TokenTool("reader add " + Quoted(reader));
    token.serial = TokenTool("token create --model VELA5-64 --label " + Quoted(reader) + " --user-pin "
        + kUserPin + " --so-pin 87654321");
    TokenTool("token insert " + token.serial + " " + Quoted(reader));
    int n = 0;
    for (const std::string& id : ids) {
        TestCertificateFields fields;
        fields.subject = "/CN=" + reader + " " + std::to_string(++n);
        fields.serial = n;
        token.keys.push_back(MakeRsaKey());
        token.certificates.push_back(MakeCertificate(fields, token.keys.back()));
        const std::filesystem::path file = root.Temp() / (token.serial + "-" + std::to_string(n) + ".cer");
        WriteBytes(file, token.certificates.back());
        TokenTool("object add-cert " + token.serial + " " + Quoted(file.string()) + " --id " + id + " --pin "
            + kUserPin);
        token.ids.push_back(id);
    }
    return token;
}

void AddCertificateWithEmptyId(const TestToken& token, const std::vector<uint8_t>& der)
{
    void* const library = ::dlopen((BinDir() + "/velapkcs11.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto* const getList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library, "C_GetFunctionList"));
    ASSERT_NE(getList, nullptr);
    CK_FUNCTION_LIST* p11 = nullptr;
    ASSERT_EQ(getList(&p11), CKR_OK);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_SLOT_ID slots[16];
    CK_ULONG count = 16;
    ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
    CK_SESSION_HANDLE session = 0;
    for (CK_ULONG i = 0; i < count && session == 0; ++i) {
        CK_SLOT_INFO info {};
        p11->C_GetSlotInfo(slots[i], &info);
        const std::string description(
            reinterpret_cast<const char*>(info.slotDescription), token.reader.size());
        if (description == token.reader) {
            ASSERT_EQ(
                p11->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
                CKR_OK);
        }
    }
    ASSERT_NE(session, 0U) << "no slot named " << token.reader;
    std::string pin = kUserPin;
    ASSERT_EQ(
        p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), CKR_OK);
    CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    std::vector<uint8_t> value = der;
    CK_BYTE noId = 0;
    CK_ATTRIBUTE attributes[] = {
        { CKA_CLASS, &objectClass, sizeof objectClass },
        { CKA_CERTIFICATE_TYPE, &type, sizeof type },
        { CKA_TOKEN, &yes, sizeof yes },
        { CKA_VALUE, value.data(), value.size() },
        { CKA_ID, &noId, 0 },
    };
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(p11->C_CreateObject(session, attributes, 5, &object), CKR_OK);
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    p11->C_Finalize(nullptr);
}

std::vector<CertStore::Certificate> StoreCertificates()
{
    CertStore::Store store;
    std::vector<CertStore::Certificate> certificates;
    if (CertStore::Store::OpenSystem("MY", store) == CertStore::Success) {
        store.Enumerate(certificates);
    }
    return certificates;
}

bool StoreHolds(const std::vector<uint8_t>& der)
{
    const auto certificates = StoreCertificates();
    return std::any_of(certificates.begin(), certificates.end(),
        [&](const CertStore::Certificate& certificate) { return certificate.Encoded() == der; });
}
