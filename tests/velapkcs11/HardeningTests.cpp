// Faults found by attacking the software token: its files, hostile states
// and inputs, and arguments the module must refuse before using them.
#include "TokenModuleFixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class Hardening : public TokenModule {
protected:
    fs::path State() const { return root.Root() / "tokens" / "state.db"; }
    std::string ReadState() const
    {
        std::ifstream in(State(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    CK_OBJECT_HANDLE CreateData(CK_SESSION_HANDLE session, const std::string& value)
    {
        static CK_OBJECT_CLASS dataClass = CKO_DATA;
        static CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, 1 },
            { CKA_VALUE, const_cast<char*>(value.data()), value.size() } };
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(p11->C_CreateObject(session, data, 3, &handle), CKR_OK);
        return handle;
    }
};

int Mode(const fs::path& file)
{
    struct stat info { };
    return stat(file.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

TEST_F(Hardening, StateAndItsLogFilesArePrivateWhateverTheUmask)
{
    p11->C_Finalize(nullptr);
    fs::remove_all(root.Root() / "tokens");
    const mode_t previous = umask(022);
    EXPECT_EQ(RunTool("reader add " + kReader), 0);
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    CreateData(session, "private-files");
    umask(previous);
    EXPECT_EQ(Mode(root.Root() / "tokens"), 0700);
    for (const char* suffix : { "", "-wal", "-shm" }) {
        EXPECT_EQ(Mode(State().string() + suffix), 0600) << "state" << suffix;
    }
}

TEST_F(Hardening, DestroyedValuesAreWipedFromTheState)
{
    InsertInitializedToken();
    const std::string secret = "WIPE-ME-0123456789-WIPE-ME";
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    const CK_OBJECT_HANDLE object = CreateData(session, secret);
    // Closing the last connection moves the log into the state file itself.
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    ASSERT_NE(ReadState().find(secret), std::string::npos);

    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    ASSERT_EQ(p11->C_DestroyObject(session, object), CKR_OK);
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(ReadState().find(secret), std::string::npos);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
}

} // namespace
