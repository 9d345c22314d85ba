// Pairing certificates with keys, the tree's items and the manager's rules.
#include "manager/objects/CertificateListing.h"
#include "manager/objects/CertificateManagerRules.h"

#include <gtest/gtest.h>

namespace {

KeyEntry Key(std::vector<uint8_t> id, CK_BYTE index, CK_BYTE pair)
{
    KeyEntry key;
    key.id = std::move(id);
    key.keyIndex = index;
    key.pairIndex = pair;
    return key;
}

CertificateEntry Certificate(std::vector<uint8_t> id, const char* subject = "Alice")
{
    CertificateEntry certificate;
    certificate.id = std::move(id);
    certificate.subjectName = subject;
    certificate.issuerName = "Acme CA";
    return certificate;
}

} // namespace

TEST(CertificateListing, PairingRules)
{
    const struct {
        const char* name;
        std::vector<KeyEntry> privateKeys;
        std::vector<KeyEntry> publicKeys;
        std::vector<uint8_t> certificateId;
        bool hasPrivate;
        bool hasPublic;
        // Which keys end paired, in table order.
        std::vector<bool> privatePaired;
        std::vector<bool> publicPaired;
    } cases[] = {
        { "both halves by ID", { Key({ 1 }, 1, 1) }, { Key({ 1 }, 1, 1) }, { 1 }, true, true, { true },
            { true } },
        { "only the first of two private keys with the ID", { Key({ 1 }, 1, 1), Key({ 1 }, 2, 0) },
            { Key({ 1 }, 1, 1) }, { 1 }, true, true, { true, false }, { true } },
        { "the public half follows the private key's pair index", { Key({ 1 }, 3, 4) },
            { Key({ 9 }, 2, 0), Key({ 9 }, 4, 3) }, { 1 }, true, true, { true }, { false, true } },
        { "the private half follows the public key's pair index", { Key({ 7 }, 5, 6) }, { Key({ 1 }, 6, 5) },
            { 1 }, true, true, { true }, { true } },
        { "a pair index of 0 brings nothing", { Key({ 1 }, 3, 0) }, { Key({ 9 }, 0, 0) }, { 1 }, true, false,
            { true }, { false } },
        { "IDs must match in length too", { Key({ 1, 0 }, 1, 0) }, {}, { 1 }, false, false, { false }, {} },
        { "no keys at all", {}, {}, { 1 }, false, false, {}, {} },
    };
    for (const auto& c : cases) {
        std::vector<KeyEntry> privateKeys = c.privateKeys;
        std::vector<KeyEntry> publicKeys = c.publicKeys;
        CertificateEntry certificate = Certificate(c.certificateId);
        PairCertificate(certificate, privateKeys, publicKeys);
        EXPECT_EQ(certificate.hasPrivateKey, c.hasPrivate) << c.name;
        EXPECT_EQ(certificate.hasPublicKey, c.hasPublic) << c.name;
        for (size_t i = 0; i < privateKeys.size(); ++i) {
            EXPECT_EQ(privateKeys[i].paired, c.privatePaired[i]) << c.name << ": private key " << i;
        }
        for (size_t i = 0; i < publicKeys.size(); ++i) {
            EXPECT_EQ(publicKeys[i].paired, c.publicPaired[i]) << c.name << ": public key " << i;
        }
    }
}

TEST(CertificateListing, TreeListsCertificatesThenUnpairedKeysInterleaved)
{
    CertificateTables tables;
    tables.privateKeys = { Key({ 1 }, 1, 1), Key({ 1 }, 2, 0), Key({}, 3, 0) };
    tables.publicKeys = { Key({ 1 }, 1, 1), Key({ 0xAB, 0x00 }, 4, 0) };
    tables.certificates = { Certificate({ 1 }), Certificate({ 5 }, "Bob") };
    tables.certificates[1].logonDefault = 1;
    for (CertificateEntry& certificate : tables.certificates) {
        PairCertificate(certificate, tables.privateKeys, tables.publicKeys);
    }
    const std::vector<CertificateTreeItem> items = BuildCertificateTree(tables);
    const std::vector<wxString> labels = { "Alice [Acme CA]", "Bob [Acme CA] - Default", "Private Key [01]",
        "Public Key [AB]", "Private Key (03)" };
    ASSERT_EQ(items.size(), labels.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].label, labels[i]) << i;
    }
    EXPECT_EQ(items[0].children, (std::vector<wxString> { "Public Key", "Private Key" }));
    EXPECT_TRUE(items[1].children.empty());
    EXPECT_EQ(items[2].kind, CertificateTreeItem::Kind::PrivateKey);
    EXPECT_EQ(items[2].index, 1u);
    EXPECT_EQ(items[3].kind, CertificateTreeItem::Kind::PublicKey);
}

TEST(CertificateManagerRules, CountMessages)
{
    using CertificateManagerRules::CountMessage;
    const struct {
        size_t certificates;
        size_t keys;
        const char* message;
    } cases[] = {
        { 1, 2, "There is only 1 certificate found in the token." },
        { 3, 0, "There are 3 certificates found in the token." },
        { 0, 1, "There is only 1 key found in the token." },
        { 0, 4, "There are 4 keys found in the token." },
        { 0, 0, "There is no certificate found in the token." },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CountMessage(c.certificates, c.keys), c.message);
    }
}

TEST(CertificateManagerRules, ExportFileNameReplacesWhatAFileNameCannotHold)
{
    EXPECT_EQ(CertificateManagerRules::ExportFileName("A/B"), "A B.cer");
    EXPECT_EQ(CertificateManagerRules::ExportFileName("a\"b:c*d\\e<f>g?h|i"), "a b c d e f g h i.cer");
    EXPECT_EQ(CertificateManagerRules::ExportFileName("Alice Example"), "Alice Example.cer");
}

TEST(CertificateManagerRules, Buttons)
{
    using namespace CertificateManagerRules;
    Selection certificate;
    certificate.isCertificate = true;
    certificate.hasBothKeys = true;
    Selection defaultCertificate = certificate;
    defaultCertificate.isDefault = true;
    Selection halfPaired = certificate;
    halfPaired.hasBothKeys = false;
    Selection rootKey;
    rootKey.isRootKey = true;
    const Selection child;

    const struct {
        const char* name;
        ButtonStates states;
        bool view, exportCertificate, remove, removeAll, setAsDefault;
    } cases[] = {
        { "certificate with both keys", ForSelection(certificate), true, true, true, true, true },
        { "default certificate", ForSelection(defaultCertificate), true, true, true, true, false },
        { "certificate missing a key", ForSelection(halfPaired), true, true, true, true, false },
        { "a key on its own", ForSelection(rootKey), false, false, true, true, false },
        { "a certificate's key", ForSelection(child), false, false, false, true, false },
        { "after an operation on a certificate", AfterOperation(certificate, true, 1, 2), true, true, true,
            true, true },
        { "after an operation, last selection a key", AfterOperation(rootKey, false, 1, 2), false, false,
            false, true, false },
        { "no certificate, one key", AfterOperation(rootKey, true, 0, 1), true, true, true, true, false },
        { "an empty token", AfterOperation({}, true, 0, 0), false, false, false, false, false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.states.view, c.view) << c.name;
        EXPECT_EQ(c.states.exportCertificate, c.exportCertificate) << c.name;
        EXPECT_EQ(c.states.remove, c.remove) << c.name;
        EXPECT_EQ(c.states.removeAll, c.removeAll) << c.name;
        EXPECT_EQ(c.states.setAsDefault, c.setAsDefault) << c.name;
        EXPECT_TRUE(c.states.tree) << c.name;
    }
}
