// Result names and sentences: the two readings, the joins to a context, and
// the exact texts other windows show.
#include "manager/core/CryptokiResultText.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <wx/arrstr.h>
#include <wx/translation.h>

namespace {

TEST(ResultNameTest, VendorReadingOnlyForRetriesAndClearCard)
{
    EXPECT_EQ(GetResultName(3, true), "NRV_CKR_PIN_RETRIES_03");
    EXPECT_EQ(GetResultName(3, false), "CKR_SLOT_ID_INVALID");
    EXPECT_EQ(GetResultName(1, true), "NRV_CKR_PIN_RETRIES_01");
    EXPECT_EQ(GetResultName(14, true), "NRV_CKR_PIN_RETRIES_14");
    // Outside 1-14 the vendor reading falls back to the standard one.
    EXPECT_EQ(GetResultName(0, true), "CKR_OK");
    EXPECT_EQ(GetResultName(CKR_PIN_LOCKED, true), "CKR_PIN_LOCKED");
    EXPECT_EQ(GetResultName(15, true), "UNKNOWN ERROR 0x0000000F");
    EXPECT_EQ(GetResultName(0xFFFFFFFF, true), "NRV_CKR_CLEAR_CARD_DISABLED");
    EXPECT_EQ(GetResultName(0xFFFFFFFF, false), "UNKNOWN ERROR 0xFFFFFFFF");
    EXPECT_EQ(GetResultName(0x12345), "UNKNOWN ERROR 0x00012345");
    // Known in the ABI but not among the named codes.
    EXPECT_EQ(GetResultName(CKR_SESSION_COUNT), "UNKNOWN ERROR 0x000000B1");
}

TEST(ResultMessageTest, EveryNamedCodeHasItsOwnSentence)
{
    // A sentence copied onto the wrong code reads well and says the wrong thing:
    // each named code must have a sentence no other code shares.
    std::map<wxString, wxString> owners;
    for (CK_RV code = 0; code <= 0x300; ++code) {
        if (GetResultName(code).StartsWith("UNKNOWN ERROR")) {
            EXPECT_TRUE(GetResultMessage(code).StartsWith("An unknown Cryptoki error has occurred.")) << code;
            continue;
        }
        const wxString message = GetResultMessage(code);
        EXPECT_FALSE(message.StartsWith("An unknown")) << GetResultName(code);
        EXPECT_TRUE(message.EndsWith(".")) << GetResultName(code);
        const auto [owner, added] = owners.emplace(message, GetResultName(code));
        EXPECT_TRUE(added) << GetResultName(code) << " shares its sentence with " << owner->second;
    }
    EXPECT_EQ(owners.size(), 84u);

    const struct {
        CK_RV code;
        const char* sentence;
    } known[] = {
        { CKR_OK, "The function executed successfully." },
        { CKR_PIN_INCORRECT, "The specified PIN is incorrect." },
        { CKR_USER_NOT_LOGGED_IN,
            "The desired action cannot be performed because the appropriate user is not logged in." },
        { CKR_BUFFER_TOO_SMALL, "The output of the function is too large to fit in the supplied buffer." },
        { CKR_FUNCTION_REJECTED, "The signature request is rejected by the user." },
        { NRV_CKR_CLEAR_CARD_DISABLED,
            "The zeroize user data function for the token has been permanently disabled." },
    };
    for (const auto& test : known) {
        EXPECT_EQ(GetResultMessage(test.code), test.sentence) << GetResultName(test.code);
    }
}

TEST(ResultMessageTest, TableTextsAndContextJoin)
{
    EXPECT_EQ(GetResultMessage(CKR_PIN_LOCKED), "The specified PIN is \"locked\", and cannot be used.");
    EXPECT_EQ(GetResultMessage(CKR_RANDOM_SEED_NOT_SUPPORTED),
        "The token''s random number generator does not accept seeding from an application.");
    EXPECT_EQ(GetResultMessage(0xFFFFFFFF),
        "The zeroize user data function for the token has been permanently disabled.");
    EXPECT_EQ(GetResultMessage(CKR_SESSION_EXISTS, "Failed to initialize the token."),
        "Failed to initialize the token. A session with the token is already open, and so the token cannot "
        "be initialized.");
    EXPECT_EQ(GetResultMessage(0x12345, "Failed to login."),
        "Failed to login. An unknown Cryptoki error has occurred. [0x00012345]");
}

TEST(PINResultMessageTest, RetriesLengthAndLock)
{
    EXPECT_EQ(GetPINResultMessage(1, false, "Failed to login."),
        "Failed to login. Incorrect user PIN. Only 1 attempt left.");
    EXPECT_EQ(GetPINResultMessage(2, true), "Incorrect SO PIN. 2 attempts left.");
    EXPECT_EQ(GetPINResultMessage(14, false), "Incorrect user PIN. 14 attempts left.");
    EXPECT_EQ(GetPINResultMessage(CKR_PIN_INCORRECT, false), "Incorrect user PIN. Please try again.");
    EXPECT_EQ(GetPINResultMessage(CKR_PIN_LEN_RANGE, false), "User PIN is too long or too short.");
    EXPECT_EQ(GetPINResultMessage(CKR_PIN_LEN_RANGE, true), "SO PIN is too long or too short.");
    EXPECT_EQ(GetPINResultMessage(CKR_PIN_LOCKED, true, ""), "SO PIN is locked and cannot be used.");
    EXPECT_EQ(GetPINResultMessage(CKR_PIN_LOCKED, false), "User PIN is locked and cannot be used.");
    // Codes without a PIN sentence give nothing of their own.
    EXPECT_EQ(GetPINResultMessage(15, false), "");
    EXPECT_EQ(GetPINResultMessage(CKR_DEVICE_ERROR, false, "Failed to login."), "Failed to login.");
}

TEST(CertificateResultMessageTest, ImportFaultsAndUnlistedCodes)
{
    EXPECT_EQ(GetCertificateResultMessage(0x20, "Failed to import."),
        "Failed to import. The password is incorrect.");
    EXPECT_EQ(GetCertificateResultMessage(0x31), "Token already has the maximum number of certificates.");
    EXPECT_EQ(GetCertificateResultMessage(0xFFFF0001), "Certificate is not found.");
    EXPECT_EQ(GetCertificateResultMessage(0xFFFF0009), "Unable to open the specified file.");
    EXPECT_EQ(GetCertificateResultMessage(0xFFFF000A, "Failed to import."), "Failed to import.");
    EXPECT_EQ(GetSecretKeyResultMessage(0x31, "Failed to add."),
        "Failed to add. Token already has the maximum number of secret keys.");
    EXPECT_EQ(GetSecretKeyResultMessage(0x30), "");
}

TEST(ErrorCodeTextTest, FormatAndAppend)
{
    EXPECT_EQ(FormatErrorCode(0x30), "(Error: 0x00000030)");
    EXPECT_EQ(FormatErrorCode(0x30, "Slot 1"), "(Slot 1 Error: 0x00000030)");
    EXPECT_EQ(AppendErrorCode("Unknown Device", 0xE1), "Unknown Device (Error: 0x000000E1)");
    EXPECT_EQ(AppendErrorCode("Failed.", 0xFFFF0001, "Import"), "Failed. (Import Error: 0xFFFF0001)");
}

TEST(ThreadErrorMessageTest, KnownAndUnknownErrors)
{
    EXPECT_EQ(GetThreadErrorMessage(1, "Failed to create polling thread."),
        "Failed to create polling thread. There were insufficient resources to create a new thread.");
    EXPECT_EQ(GetThreadErrorMessage(2), "The thread is already running.");
    EXPECT_EQ(GetThreadErrorMessage(5), "An unknown thread error has occurred. [0x00000005]");
}

TEST(TokenFlagsTextTest, NamesInOrderAndUnknownBitsIgnored)
{
    EXPECT_EQ(GetTokenFlagsText(0), "");
    EXPECT_EQ(GetTokenFlagsText(CKF_SO_PIN_TO_BE_CHANGED | CKF_RNG | CKF_TOKEN_INITIALIZED),
        "CKF_RNG, CKF_TOKEN_INITIALIZED, CKF_SO_PIN_TO_BE_CHANGED");
    EXPECT_EQ(GetTokenFlagsText(CKF_USER_PIN_LOCKED | 0x80000000U), "CKF_USER_PIN_LOCKED");
}

// Serves the compiled catalog of one language from the program's folder.
class CompiledCatalogLoader final : public wxTranslationsLoader {
public:
    explicit CompiledCatalogLoader(wxString file)
        : m_file(std::move(file))
    {
    }
    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString&) override
    {
        return wxMsgCatalog::CreateFromFile(m_file, domain);
    }
    wxArrayString GetAvailableTranslations(const wxString&) const override
    {
        wxArrayString languages;
        languages.Add(wxS("bg"));
        return languages;
    }

private:
    wxString m_file;
};

