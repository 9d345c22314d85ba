// Faults found by attacking the software token: its files, hostile states
// and inputs, and arguments the module must refuse before using them.
#include "TokenModuleFixture.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A PIN at the very end of readable memory: reading one byte past what the
// caller really holds faults.
class GuardedPin final {
public:
    explicit GuardedPin(const std::string& pin)
    {
        m_page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        m_base = static_cast<unsigned char*>(
            mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(m_base + m_page, m_page, PROT_NONE);
        m_pin = m_base + m_page - pin.size();
        std::copy(pin.begin(), pin.end(), m_pin);
    }
    ~GuardedPin() { munmap(m_base, 2 * m_page); }
    GuardedPin(const GuardedPin&) = delete;
    GuardedPin& operator=(const GuardedPin&) = delete;
    unsigned char* Pin() const { return m_pin; }

private:
    size_t m_page = 0;
    unsigned char* m_base = nullptr;
    unsigned char* m_pin = nullptr;
};

TEST_F(Hardening, PinLengthsPastAnyLimitAreRefusedBeforeThePinIsRead)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const GuardedPin guarded("1234");
    unsigned char* pin = guarded.Pin();
    constexpr CK_ULONG kLie = 4096;
    CK_BYTE good[] = "1234";
    CK_UTF8CHAR label[32];
    std::fill(std::begin(label), std::end(label), ' ');
    // Before any session: re-initializing needs none open.
    EXPECT_EQ(p11->C_InitToken(0, pin, kLie, label), CKR_PIN_INCORRECT);

    const CK_SESSION_HANDLE session = Open();
    const struct {
        const char* call;
        std::function<CK_RV()> run;
        CK_RV expected;
    } cases[] = {
        { "C_Login", [&] { return p11->C_Login(session, CKU_USER, pin, kLie); }, CKR_PIN_INCORRECT },
        { "C_NRV_Login", [&] { return p11->C_NRV_Login(session, CKU_USER, pin, kLie); }, CKR_PIN_LEN_RANGE },
        { "C_SetPIN new", [&] { return p11->C_SetPIN(session, good, 4, pin, kLie); }, CKR_PIN_LEN_RANGE },
        { "C_SetPIN old", [&] { return p11->C_SetPIN(session, pin, kLie, good, 4); }, CKR_PIN_INCORRECT },
    };
    for (const auto& [call, run, expected] : cases) {
        EXPECT_EQ(run(), expected) << call;
    }
    EXPECT_NE(p11->C_NRV_UnblockUserPIN(session, pin, kLie, good, 4), CKR_OK);
    ASSERT_EQ(Login(session, CKU_SO, "87654321"), CKR_OK);
    EXPECT_EQ(p11->C_InitPIN(session, pin, kLie), CKR_PIN_LEN_RANGE);
}

// What a damaged or tampered state can hold: each value past what the module
// ever writes is a device error where it is read, and never lands in a
// caller's buffer.
TEST_F(Hardening, OutOfContractStateValuesAreDamageNotMemoryErrors)
{
    const std::string serial = InsertInitializedToken();
    p11->C_Finalize(nullptr);
    const std::string longText(200, 'Z');
    const struct {
        std::string sql;
        std::function<CK_RV()> call;
    } cases[] = {
        { "UPDATE tokens SET serial='" + longText + "'",
            [&] {
                unsigned char buffer[256]; // room for what a damaged state once wrote
                std::memset(buffer, 0xA5, sizeof buffer);
                const CK_RV rv = p11->C_NRV_GetSerialNumber(0, buffer);
                for (size_t i = 17; i < sizeof buffer; ++i) {
                    EXPECT_EQ(buffer[i], 0xA5) << "written past the serial buffer at " << i;
                }
                return rv;
            } },
        { "UPDATE tokens SET label='" + longText + "'",
            [&] {
                CK_TOKEN_INFO info {};
                return p11->C_GetTokenInfo(0, &info);
            } },
        { "UPDATE tokens SET user_max=200",
            [&] {
                CK_TOKEN_INFO info {};
                return p11->C_GetTokenInfo(0, &info);
            } },
        { "UPDATE readers SET name='" + longText + "'",
            [&] {
                CK_SLOT_INFO info {};
                return p11->C_GetSlotInfo(0, &info);
            } },
    };
    const std::string pristine = ReadState();
    for (const auto& [sql, call] : cases) {
        {
            std::ofstream restore(State(), std::ios::binary | std::ios::trunc);
            restore << pristine;
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(State().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(db);
        CK_RV rv = p11->C_Initialize(nullptr);
        if (rv == CKR_OK) {
            rv = call();
            p11->C_Finalize(nullptr);
        }
        EXPECT_EQ(rv, CKR_DEVICE_ERROR) << sql;
    }
    std::ofstream(State(), std::ios::binary | std::ios::trunc) << pristine;
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    unsigned char buffer[17] = {};
    ASSERT_EQ(p11->C_NRV_GetSerialNumber(0, buffer), CKR_OK);
    EXPECT_EQ(reinterpret_cast<char*>(buffer), serial);
}

TEST_F(Hardening, LoadCertOpensOnlyRegularFilesOfASaneSize)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    const fs::path big = root.Temp() / "big.p12";
    fs::create_directories(root.Temp());
    std::ofstream(big).close();
    fs::resize_file(big, 1024 * 1024 + 1);
    const fs::path fifo = root.Temp() / "fifo.p12";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    for (const fs::path& path : { root.Temp(), big, fifo }) {
        std::string text = path.string();
        // On a FIFO without a writer the old open waited forever.
        auto load = std::async(std::launch::async, [&] {
            return p11->C_NRV_LoadCert(session, reinterpret_cast<CK_BYTE*>(text.data()), nullptr, 0);
        });
        if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << path << " blocked";
            close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(load.get(), NRV_CKR_FILE_OPEN_FAILED) << path;
    }
}

// Another thread's calls go on while one reads a file; the FIFO stands for
// a file that is slow to read.
TEST_F(Hardening, OtherCallsAreNotHeldUpByALoadCert)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    fs::create_directories(root.Temp());
    const fs::path fifo = root.Temp() / "slow.p12";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A writer keeps the FIFO open, so nothing blocks at open: only a read
    // would wait, and a regular file is all that gets read.
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    std::string text = fifo.string();
    auto load = std::async(std::launch::async,
        [&] { return p11->C_NRV_LoadCert(session, reinterpret_cast<CK_BYTE*>(text.data()), nullptr, 0); });
    auto info = std::async(std::launch::async, [&] {
        CK_TOKEN_INFO token {};
        return p11->C_GetTokenInfo(0, &token);
    });
    const bool answered = info.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    close(writer);
    EXPECT_TRUE(answered);
    EXPECT_EQ(info.get(), CKR_OK);
    EXPECT_EQ(load.get(), NRV_CKR_FILE_OPEN_FAILED);
}

