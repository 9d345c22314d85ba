// The user's "MY" store: adding with each disposition, finding by public
// key, deleting, entries kept across processes, damaged entries skipped, and
// writers in two processes at once losing nothing.
#include "platform/certstore/Store.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TestCertificates.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace vela5::platform::CertStore;

namespace {

class MyStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Store::OpenSystem("MY", store), Success); }

    Certificate Make(const std::string& subject, long serial, const TestKey& key)
    {
        TestCertificateFields fields;
        fields.subject = subject;
        fields.serial = serial;
        const std::vector<uint8_t> der = MakeCertificate(fields, key);
        Certificate certificate;
        EXPECT_EQ(Certificate::Create(der.data(), der.size(), certificate), Success);
        return certificate;
    }
    Certificate Make(const std::string& subject, long serial = 1) { return Make(subject, serial, key); }

    std::vector<std::string> Thumbprints(std::vector<DamagedEntry>* damaged = nullptr)
    {
        std::vector<Certificate> all;
        EXPECT_EQ(store.Enumerate(all, damaged), Success);
        std::vector<std::string> thumbprints;
        for (const Certificate& certificate : all) {
            thumbprints.push_back(certificate.Thumbprint());
        }
        return thumbprints;
    }

    static KeyProvInfo Record(const std::string& container)
    {
        return KeyProvInfo { container, "Nurvon CSP v4.0", kProvRsaFull, 0, kAtKeyExchange };
    }

    // Runs body in a child process; its exit status, 0 when body held.
    template <typename Body> int InChild(Body body)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            _exit(body() ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ScopedTestRoot root;
    TestKey key = MakeRsaKey();
    Store store;
};

} // namespace

TEST_F(MyStore, OpensOnlyPlainNamesAndKeepsThemUnderTheRoot)
{
    EXPECT_EQ(store.Folder(), root.Root() / "certstore" / "MY");
    Store other;
    EXPECT_EQ(Store::OpenSystem("my", other), Success);
    EXPECT_EQ(other.Folder(), store.Folder()) << "store names ignore case";
    for (const char* bad : { "", "../MY", "M/Y", "MY.old" }) {
        EXPECT_EQ(Store::OpenSystem(bad, other), InvalidParameter) << bad;
    }
    EXPECT_EQ(Store().Add(Make("/CN=A"), AddReplaceExisting), InvalidParameter) << "a store never opened";
}

TEST_F(MyStore, AddEnumerateFindDelete)
{
    const Certificate a = Make("/CN=A", 1);
    const Certificate b = Make("/CN=B", 2);
    ASSERT_EQ(store.Add(a, AddReplaceExisting), Success);
    ASSERT_EQ(store.Add(b, AddReplaceExisting), Success);
    std::vector<std::string> expected = { a.Thumbprint(), b.Thumbprint() };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Thumbprints(), expected);

    Certificate found;
    std::string lower = b.Thumbprint();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    ASSERT_EQ(store.FindByThumbprint(lower.substr(0, 2) + ":" + lower.substr(2), found), Success);
    EXPECT_EQ(found.Encoded(), b.Encoded());

    ASSERT_EQ(store.Delete(a), Success);
    EXPECT_EQ(Thumbprints(), std::vector<std::string> { b.Thumbprint() });
    EXPECT_EQ(store.Delete(a), NotFound);
    EXPECT_EQ(store.FindByThumbprint(a.Thumbprint(), found), NotFound);
    EXPECT_EQ(store.FindByThumbprint("not hex", found), InvalidParameter);
}

TEST_F(MyStore, DispositionsDecideWhoseCopyStays)
{
    Certificate first = Make("/CN=Same");
    first.SetKeyProvInfo(Record("first"));
    Certificate second = Make("/CN=Same");
    second.SetKeyProvInfo(Record("second"));
    ASSERT_EQ(first.Thumbprint(), second.Thumbprint());

    const auto storedContainer = [&] {
        Certificate stored;
        KeyProvInfo info;
        EXPECT_EQ(store.FindByThumbprint(first.Thumbprint(), stored), Success);
        EXPECT_TRUE(stored.GetKeyProvInfo(info));
        return info.containerName;
    };
    ASSERT_EQ(store.Add(first, AddNew), Success);
    EXPECT_EQ(store.Add(second, AddNew), Exists);
    EXPECT_EQ(storedContainer(), "first");
    EXPECT_EQ(store.Add(second, AddUseExisting), Success);
    EXPECT_EQ(storedContainer(), "first");
    EXPECT_EQ(store.Add(second, AddReplaceExisting), Success);
    EXPECT_EQ(storedContainer(), "second");
    EXPECT_EQ(Thumbprints().size(), 1u) << "the same certificate is one entry";
    EXPECT_EQ(store.Add(second, static_cast<AddDisposition>(4)), InvalidParameter);
    EXPECT_EQ(store.Add(Certificate(), AddReplaceExisting), InvalidParameter);
}

