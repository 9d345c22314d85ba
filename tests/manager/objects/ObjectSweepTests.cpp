// Delete-all's sweep against the fake module, whose C_DestroyObject reports
// success without removing anything: the listings are the test's own.
#include "FakeModuleControl.h"
#include "ScopedTestRoot.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/objects/ObjectSweep.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class ObjectSweepTests : public testing::Test {
protected:
    void SetUp() override
    {
        NRVCMULog::Relocate();
        ASSERT_TRUE(m_cryptoki.CheckCryptokiLibrary());
        ASSERT_EQ(m_cryptoki.CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki.Initialize(), CKR_OK);
        m_fake.Reset();
    }
    void TearDown() override { m_cryptoki.Finalize(); }

    // The handles C_DestroyObject was called with, in order.
    std::vector<std::string> Destroyed() const
    {
        std::vector<std::string> calls;
        const std::string journal = m_fake.Journal();
        const std::string name = "C_DestroyObject(";
        for (size_t at = journal.find(name); at != std::string::npos; at = journal.find(name, at + 1)) {
            const size_t end = journal.find(')', at);
            const std::string arguments = journal.substr(at + name.size(), end - at - name.size());
            calls.push_back(arguments.substr(arguments.rfind(',') + 1));
        }
        return calls;
    }

    ScopedTestRoot m_root;
    NRVCMUCryptoki m_cryptoki { FakePath("fake_module.so") };
    FakeModuleControl m_fake { FakePath("fake_module.so") };
};

TEST_F(ObjectSweepTests, ListsAgainUntilNothingIsLeftAndStopsOnEveryKindOfFailure)
{
    const struct {
        const char* name;
        // What each listing finds; past the end a listing finds nothing.
        std::vector<std::vector<CK_OBJECT_HANDLE>> listings;
        CK_RV listingFailure; // returned by the listing after the given ones, when set
        CK_RV destroyResult;
        CK_RV rv;
        size_t destroyed;
        std::vector<std::string> calls;
    } cases[] = {
        { "several listings", { { 11, 12 }, { 13 } }, CKR_OK, CKR_OK, CKR_OK, 3, { "11", "12", "13" } },
        { "nothing at all", {}, CKR_OK, CKR_OK, CKR_OK, 0, {} },
        // A module that keeps what it reports destroyed would be swept forever.
        { "an object that stays", { { 21 }, { 21 } }, CKR_OK, CKR_OK, CKR_FUNCTION_FAILED, 1, { "21" } },
        { "a destruction fails", { { 31, 32 } }, CKR_OK, CKR_DEVICE_ERROR, CKR_DEVICE_ERROR, 0, { "31" } },
        { "a later listing fails", { { 41 } }, CKR_DEVICE_REMOVED, CKR_OK, CKR_DEVICE_REMOVED, 1, { "41" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_fake.Reset();
        m_fake.SetResult("C_DestroyObject", c.destroyResult);
        size_t listing = 0;
        const SweepResult result = SweepObjects(m_cryptoki, 7, [&](std::vector<CK_OBJECT_HANDLE>& handles) {
            if (listing < c.listings.size()) {
                handles = c.listings[listing++];
                return static_cast<CK_RV>(CKR_OK);
            }
            return c.listingFailure;
        });
        EXPECT_EQ(result.rv, c.rv);
        EXPECT_EQ(result.destroyed, c.destroyed);
        EXPECT_EQ(Destroyed(), c.calls);
    }
}

} // namespace
