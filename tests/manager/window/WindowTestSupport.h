// Shared by the main window's tests: the software token under a private
// machine root, driven through vela5-token, and the module client on it.
#pragma once

#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "tests/support/RunTokenTool.h"
#include "tests/support/ScopedTestRoot.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Puts $TMPDIR and $VELA5_ROOT back as they were, so the next test of the
// same program finds a temporary folder that still exists.
class SavedEnvironment final {
public:
    SavedEnvironment()
    {
        for (const char* name : { "TMPDIR", "VELA5_ROOT" }) {
            const char* value = std::getenv(name);
            m_values.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~SavedEnvironment()
    {
        for (const auto& [name, value] : m_values) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    SavedEnvironment(const SavedEnvironment&) = delete;
    SavedEnvironment& operator=(const SavedEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_values;
};

class SoftTokenFixture : public testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        m_bin = bin;
        NRVCMULog::Relocate();
        m_cryptoki = std::make_unique<NRVCMUCryptoki>(wxString::FromUTF8(m_bin + "/velapkcs11.so"));
        ASSERT_TRUE(m_cryptoki->CheckCryptokiLibrary());
        ASSERT_EQ(m_cryptoki->CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki->Initialize(), CKR_OK);
    }

    void TearDown() override
    {
        if (m_cryptoki) {
            m_cryptoki->Finalize();
            m_cryptoki.reset();
        }
    }

    // Runs vela5-token; returns the first line of its output.
    std::string Tool(const std::string& arguments) { return RunTokenTool(m_bin, arguments); }

    // A reader holding a new token of the given kind; returns the serial.
    std::string InsertToken(const std::string& reader, const std::string& createArguments)
    {
        const std::string serial = Tool("token create --test-pin-rounds 1000 " + createArguments);
        EXPECT_FALSE(serial.empty());
        Tool("token insert " + serial + " '" + reader + "'");
        return serial;
    }

    SavedEnvironment m_savedEnvironment;
    ScopedTestRoot m_root;
    std::string m_bin;
    std::unique_ptr<NRVCMUCryptoki> m_cryptoki;
};

// Keeps calling pump and checking until the condition holds or the deadline passes.
inline bool WaitFor(const std::function<bool()>& condition, const std::function<void()>& pump,
    std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