TEST_F(MyStore, FindByPublicKeyMatchesTheKeyNotTheCertificate)
{
    const TestKey tokenKey = MakeRsaKey();
    const Certificate unrelated = Make("/CN=Unrelated", 1);
    const Certificate madeElsewhere = Make("/CN=Other Program", 7, tokenKey);
    ASSERT_EQ(store.Add(unrelated, AddReplaceExisting), Success);
    ASSERT_EQ(store.Add(madeElsewhere, AddReplaceExisting), Success);

    const Certificate onToken = Make("/CN=On Token", 9, tokenKey);
    Certificate found;
    ASSERT_EQ(store.FindByPublicKey(onToken, found), Success);
    EXPECT_EQ(found.Thumbprint(), madeElsewhere.Thumbprint());
    EXPECT_EQ(store.FindByPublicKey(Make("/CN=New", 3, MakeRsaKey()), found), NotFound);
}

TEST_F(MyStore, EntriesAndTheirPropertiesOutliveTheWritingProcess)
{
    const Certificate certificate = Make("/CN=Propagated");
    const int status = InChild([&] {
        Store child;
        Certificate copy = certificate;
        copy.SetKeyProvInfo(Record("\\\\.\\VELA5 Reader 0\\0A0B"));
        copy.SetKeySpec(kAtKeyExchange);
        return Store::OpenSystem("MY", child) == Success && child.Add(copy, AddReplaceExisting) == Success;
    });
    ASSERT_EQ(status, 0);

    Certificate stored;
    ASSERT_EQ(store.FindByPublicKey(certificate, stored), Success);
    KeyProvInfo info;
    ASSERT_TRUE(stored.GetKeyProvInfo(info));
    EXPECT_EQ(info, Record("\\\\.\\VELA5 Reader 0\\0A0B"));
    uint32_t keySpec = 0;
    ASSERT_TRUE(stored.GetKeySpec(keySpec));
    EXPECT_EQ(keySpec, kAtKeyExchange);
    EXPECT_FALSE(certificate.GetKeySpec(keySpec)) << "the caller's context is not changed by adding a copy";
}

TEST_F(MyStore, DamagedEntriesAreSkippedAndReportedOthersStay)
{
    Certificate good = Make("/CN=Good", 1);
    good.SetKeySpec(kAtSignature);
    ASSERT_EQ(store.Add(good, AddReplaceExisting), Success);
    const Certificate victim = Make("/CN=Victim", 2, MakeRsaKey());
    const std::vector<uint8_t> entry = Store::EntryBytes(victim);

    std::vector<uint8_t> badDer = entry;
    badDer[badDer.size() - victim.Encoded().size() + 4] ^= 0xFF; // inside the certificate
    std::vector<uint8_t> trailing = entry;
    trailing.push_back(0);
    const std::string text = "not an entry at all, just text in the store";
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string name;
        const char* reason;
    } cases[] = {
        { "truncated", std::vector<uint8_t>(entry.begin(), entry.begin() + entry.size() / 2),
            victim.Thumbprint(), "truncated" },
        { "a few bytes", std::vector<uint8_t>(entry.begin(), entry.begin() + 3), victim.Thumbprint(),
            "truncated" },
        { "not an entry", std::vector<uint8_t>(text.begin(), text.end()), victim.Thumbprint(),
            "not a certificate store entry" },
        { "not DER", badDer, victim.Thumbprint(), "not a DER certificate OpenSSL accepts" },
        { "trailing bytes", trailing, victim.Thumbprint(), "bytes after the certificate" },
        { "renamed", entry, std::string(40, 'A'), "the file name is not the certificate's thumbprint" },
        { "stray file", entry, "notes.txt", "not named by a thumbprint" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = store.Folder() / c.name;
        WriteBytes(file, c.bytes);
        std::vector<DamagedEntry> damaged;
        EXPECT_EQ(Thumbprints(&damaged), std::vector<std::string> { good.Thumbprint() });
        ASSERT_EQ(damaged.size(), 1u);
        EXPECT_EQ(damaged[0].file, file);
        EXPECT_NE(damaged[0].reason.find(c.reason), std::string::npos) << damaged[0].reason;
        Certificate found;
        EXPECT_EQ(store.FindByPublicKey(victim, found), NotFound);
        std::filesystem::remove(file);
    }
    // A file being written (hidden) is neither listed nor damage.
    WriteBytes(store.Folder() / ("." + victim.Thumbprint() + ".Ab12Cd"), entry);
    std::vector<DamagedEntry> damaged;
    EXPECT_EQ(Thumbprints(&damaged).size(), 1u);
    EXPECT_TRUE(damaged.empty());

    // A damaged entry is no certificate: adding the real one replaces it,
    // and it can be deleted by its name.
    WriteBytes(store.Folder() / victim.Thumbprint(), cases[0].bytes);
    ASSERT_EQ(store.Add(victim, AddNew), Success);
    EXPECT_EQ(Thumbprints().size(), 2u);
    WriteBytes(store.Folder() / victim.Thumbprint(), cases[0].bytes);
    EXPECT_EQ(store.DeleteByThumbprint(victim.Thumbprint()), Success);
    uint32_t keySpec = 0;
    Certificate stored;
    ASSERT_EQ(store.FindByThumbprint(good.Thumbprint(), stored), Success);
    EXPECT_TRUE(stored.GetKeySpec(keySpec) && keySpec == kAtSignature)
        << "the good entry kept its properties";
}

