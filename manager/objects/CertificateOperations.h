// The token side of the certificate manager's changing operations (import,
// deletion, delete all, the logon default), in plain code: they run on the
// worker threads, report progress texts through a callback and return their
// outcome; they touch no window.
#pragma once

#include "CertificateListing.h"
#include "X509Info.h"
#include "pkcs11/pkcs11.h"

#include <chrono>
#include <functional>
#include <wx/string.h>

class NRVCMUCryptoki;
class TokenObjectGuard;

namespace CertificateOperations {

// The file-type index of the import dialog's wildcard.
enum ImportFileType { kPfx = 0, kP12 = 1, kCer = 2, kP7b = 3, kP7c = 4 };

// What one operation works with. progress receives each " . . ." text.
struct Context {
    NRVCMUCryptoki& cryptoki;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_SLOT_ID slot = 0;
    std::function<void(const wxString&)> progress;
    // How long the token information step waits for the token to be ready.
    std::chrono::milliseconds readyTimeout = std::chrono::seconds(3);
};

struct Outcome {
    bool succeeded = false;
    // The finished message line: the success text or the failure text.
    wxString message;
    // The tables were read from the token again after the change.
    bool listed = false;
    // Delete All emptied the token: the tables are empty without a reading.
    bool cleared = false;
    CertificateTables tables;
    // The token information was read; the main window may show it.
    bool tokenInfoRead = false;
};

// What Delete removes: a listed certificate with the keys it claimed, or a
// listed key on its own, each by its object handle.
struct DeleteTarget {
    enum class Kind { Certificate, PrivateKey, PublicKey };
    Kind kind = Kind::Certificate;
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    bool hasPrivateKey = false;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    bool hasPublicKey = false;
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
};

// C:\a\b.pfx becomes C:\\a\\b.pfx, as the module's load call expects.
wxString DoubleBackslashes(const wxString& path);
// "Failed to import the certificate." with the import sentence for the
// code, or the module result text for a code without one.
wxString ImportFailureText(CK_RV rv);

// Creates the public key and then the certificate object of one record.
// Both are held by guards added to created; on failure the guards of this
// record are destroyed again before returning.
CK_RV CreateCertificateObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const X509Info& record,
    std::vector<TokenObjectGuard>& created);
// Reads a .cer/.p7b/.p7c file and creates the objects of every record; a
// failure destroys everything this import created.
CK_RV ImportCertificateFile(
    NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const wxString& path, CertificateFileKind kind);

Outcome Import(const Context& context, int fileType, const wxString& path, const wxString& password);
Outcome Delete(const Context& context, const DeleteTarget& target);
// all: the token holds two or more certificates (the texts say "all").
Outcome DeleteAll(const Context& context, bool all);
Outcome SetDefault(const Context& context, CK_OBJECT_HANDLE certificate);

// The refresh after a change: the token's flags, then the listing.
CK_RV ReadTables(const Context& context, CertificateTables& tables);
// The token information after a change: refresh, a bounded wait for the
// token to be ready (its last answer is the result), GetTokenInfo.
CK_RV ReadTokenInformation(const Context& context);

} // namespace CertificateOperations
