// Provider and key properties through the router: every name of both
// tables with its size and value, length queries and short buffers, the
// flag rules, what may be written when, and the certificate stored beside
// its key pair.
#include "KeyCreationFixture.h"
#include "platform/cng/WideText.h"
#include "tests/support/TestCertificates.h"

#include <cstring>

using namespace vela5::platform;

namespace {

Bytes Dword(DWORD value)
{
    Bytes bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

Bytes Text(const std::u16string& text)
{
    Bytes bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

} // namespace

using PropertyTest = KeyCreationTest;

TEST_F(PropertyTest, ProviderPropertiesAnswerTheirTable)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    const struct {
        const char16_t* name;
        Bytes value;
    } cases[] = {
        { u"Impl Type", Dword(0x19) },
        { u"Max Name Length", Dword(64) },
        { u"Name", Text(u"Nurvon KSP v1.0") },
        { u"Version", Dword(0x01000100) },
        { u"Security Descr Support", Dword(0) },
    };
    for (const auto& c : cases) {
        const std::string name = Cng::Narrow(c.name);
        DWORD size = 99;
        EXPECT_EQ(Table().GetProviderProperty(provider, c.name, nullptr, 0, &size, 0), ERROR_SUCCESS) << name;
        EXPECT_EQ(size, c.value.size()) << name;
        Bytes out(c.value.size() + 4, 0xEE);
        size = 0;
        EXPECT_EQ(Table().GetProviderProperty(provider, c.name, out.data(), static_cast<DWORD>(out.size()),
                      &size, NCRYPT_SILENT_FLAG),
            ERROR_SUCCESS)
            << name;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + size), c.value) << name;
        size = 0;
        EXPECT_EQ(Table().GetProviderProperty(
                      provider, c.name, out.data(), static_cast<DWORD>(c.value.size() - 1), &size, 0),
            NTE_BUFFER_TOO_SMALL)
            << name;
        EXPECT_EQ(size, c.value.size()) << name;
        // Read-only, all of them.
        EXPECT_EQ(Table().SetProviderProperty(provider, c.name, out.data(), 4, 0), NTE_NOT_SUPPORTED) << name;
    }
    EXPECT_TRUE(Contains(NewLog(), "NTE_NOT_SUPPORTED: The specified property is read-only"));
    EXPECT_TRUE(Contains(NewLog(), "pbOutput is NULL, property length query succeeded."));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(PropertyTest, ProviderPropertyChecksAndWritableProperties)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    DWORD size = 7;
    BYTE out[256] = {};
    const std::u16string tooLong(65, u'x');
    const struct {
        const char16_t* name;
        DWORD* result;
        DWORD flags;
        SECURITY_STATUS expected;
        const char* line;
    } gets[] = {
        { nullptr, &size, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProperty is NULL" },
        { u"Version", nullptr, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL" },
        { tooLong.c_str(), &size, 0, NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: pszProperty length is greater than NCRYPT_MAX_PROPERTY_NAME" },
        { u"Version", &size, NCRYPT_SILENT_FLAG | 1, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG is an acceptable value" },
        { u"version", &size, 0, NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszProperty is not supported" },
        { u"HWND Handle", &size, 0, NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszProperty is not supported" },
    };
    for (const auto& c : gets) {
        size = 7;
        EXPECT_EQ(
            Table().GetProviderProperty(provider, c.name, out, sizeof out, c.result, c.flags), c.expected)
            << c.line;
        EXPECT_TRUE(Contains(NewLog(), c.line)) << c.line;
        EXPECT_EQ(size, c.result != nullptr ? 0U : 7U) << c.line;
    }
    // "Use Context": nothing until it is set; the copy always ends.
    EXPECT_EQ(
        Table().GetProviderProperty(provider, u"Use Context", out, sizeof out, &size, 0), NTE_INTERNAL_ERROR);
    EXPECT_EQ(size, 0U);
    char16_t context[] = { u'A', u'p', u'p' }; // no terminator
    EXPECT_EQ(Table().SetProviderProperty(provider, u"Use Context", reinterpret_cast<PBYTE>(context), 6, 0),
        ERROR_SUCCESS);
    EXPECT_EQ(
        Table().GetProviderProperty(provider, u"Use Context", out, sizeof out, &size, 0), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(out, out + size), Text(u"App"));
    // "HWND Handle": only the bytes given change.
    auto* record = reinterpret_cast<ProviderContext*>(provider);
    record->hWnd = reinterpret_cast<HWND>(0x1111111122222222ULL);
    std::uint32_t low = 0x33333333;
    EXPECT_EQ(Table().SetProviderProperty(provider, u"HWND Handle", reinterpret_cast<PBYTE>(&low), 4, 0),
        ERROR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<std::uint64_t>(record->hWnd), 0x1111111133333333ULL);
    BYTE nine[9] = {};
    EXPECT_EQ(Table().SetProviderProperty(provider, u"HWND Handle", nine, 9, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().SetProviderProperty(provider, u"Use Context", nine, 2, 0x40000000), NTE_NOT_SUPPORTED);
    EXPECT_EQ(Table().SetProviderProperty(provider, u"Use Context", nine, 2, 0x1), NTE_BAD_FLAGS);
    EXPECT_EQ(Table().SetProviderProperty(provider, u"Use Context", nullptr, 2, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().SetProviderProperty(provider, u"Unknown", nine, 2, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(PropertyTest, KeyPropertiesAnswerTheirTable)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", u"Props", 0, 0), ERROR_SUCCESS);
    Bytes lengths;
    for (const DWORD value : { 512U, 4096U, 512U, 2048U }) {
        const Bytes part = Dword(value);
        lengths.insert(lengths.end(), part.begin(), part.end());
    }
    const struct {
        const char16_t* name;
        Bytes value;
        const char* line;
    } cases[] = {
        { u"Algorithm Name", Text(u"RSA"), "dwProperty = VELA5KSP_ALGORITHM_PROPERTY" },
        { u"Algorithm Group", Text(u"RSA"), "dwProperty = VELA5KSP_ALGORITHM_GROUP_PROPERTY" },
        { u"Block Length", Dword(256), "dwProperty = VELA5KSP_BLOCK_LENGTH_PROPERTY" },
        { u"Export Policy", Dword(2), "dwProperty = VELA5KSP_EXPORT_POLICY_PROPERTY" },
        { u"Key Usage", Dword(3), "dwProperty = VELA5KSP_KEY_USAGE_PROPERTY" },
        { u"Key Type", Dword(0), "dwProperty = VELA5KSP_KEY_TYPE_PROPERTY" },
        { u"Length", Dword(2048), "dwProperty = VELA5KSP_LENGTH_PROPERTY" },
        { u"Lengths", lengths, "dwProperty = VELA5KSP_LENGTHS_PROPERTY" },
        { u"Name", Text(u"Props"), "dwProperty = VELA5KSP_NAME_PROPERTY" },
        { u"Unique Name", Text(u"Props"), "dwProperty = VELA5KSP_UNIQUE_NAME_PROPERTY" },
    };
    for (const auto& c : cases) {
        const std::string name = Cng::Narrow(c.name);
        DWORD size = 0;
        EXPECT_EQ(Table().GetKeyProperty(provider, key, c.name, nullptr, 0, &size, 0), ERROR_SUCCESS) << name;
        EXPECT_EQ(size, c.value.size()) << name;
        Bytes out(c.value.size());
        EXPECT_EQ(Table().GetKeyProperty(
                      provider, key, c.name, out.data(), static_cast<DWORD>(out.size() - 1), &size, 0),
            NTE_BUFFER_TOO_SMALL)
            << name;
        EXPECT_EQ(size, c.value.size()) << name;
        // Flags other than the persist-only one are not looked at.
        EXPECT_EQ(Table().GetKeyProperty(provider, key, c.name, out.data(), static_cast<DWORD>(out.size()),
                      &size, NCRYPT_SILENT_FLAG),
            ERROR_SUCCESS)
            << name;
        EXPECT_EQ(out, c.value) << name;
        EXPECT_TRUE(Contains(NewLog(), c.line)) << name;
        EXPECT_EQ(Table().GetKeyProperty(
                      provider, key, c.name, out.data(), static_cast<DWORD>(out.size()), &size, 0x40000000),
            NTE_NOT_SUPPORTED)
            << name;
    }
    for (const char16_t* unreadable :
        { u"Security Descr", u"SmartCardKeyCertificate", u"UI Policy", u"name" }) {
        DWORD size = 5;
        EXPECT_EQ(Table().GetKeyProperty(provider, key, unreadable, nullptr, 0, &size, 0), NTE_NOT_SUPPORTED)
            << Cng::Narrow(unreadable);
        EXPECT_EQ(size, 0U);
    }
    Table().FreeKey(provider, key);
    // A key without a name has neither name property.
    ASSERT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", nullptr, 0, 0), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(Table().GetKeyProperty(provider, key, u"Name", nullptr, 0, &size, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(Table().GetKeyProperty(provider, key, u"Unique Name", nullptr, 0, &size, 0), NTE_NOT_SUPPORTED);
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(PropertyTest, KeyPropertyWritesFollowTheirRules)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", u"Rules", 0, 0), ERROR_SUCCESS);
    auto set = [&](const char16_t* name, Bytes value, DWORD flags = 0) {
        return Table().SetKeyProperty(
            provider, key, name, value.data(), static_cast<DWORD>(value.size()), flags);
    };
    auto blockLength = [&] {
        DWORD value = 0;
        DWORD size = 0;
        Table().GetKeyProperty(provider, key, u"Block Length", reinterpret_cast<PBYTE>(&value), 4, &size, 0);
        return value;
    };
    const struct {
        const char16_t* name;
        Bytes value;
        DWORD flags;
        SECURITY_STATUS expected;
        const char* line;
    } cases[] = {
        { u"Length", Dword(1000), 0, NTE_NOT_SUPPORTED, "specified length is invalid" },
        { u"Length", Dword(4608), 0, NTE_NOT_SUPPORTED, "specified length is invalid" },
        { u"Length", Bytes(2), 0, NTE_BAD_DATA, "cbInput != sizeof(DWORD)" },
        { u"Key Usage", Bytes(8), 0, NTE_BAD_DATA, "cbInput != sizeof(DWORD)" },
        { u"Length", Dword(1536), NCRYPT_SILENT_FLAG, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: dwFlags contains an invalid flag" },
        { u"Name", Bytes(128, 'a'), 0, NTE_BAD_DATA, "cbInput >= (VELA5KSP_MAX_NAME_LEN*sizeof(WCHAR))" },
        { u"Name", Bytes(5, 'a'), 0, NTE_BAD_DATA, "(cbInput % 2)" },
        { u"Security Descr", Bytes(4), NCRYPT_SILENT_FLAG, NTE_NOT_SUPPORTED, nullptr },
        { u"Algorithm Name", Text(u"DSA"), 0, NTE_NOT_SUPPORTED, nullptr },
        { u"Length", Dword(1536), 0x80000000, ERROR_SUCCESS, "dwProperty = NCRYPT_LENGTH_PROPERTY" },
        { u"Key Usage", Dword(1), 0, ERROR_SUCCESS, "dwProperty = NCRYPT_KEY_USAGE_PROPERTY" },
        { u"UI Policy", Bytes(4), 0, ERROR_SUCCESS, "NCRYPT_UI_POLICY is not supported and will be ignored" },
        { u"Export Policy", Dword(0), 0, ERROR_SUCCESS,
            "NCRYPT_EXPORT_POLICY_PROPERTY is not supported and will be ignored" },
    };
    for (const auto& c : cases) {
        const std::string what = Cng::Narrow(c.name);
        EXPECT_EQ(set(c.name, c.value, c.flags), c.expected) << what;
        if (c.line != nullptr) {
            EXPECT_TRUE(Contains(LastCall(NewLog(), "VELA5KSPSetKeyProperty"), c.line)) << what;
        }
    }
    EXPECT_EQ(blockLength(), 192U);
    EXPECT_EQ(Record(key).dwKeyUsage, 1U);
    EXPECT_EQ(Record(key).dwExportPolicy, 2U);
    // 63 characters are a name; the key is renamed after finalizing too.
    const std::u16string renamed(63, u'R');
    Bytes name(126);
    std::memcpy(name.data(), renamed.data(), 126);
    EXPECT_EQ(set(u"Name", name), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(Record(key).pszKeyName), renamed);
    EXPECT_EQ(Record(key).cbKeyName, 63U);
    ASSERT_EQ(SetLength(provider, key, 512), ERROR_SUCCESS);
    ASSERT_EQ(Table().FinalizeKey(provider, key, 0), ERROR_SUCCESS);
    EXPECT_EQ(set(u"Length", Dword(1024)), NTE_BAD_KEY_STATE);
    EXPECT_EQ(set(u"Key Usage", Dword(3)), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(NewLog(), "pKey->fFinished == TRUE"));
    EXPECT_EQ(set(u"Name", Text(u"Later")), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(Record(key).pszKeyName), u"Later");
    // The provider's window handle, through the key.
    std::uint32_t low = 0x44;
    EXPECT_EQ(Table().SetKeyProperty(provider, key, u"HWND Handle", reinterpret_cast<PBYTE>(&low), 4, 0),
        ERROR_SUCCESS);
    EXPECT_EQ(
        reinterpret_cast<std::uintptr_t>(reinterpret_cast<ProviderContext*>(provider)->hWnd) & 0xFFFFFFFF,
        0x44U);
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(PropertyTest, CertificateIsStoredBesideItsKeyPairOnce)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    TestCertificateFields fields;
    fields.subject = "/O=Acme/CN=Alice Card";
    fields.serial = 0x0102;
    Bytes certificate = MakeCertificate(fields, MakeRsaKey(1024));

    NCRYPT_KEY_HANDLE unfinished = 0;
    ASSERT_EQ(Table().CreatePersistedKey(provider, &unfinished, u"RSA", u"NotYet", 0, 0), ERROR_SUCCESS);
    EXPECT_EQ(Table().SetKeyProperty(provider, unfinished, u"SmartCardKeyCertificate", certificate.data(),
                  static_cast<DWORD>(certificate.size()), 0),
        NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(NewLog(), "Key referenced by hKey is not yet finalized."));
    Table().FreeKey(provider, unfinished);

    NCRYPT_KEY_HANDLE key = MakeKey(provider, u"Holder");
    Bytes garbage = { 0x30, 0x03, 0x02, 0x01, 0x00 };
    EXPECT_EQ(Table().SetKeyProperty(provider, key, u"SmartCardKeyCertificate", garbage.data(),
                  static_cast<DWORD>(garbage.size()), 0),
        NTE_FAIL);
    ASSERT_EQ(Table().SetKeyProperty(provider, key, u"SmartCardKeyCertificate", certificate.data(),
                  static_cast<DWORD>(certificate.size()), 0),
        ERROR_SUCCESS);
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "No certificate has been found for this key"));
    EXPECT_TRUE(Contains(log, "Setting certificate"));
    const KeyId id(Record(key).ckaId, Record(key).ckaId + Record(key).cbCkaId);
    EXPECT_EQ(CountObjects(kReader, CKO_CERTIFICATE, id), 1);
    {
        UserSession session(kReader, kPin);
        CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
        CK_ATTRIBUTE search[] = { { CKA_CLASS, &objectClass, sizeof objectClass },
            { CKA_ID, const_cast<CK_BYTE*>(id.data()), id.size() } };
        ASSERT_EQ(Module()->C_FindObjectsInit(session.Handle(), search, 2), CKR_OK);
        CK_OBJECT_HANDLE stored = 0;
        CK_ULONG count = 0;
        ASSERT_EQ(Module()->C_FindObjects(session.Handle(), &stored, 1, &count), CKR_OK);
        Module()->C_FindObjectsFinal(session.Handle());
        ASSERT_EQ(count, 1U);
        EXPECT_EQ(session.Attribute(stored, CKA_VALUE), certificate);
        const std::string label("Alice Card", 11); // the display name and its terminator
        EXPECT_EQ(session.Attribute(stored, CKA_LABEL), Bytes(label.begin(), label.end()));
        EXPECT_EQ(session.Attribute(stored, CKA_SERIAL_NUMBER), Bytes({ 0x02, 0x01 }));
    }
    // A second one for the same pair is refused, whatever certificate it is.
    EXPECT_EQ(Table().SetKeyProperty(provider, key, u"SmartCardKeyCertificate", certificate.data(),
                  static_cast<DWORD>(certificate.size()), 0),
        NTE_EXISTS);
    EXPECT_TRUE(Contains(NewLog(), "NTE_EXISTS: A certificate already exists for the selected key pair"));
    EXPECT_EQ(CountObjects(kReader, CKO_CERTIFICATE, id), 1);
    Table().FreeKey(provider, key);

    // A key with only its private half: the check needs both and says so.
    PutKey(kReader, KeyId { 'P', 'O' }, Halves::PrivateOnly);
    // The provider owns the PIN buffer: the one given at opening is replaced.
    LPWSTR& pin = reinterpret_cast<ProviderContext*>(provider)->pszPin;
    delete[] pin;
    pin = new char16_t[5] { u'1', u'2', u'3', u'4', 0 };
    ASSERT_EQ(OpenKey(provider, u"PO", key), ERROR_SUCCESS);
    EXPECT_EQ(Table().SetKeyProperty(provider, key, u"SmartCardKeyCertificate", certificate.data(),
                  static_cast<DWORD>(certificate.size()), 0),
        NTE_INVALID_PARAMETER);
    EXPECT_TRUE(Contains(
        NewLog(), "NTE_INTERNAL_ERROR: An internal error occured. Check PKCS logs for more information"));
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}