std::string QueryState(const fs::path& state, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::string result;
    if (sqlite3_open(state.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int columns, char** values, char**) {
                for (int i = 0; i < columns; ++i) {
                    *static_cast<std::string*>(out) += values[i] != nullptr ? values[i] : "NULL";
                    *static_cast<std::string*>(out) += i + 1 < columns ? "|" : "\n";
                }
                return 0;
            },
            &result, nullptr);
    }
    sqlite3_close(db);
    return result;
}

TEST_F(Hardening, NewTokensHashTheirPinsWith600000Rounds)
{
    std::string serial;
    ASSERT_EQ(
        RunTool("token create --model VELA5-64 --label Strong --user-pin 1234 --so-pin 87654321", &serial),
        0);
    const std::string row
        = QueryState(State(), "SELECT pin_rounds, hex(user_salt), hex(user_hash) FROM tokens");
    ASSERT_EQ(row.substr(0, row.find('|')), "600000");
    const std::string saltHex = row.substr(row.find('|') + 1, row.rfind('|') - row.find('|') - 1);
    const std::string hashHex = row.substr(row.rfind('|') + 1, 64);
    std::vector<unsigned char> salt;
    for (size_t i = 0; i + 1 < saltHex.size(); i += 2) {
        salt.push_back(static_cast<unsigned char>(std::stoi(saltHex.substr(i, 2), nullptr, 16)));
    }
    unsigned char derived[32];
    ASSERT_EQ(PKCS5_PBKDF2_HMAC("1234", 4, salt.data(), static_cast<int>(salt.size()), 600000, EVP_sha256(),
                  sizeof derived, derived),
        1);
    // The state keeps a verifier of the PBKDF2 output, never the output
    // itself: that also gives the key wrapping the token key.
    static const char label[] = "vela5 PIN verifier";
    unsigned char verifier[32];
    unsigned verifierSize = 0;
    ASSERT_NE(HMAC(EVP_sha256(), derived, sizeof derived, reinterpret_cast<const unsigned char*>(label),
                  sizeof label - 1, verifier, &verifierSize),
        nullptr);
    std::string derivedHex;
    for (unsigned char byte : verifier) {
        static const char digits[] = "0123456789ABCDEF";
        derivedHex += digits[byte >> 4];
        derivedHex += digits[byte & 15];
    }
    EXPECT_EQ(derivedHex, hashHex);
}

// A state from before the per-token cost: its PINs were hashed with 4,096
// rounds, and keep working after the state is opened by this build.
TEST_F(Hardening, OldStatesKeepTheirPinCost)
{
    // A state made before sealed secrets, its token hashed with 4,096 rounds.
    fs::copy_file(
        fs::path(VELA5_TEST_DATA_DIR) / "format3-state.db", State(), fs::copy_options::overwrite_existing);
    ASSERT_EQ(QueryState(State(),
                  "ALTER TABLE tokens DROP COLUMN pin_rounds;"
                  "UPDATE meta SET value='vela5-token-state-2' WHERE key='format';"
                  "SELECT value FROM meta WHERE key='format'"),
        "vela5-token-state-2\n");
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    p11->C_Finalize(nullptr);
    EXPECT_EQ(QueryState(State(), "SELECT value FROM meta WHERE key='format'"), "vela5-token-state-4\n");
    EXPECT_EQ(QueryState(State(), "SELECT pin_rounds FROM tokens"), "4096\n");
    std::string serial;
    ASSERT_EQ(RunTool("token create --model VELA5-64 --blank", &serial), 0);
    EXPECT_EQ(QueryState(State(), "SELECT pin_rounds FROM tokens ORDER BY id DESC LIMIT 1"), "600000\n")
        << "a token made after the change gets the strong cost";
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
}

} // namespace
