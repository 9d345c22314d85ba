// "Delete All": against a token that lists ten objects at a time, and through
// the fake module, whose C_DestroyObject reports success without removing
// anything, so the listings are the test's own.
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/objects/ObjectDeleteAll.h"
#include "tests/support/FakeModuleControl.h"
#include "tests/support/ScopedTestRoot.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class ObjectDeleteAllModuleTests : public testing::Test {
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

TEST_F(ObjectDeleteAllModuleTests, ListsAgainUntilNothingIsLeftAndStopsOnEveryKindOfFailure)
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
        { "an object that stays", { { 21 }, { 21 } }, CKR_OK, CKR_OK, CKR_GENERAL_ERROR, 1, { "21" } },
        { "a destruction fails", { { 31, 32 } }, CKR_OK, CKR_DEVICE_ERROR, CKR_DEVICE_ERROR, 0, { "31" } },
        { "a later listing fails", { { 41 } }, CKR_DEVICE_REMOVED, CKR_OK, CKR_DEVICE_REMOVED, 1, { "41" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_fake.Reset();
        m_fake.SetResult("C_DestroyObject", c.destroyResult);
        size_t listing = 0;
        ObjectDeleteAll deleteAll(
            [&](std::vector<CK_OBJECT_HANDLE>& handles) {
                if (listing < c.listings.size()) {
                    handles = c.listings[listing++];
                    return static_cast<CK_RV>(CKR_OK);
                }
                return c.listingFailure;
            },
            [&](CK_OBJECT_HANDLE handle) { return m_cryptoki.DestroyObject(7, handle); });
        EXPECT_EQ(deleteAll.Run(), c.rv);
        EXPECT_EQ(deleteAll.Deleted(), c.destroyed);
        EXPECT_EQ(Destroyed(), c.calls);
    }
}

// A token that lists ten objects at a time.
class PagedToken {
public:
    explicit PagedToken(size_t objects)
    {
        for (size_t i = 0; i < objects; ++i) {
            m_objects.push_back(100 + i);
        }
    }
    ObjectDeleteAll::Lister Lister()
    {
        return [this](std::vector<CK_OBJECT_HANDLE>& handles) {
            ++listings;
            handles.assign(m_objects.begin(), m_objects.begin() + std::min<size_t>(10, m_objects.size()));
            return CKR_OK;
        };
    }
    ObjectDeleteAll::Destroyer Destroyer(CK_OBJECT_HANDLE failing = 0, bool failQuietly = false)
    {
        return [this, failing, failQuietly](CK_OBJECT_HANDLE handle) {
            if (handle == failing) {
                return failQuietly ? CKR_OK : CKR_OBJECT_HANDLE_INVALID;
            }
            m_objects.erase(std::find(m_objects.begin(), m_objects.end(), handle));
            return CKR_OK;
        };
    }
    size_t Left() const { return m_objects.size(); }
    int listings = 0;

private:
    std::vector<CK_OBJECT_HANDLE> m_objects;
};

TEST(ObjectDeleteAll, ListsAgainUntilNothingIsLeft)
{
    const struct {
        const char* name;
        size_t objects;
        CK_OBJECT_HANDLE failing;
        bool failQuietly;
        CK_RV rv;
        size_t deleted;
        size_t left;
    } cases[] = {
        { "nothing", 0, 0, false, CKR_OK, 0, 0 },
        { "one", 1, 0, false, CKR_OK, 1, 0 },
        { "more than one listing shows", 25, 0, false, CKR_OK, 25, 0 },
        { "the first failure stops it", 25, 113, false, CKR_OBJECT_HANDLE_INVALID, 13, 12 },
        // A destroy that reports success but leaves the object must not loop.
        { "an object that stays", 12, 104, true, CKR_GENERAL_ERROR, 10, 3 },
    };
    for (const auto& c : cases) {
        PagedToken token(c.objects);
        ObjectDeleteAll deleteAll(token.Lister(), token.Destroyer(c.failing, c.failQuietly));
        EXPECT_EQ(deleteAll.Run(), c.rv) << c.name;
        EXPECT_EQ(deleteAll.Deleted(), c.deleted) << c.name;
        EXPECT_EQ(token.Left(), c.left) << c.name;
    }
}

} // namespace