TEST(TranslatedResultTextTest, SentencesAndTheirPartsComeFromTheCatalog)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    auto* translations = new wxTranslations;
    translations->SetLoader(new CompiledCatalogLoader(wxString(bin) + wxS("/Language/Bulgarian.mo")));
    translations->SetLanguage(wxS("bg"));
    wxTranslations::Set(translations);
    ASSERT_TRUE(translations->AddCatalog(wxS("Bulgarian")));

    EXPECT_EQ(FormatErrorCode(0x30), wxString::FromUTF8("(Грешка: 0x00000030)"));
    // Base text and retry text are translated apart and joined with a blank.
    EXPECT_EQ(
        GetPINResultMessage(1, false), wxString::FromUTF8("Грешен потребителски PIN. Остава само 1 опит."));
    // The result table holds the English sentence; it is translated when shown.
    EXPECT_EQ(GetResultMessage(CKR_PIN_INCORRECT), wxString::FromUTF8("Посоченият PIN е грешен."));
    // Symbolic names are for the log and stay untranslated.
    EXPECT_EQ(GetResultName(CKR_PIN_LOCKED), "CKR_PIN_LOCKED");
    wxTranslations::Set(nullptr);
    EXPECT_EQ(FormatErrorCode(0x30), "(Error: 0x00000030)");
}

} // namespace
