// Runs the propagation agent as its own process on the test's machine root,
// with tokens made through vela5-token and the store read as the user's
// programs read it, so every test sees the agent as the token manager would.
#pragma once

#include "platform/certstore/Certificate.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TestCertificates.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// The poll interval the tests give the agent, through its test-only override.
inline constexpr std::chrono::milliseconds kTestPollInterval { 150 };

class AgentProcess final {
public:
    // argument: the first command-line argument, none when empty; environment:
    // variables set for the agent only.
    explicit AgentProcess(
        const std::string& argument = "", const std::map<std::string, std::string>& environment = {});
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;
    // The exit status, or minus the signal that ended it; false when it still
    // runs after timeout.
    bool WaitExit(std::chrono::milliseconds timeout, int& status);

private:
    pid_t m_pid = -1;
};

// True as soon as condition holds, false when it did not within timeout.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// One token of the software token in a reader, with certificates.
struct TestToken {
    std::string serial;
    std::string reader;
    std::vector<std::vector<uint8_t>> certificates; // DER, in the order they were put on the token
    std::vector<std::string> ids; // their CKA_IDs in hex
    std::vector<TestKey> keys; // their keys
};

inline constexpr const char* kUserPin = "1234";

std::string TokenTool(const std::string& arguments);
// A reader named reader holding a fresh token, with one certificate per ID
// (each with a key of its own, subject "/CN=<reader> <n>").
TestToken MakeToken(
    const ScopedTestRoot& root, const std::string& reader, const std::vector<std::string>& ids);
// Adds a certificate with an empty CKA_ID through the module's own calls,
// which the token tool refuses to do.
void AddCertificateWithEmptyId(const TestToken& token, const std::vector<uint8_t>& der);

// The user's "MY" store as it is now.
std::vector<vela5::platform::CertStore::Certificate> StoreCertificates();
bool StoreHolds(const std::vector<uint8_t>& der);