// Two processes add, replace and delete in one store at once while this one
// keeps reading it: every read sees whole entries, and at the end exactly
// the certificates each writer left are there.
TEST_F(MyStore, TwoWritingProcessesLoseNothing)
{
    constexpr int kRounds = 150;
    std::vector<Certificate> own[2];
    for (int writer = 0; writer < 2; ++writer) {
        for (int round = 0; round < kRounds; ++round) {
            own[writer].push_back(Make("/CN=Writer " + std::to_string(writer), 1000 * (writer + 1) + round));
        }
    }
    const Certificate shared = Make("/CN=Shared", 1);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t writers[2];
    for (int writer = 0; writer < 2; ++writer) {
        writers[writer] = fork();
        if (writers[writer] == 0) {
            close(ready[1]);
            char go = 0;
            const bool started = read(ready[0], &go, 1) == 1;
            Store mine;
            bool ok = started && Store::OpenSystem("MY", mine) == Success;
            Certificate sharedCopy = shared;
            sharedCopy.SetKeyProvInfo(Record("writer " + std::to_string(writer)));
            for (int round = 0; ok && round < kRounds; ++round) {
                ok = mine.Add(own[writer][round], AddReplaceExisting) == Success
                    && mine.Add(sharedCopy, AddReplaceExisting) == Success;
                if (ok && round % 2 == 1) {
                    ok = mine.Delete(own[writer][round - 1]) == Success;
                }
            }
            _exit(ok ? 0 : 1);
        }
    }
    close(ready[0]);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(write(ready[1], "gg", 2), 2);
    close(ready[1]);

    int reads = 0;
    int running = 2;
    int statuses[2] = { -1, -1 };
    while (running > 0) {
        std::vector<DamagedEntry> damaged;
        Thumbprints(&damaged);
        ++reads;
        ASSERT_TRUE(damaged.empty()) << damaged[0].file << ": " << damaged[0].reason;
        for (int writer = 0; writer < 2; ++writer) {
            int status = 0;
            if (statuses[writer] == -1 && waitpid(writers[writer], &status, WNOHANG) == writers[writer]) {
                statuses[writer] = WIFEXITED(status) ? WEXITSTATUS(status) : 99;
                --running;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("writer_seconds", std::to_string(seconds));
    RecordProperty("reads", reads);
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);

    std::vector<std::string> expected = { shared.Thumbprint() };
    for (int writer = 0; writer < 2; ++writer) {
        for (int round = 1; round < kRounds; round += 2) {
            expected.push_back(own[writer][round].Thumbprint());
        }
    }
    std::sort(expected.begin(), expected.end());
    std::vector<DamagedEntry> damaged;
    EXPECT_EQ(Thumbprints(&damaged), expected);
    EXPECT_TRUE(damaged.empty());
    Certificate stored;
    KeyProvInfo info;
    ASSERT_EQ(store.FindByThumbprint(shared.Thumbprint(), stored), Success);
    ASSERT_TRUE(stored.GetKeyProvInfo(info));
    EXPECT_TRUE(info.containerName == "writer 0" || info.containerName == "writer 1") << info.containerName;
    std::cout << "two writers: " << seconds << " s, " << reads << " whole reads meanwhile\n";
}
