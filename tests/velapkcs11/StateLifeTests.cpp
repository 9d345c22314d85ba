// The state file and the processes using it: a state removed, replaced or
// emptied under a running process, a process id reused by a later process,
// and a fork of a process using the module.
#include "TokenModuleFixture.h"

#include <cstring>
#include <fstream>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class StateLife : public TokenModule {
protected:
    fs::path State() const { return root.Root() / "tokens" / "state.db"; }
    CK_RV CreateData(CK_SESSION_HANDLE session, const std::string& value, bool onToken)
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BBOOL token = onToken ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &token, 1 },
            { CKA_VALUE, const_cast<char*>(value.data()), value.size() } };
        CK_OBJECT_HANDLE handle = 0;
        return p11->C_CreateObject(session, data, 3, &handle);
    }
    void Sql(const std::string& sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(State().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(db);
    }
    CK_ULONG Slots()
    {
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
        return count;
    }
};

TEST_F(StateLife, AStateRemovedOrReplacedUnderAProcessIsADeviceError)
{
    const struct {
        const char* name;
        void (*change)(const fs::path& state);
        CK_ULONG slotsAfter; // in the state found at the next initialization
    } cases[] = {
        { "removed", [](const fs::path& state) { fs::remove(state); }, 0 },
        { "replaced",
            [](const fs::path& state) {
                fs::copy_file(state, state.string() + ".copy");
                fs::rename(state.string() + ".copy", state);
            },
            1 },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        fs::remove_all(root.Root() / "tokens");
        ASSERT_EQ(RunTool("reader add " + kReader), 0);
        InsertInitializedToken();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        const CK_SESSION_HANDLE session = Open();
        ASSERT_EQ(CreateData(session, "before", true), CKR_OK);
        entry.change(State());

        EXPECT_EQ(CreateData(session, "into nowhere", true), CKR_DEVICE_ERROR);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_DEVICE_ERROR);
        CK_SESSION_INFO info {};
        EXPECT_EQ(p11->C_GetSessionInfo(session, &info), CKR_DEVICE_ERROR);
        EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);

        // A new start takes whatever the name holds now; the log files of the
        // removed state do not leak into a new one.
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        EXPECT_EQ(Slots(), entry.slotsAfter);
        EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    }
}

TEST_F(StateLife, AStateEmptiedToNoBytesIsDamagedAndKept)
{
    InsertInitializedToken();
    fs::resize_file(State(), 0);
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_DEVICE_ERROR);
    EXPECT_EQ(fs::file_size(State()), 0u) << "an emptied state must not be made anew";
    std::string output;
    EXPECT_EQ(RunTool("list 2>&1", &output), 1);
    EXPECT_NE(output.find("is damaged or not a token state"), std::string::npos) << output;
}

TEST_F(StateLife, ProcessesCreatingTheStateAtOnceAllGetIt)
{
    for (int round = 0; round < 4; ++round) {
        fs::remove_all(root.Root() / "tokens");
        std::vector<std::thread> writers;
        std::vector<int> status(4, -1);
        for (int i = 0; i < 4; ++i) {
            writers.emplace_back([&, i] { status[i] = RunTool("reader add R" + std::to_string(i)); });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        EXPECT_EQ(status, std::vector<int>(4, 0)) << "round " << round;
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        EXPECT_EQ(Slots(), 4u);
        p11->C_Finalize(nullptr);
        for (const auto& file : fs::directory_iterator(root.Root() / "tokens")) {
            EXPECT_EQ(file.path().filename().string().find(".new-"), std::string::npos)
                << "a creator's temporary stayed: " << file.path();
        }
    }
}

TEST_F(StateLife, AProcessGivenADeadProcesssIdInheritsNothingOfIt)
{
    InsertInitializedToken();
    // Another application creates a session object and dies holding it.
    FILE* helper = popen((std::string(VELA5_TEST_HELPER) + " abandon TOPSECRET").c_str(), "r");
    ASSERT_NE(helper, nullptr);
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, helper), nullptr);
    ASSERT_EQ(pclose(helper), 0);
    const auto abandoned = static_cast<CK_OBJECT_HANDLE>(std::stoul(line));
    ASSERT_NE(abandoned, 0u);
    // This process got the dead one's id.
    const std::string pid = std::to_string(getpid());
    Sql("UPDATE sessions SET pid=" + pid + "; UPDATE objects SET session_pid=" + pid
        + " WHERE session_pid IS NOT NULL");

    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    EXPECT_EQ(Count(session, { { CKA_CLASS, &dataClass, sizeof dataClass } }), 0u);
    char value[32] = {};
    CK_ATTRIBUTE read = { CKA_VALUE, value, sizeof value };
    EXPECT_EQ(p11->C_GetAttributeValue(session, abandoned, &read, 1), CKR_OBJECT_HANDLE_INVALID);
    CK_TOKEN_INFO info {};
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 1u) << "the dead process's session still counts";
}

TEST_F(StateLife, AForkedChildStartsWithAFreshUninitializedModule)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    ASSERT_EQ(CreateData(session, "parent's own", false), CKR_OK);

    int results[2];
    ASSERT_EQ(pipe(results), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Each step's result, in order, for the parent to check.
        CK_SESSION_INFO info {};
        CK_ULONG answers[7] = {};
        answers[0] = p11->C_GetSessionInfo(session, &info);
        answers[1] = p11->C_Finalize(nullptr);
        answers[2] = p11->C_Initialize(nullptr);
        answers[3] = p11->C_GetSessionInfo(session, &info);
        CK_SESSION_HANDLE own = 0;
        answers[4] = p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &own);
        answers[5] = p11->C_GetSessionInfo(own, &info) == CKR_OK ? info.state : 0xFFFF;
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE filter = { CKA_CLASS, &dataClass, sizeof dataClass };
        CK_ULONG found = 0xFFFF;
        if (p11->C_FindObjectsInit(own, &filter, 1) == CKR_OK) {
            p11->C_FindObjects(own, nullptr, 100, &found);
        }
        answers[6] = found;
        p11->C_Finalize(nullptr);
        (void)!write(results[1], answers, sizeof answers);
        _exit(0);
    }
    close(results[1]);
    CK_ULONG answers[7] = {};
    ASSERT_EQ(read(results[0], answers, sizeof answers), static_cast<ssize_t>(sizeof answers));
    close(results[0]);
    int status = 0;
    waitpid(child, &status, 0);
    const struct {
        const char* step;
        CK_ULONG expected;
    } steps[] = {
        { "the parent's session before C_Initialize", CKR_CRYPTOKI_NOT_INITIALIZED },
        { "C_Finalize before C_Initialize", CKR_CRYPTOKI_NOT_INITIALIZED },
        { "C_Initialize", CKR_OK },
        { "the parent's session", CKR_SESSION_HANDLE_INVALID },
        { "C_OpenSession", CKR_OK },
        { "its own session's state: not logged in", CKS_RW_PUBLIC_SESSION },
        { "data objects it sees: not the parent's session object", 0 },
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(answers[i], steps[i].expected) << steps[i].step;
    }
    // The child's work and its end leave the parent's session and login as
    // they were.
    CK_SESSION_INFO info {};
    ASSERT_EQ(p11->C_GetSessionInfo(session, &info), CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    EXPECT_EQ(Count(session, { { CKA_CLASS, &dataClass, sizeof dataClass } }), 1u);
}

} // namespace
