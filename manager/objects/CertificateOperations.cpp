#include "CertificateOperations.h"

#include "ObjectDeleteAll.h"
#include "TokenObjectGuard.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/host/TokenStatus.h"

#include <wx/intl.h>

namespace CertificateOperations {
namespace {

// How many marked certificates one search for the logon default clears.
constexpr CK_ULONG kMaxMarked = 64;

void Report(const Context& context, const wxString& text)
{
    if (context.progress) {
        context.progress(text);
    }
}

Outcome Failed(const wxString& message)
{
    Outcome outcome;
    outcome.message = message;
    return outcome;
}

// After a change that failed part-way the token differs from the tables:
// they are read again, and the failure stays the message.
void Relist(const Context& context, Outcome& outcome)
{
    outcome.listed = true;
    ReadTables(context, outcome.tables);
}

// The common end of a successful change: refresh, token information, the
// success text.
Outcome Finish(const Context& context, const wxString& success, bool cleared = false)
{
    Outcome outcome;
    if (cleared) {
        outcome.cleared = true;
    } else {
        Report(context, _("Refreshing certificate list . . ."));
        outcome.listed = true;
        const CK_RV rv = ReadTables(context, outcome.tables);
        if (rv != CKR_OK) {
            outcome.message = GetResultMessage(rv, _("Failed to refresh certificate list."));
            return outcome;
        }
    }
    Report(context, _("Retrieving token information . . ."));
    const CK_RV rv = ReadTokenInformation(context);
    if (rv != CKR_OK) {
        outcome.message = GetResultMessage(rv, _("Failed to get token information."));
        return outcome;
    }
    outcome.tokenInfoRead = true;
    outcome.succeeded = true;
    outcome.message = success;
    return outcome;
}

CK_RV SetLogonDefault(const Context& context, CK_OBJECT_HANDLE certificate, CK_BYTE value)
{
    CK_ATTRIBUTE mark = { CKA_NRV_LOGON_DEFAULT, &value, sizeof value };
    return context.cryptoki.SetAttributeValue(context.session, certificate, &mark, 1);
}

} // namespace

wxString DoubleBackslashes(const wxString& path)
{
    wxString doubled = path;
    doubled.Replace("\\", "\\\\");
    return doubled;
}

wxString ImportFailureText(CK_RV rv)
{
    const wxString context = _("Failed to import the certificate.");
    const wxString text = GetCertificateResultMessage(rv, context);
    return text != context ? text : GetResultMessage(rv, context);
}

CK_RV CreateCertificateObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const X509Info& record,
    std::vector<TokenObjectGuard>& created)
{
    // The templates' values must stay addressable while the module reads them.
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG modulusBits = static_cast<CK_ULONG>(record.GetModulus().size()) * 8;
    const auto bytes = [](const std::vector<uint8_t>& value) {
        return std::pair { value.empty() ? nullptr : const_cast<uint8_t*>(value.data()),
            static_cast<CK_ULONG>(value.size()) };
    };
    const auto [id, idLength] = bytes(record.GetID());
    const auto [exponent, exponentLength] = bytes(record.GetPublicExponent());
    const auto [modulus, modulusLength] = bytes(record.GetModulus());
    const auto [label, labelLength] = bytes(record.GetLabel());
    const auto [value, valueLength] = bytes(record.GetValue());
    const auto [issuer, issuerLength] = bytes(record.GetIssuer());
    const auto [serial, serialLength] = bytes(record.GetSerialNumber());
    const auto [subject, subjectLength] = bytes(record.GetSubject());

    CK_ATTRIBUTE publicKey[] = {
        { CKA_CLASS, &publicClass, sizeof publicClass },
        { CKA_ID, id, idLength },
        { CKA_ENCRYPT, &yes, sizeof yes },
        { CKA_VERIFY, &yes, sizeof yes },
        { CKA_WRAP, &yes, sizeof yes },
        { CKA_PRIVATE, &yes, sizeof yes },
        { CKA_VERIFY_RECOVER, &yes, sizeof yes },
        { CKA_VERIFY, &yes, sizeof yes },
        { CKA_PUBLIC_EXPONENT, exponent, exponentLength },
        { CKA_MODULUS, modulus, modulusLength },
        { CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits },
        { CKA_LABEL, label, labelLength },
        { CKA_TOKEN, &yes, sizeof yes },
    };
    CK_ATTRIBUTE certificate[] = {
        { CKA_CLASS, &certificateClass, sizeof certificateClass },
        { CKA_ID, id, idLength },
        { CKA_VALUE, value, valueLength },
        { CKA_ISSUER, issuer, issuerLength },
        { CKA_SERIAL_NUMBER, serial, serialLength },
        { CKA_LABEL, label, labelLength },
        { CKA_SUBJECT, subject, subjectLength },
        { CKA_TOKEN, &yes, sizeof yes },
    };

    const size_t before = created.size();
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_RV rv = cryptoki.CreateCryptoObject(session, publicKey, std::size(publicKey), &object);
    if (rv == CKR_OK) {
        created.emplace_back(cryptoki, session, object);
        object = CK_INVALID_HANDLE;
        rv = cryptoki.CreateCryptoObject(session, certificate, std::size(certificate), &object);
    }
    if (rv == CKR_OK) {
        created.emplace_back(cryptoki, session, object);
    } else {
        // Gone again, newest first: the record left nothing behind.
        while (created.size() > before) {
            created.pop_back();
        }
    }
    return rv;
}

CK_RV ImportCertificateFile(
    NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const wxString& path, CertificateFileKind kind)
{
    std::vector<std::unique_ptr<X509Info>> records;
    if (ReadCertificateFile(path, kind, records) == 0 || records.empty()) {
        return NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID;
    }
    // Released only when every record is on the token: a bundle imports
    // whole or not at all.
    std::vector<TokenObjectGuard> created;
    for (const std::unique_ptr<X509Info>& record : records) {
        const CK_RV rv = CreateCertificateObjects(cryptoki, session, *record, created);
        if (rv != CKR_OK) {
            return rv;
        }
    }
    for (TokenObjectGuard& guard : created) {
        guard.Release();
    }
    return CKR_OK;
}

CK_RV ReadTables(const Context& context, CertificateTables& tables)
{
    const CK_RV rv = context.cryptoki.RefreshBeforeListing(context.slot);
    if (rv != CKR_OK) {
        tables.Reset();
        return rv;
    }
    return ListAll(context.cryptoki, context.session, tables);
}

CK_RV ReadTokenInformation(const Context& context)
{
    NRVCMUCryptoki& cryptoki = context.cryptoki;
    if (cryptoki.HasVendorEntries()) {
        CK_RV rv = cryptoki.RefreshTokenFlag(context.slot);
        if (rv == CKR_OK) {
            rv = WaitForTokenReady(cryptoki, context.slot, context.readyTimeout);
        }
        if (rv != CKR_OK) {
            return rv;
        }
    }
    CK_TOKEN_INFO info {};
    return cryptoki.GetTokenInfo(context.slot, &info);
}

Outcome Import(const Context& context, int fileType, const wxString& path, const wxString& password)
{
    Report(context, _("Importing the certificate . . ."));
    CK_RV rv = CKR_OK;
    if (fileType == kPfx || fileType == kP12) {
        rv = context.cryptoki.LoadCertificate(context.session, DoubleBackslashes(path), password);
    } else {
        rv = ImportCertificateFile(context.cryptoki, context.session, path,
            fileType == kCer ? CertificateFileKind::Der : CertificateFileKind::Pkcs7);
    }
    if (rv != CKR_OK) {
        return Failed(ImportFailureText(rv));
    }
    return Finish(context, _("Certificate has been imported successfully."));
}

Outcome Delete(const Context& context, const DeleteTarget& target)
{
    NRVCMUCryptoki& cryptoki = context.cryptoki;
    if (target.kind != DeleteTarget::Kind::Certificate) {
        const bool isPrivate = target.kind == DeleteTarget::Kind::PrivateKey;
        Report(context, isPrivate ? _("Deleting the private key . . .") : _("Deleting the public key . . ."));
        const CK_RV rv = cryptoki.DestroyObject(context.session, target.object);
        if (rv != CKR_OK) {
            return Failed(GetResultMessage(rv,
                isPrivate ? _("Failed to delete the private key.") : _("Failed to delete the public key.")));
        }
        return Finish(context,
            isPrivate ? _("Private key has been deleted successfully.")
                      : _("Public key has been deleted successfully."));
    }

    Report(context, _("Deleting the certificate . . ."));
    CK_RV rv = cryptoki.DestroyObject(context.session, target.object);
    if (rv != CKR_OK) {
        return Failed(GetResultMessage(rv, _("Failed to delete the certificate.")));
    }
    const struct {
        bool present;
        CK_OBJECT_HANDLE handle;
        wxString working;
        wxString failed;
    } keys[] = {
        { target.hasPrivateKey, target.privateKey, _("Deleting its associated private key . . ."),
            _("Failed to get the associated private key.") },
        { target.hasPublicKey, target.publicKey, _("Deleting its associated public key . . ."),
            _("Failed to get the associated public key.") },
    };
    for (const auto& key : keys) {
        if (!key.present) {
            continue;
        }
        Report(context, key.working);
        rv = key.handle == CK_INVALID_HANDLE ? CKR_OBJECT_HANDLE_INVALID
                                             : cryptoki.DestroyObject(context.session, key.handle);
        if (rv != CKR_OK) {
            Outcome outcome = Failed(GetResultMessage(rv, key.failed));
            Relist(context, outcome);
            return outcome;
        }
    }
    return Finish(context, _("Certificate has been deleted successfully."));
}

Outcome DeleteAll(const Context& context, bool all)
{
    Report(context, all ? _("Deleting all certificates . . .") : _("Deleting the certificate . . ."));
    // Certificates, then public keys, then private keys, as listed; listed
    // again until nothing is left, since one listing sees only a few.
    ObjectDeleteAll deleteAll(
        [&](std::vector<CK_OBJECT_HANDLE>& handles) {
            CertificateTables tables;
            const CK_RV rv = ListAll(context.cryptoki, context.session, tables);
            for (const CertificateEntry& certificate : tables.certificates) {
                handles.push_back(certificate.handle);
            }
            for (const std::vector<KeyEntry>* keys : { &tables.publicKeys, &tables.privateKeys }) {
                for (const KeyEntry& key : *keys) {
                    handles.push_back(key.handle);
                }
            }
            return rv;
        },
        [&](CK_OBJECT_HANDLE handle) { return context.cryptoki.DestroyObject(context.session, handle); });
    if (const CK_RV swept = deleteAll.Run(); swept != CKR_OK) {
        Outcome outcome = Failed(GetResultMessage(
            swept, all ? _("Failed to delete all certificates.") : _("Failed to delete the certificate.")));
        Relist(context, outcome);
        return outcome;
    }
    return Finish(context,
        all ? _("All certificates have been deleted successfully.")
            : _("Certificate has been deleted successfully."),
        true);
}

Outcome SetDefault(const Context& context, CK_OBJECT_HANDLE certificate)
{
    Report(context, _("Setting Windows logon default certificate . . ."));
    const wxString failed = _("Failed to set Windows logon default certificate.");
    // Every marked certificate on the token, not only the listed ones, so at
    // most one carries the mark afterwards.
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_BYTE marked = 1;
    CK_ATTRIBUTE filter[] = {
        { CKA_CLASS, &certificateClass, sizeof certificateClass },
        { CKA_NRV_LOGON_DEFAULT, &marked, sizeof marked },
    };
    std::vector<CK_OBJECT_HANDLE> handles(kMaxMarked, CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    CK_RV rv = context.cryptoki.FindObjects(
        context.session, filter, std::size(filter), handles.data(), kMaxMarked, &found);
    handles.resize(rv == CKR_OK ? std::min(found, kMaxMarked) : 0);
    bool changed = false;
    for (const CK_OBJECT_HANDLE handle : handles) {
        if (rv != CKR_OK) {
            break;
        }
        rv = SetLogonDefault(context, handle, 0);
        changed = changed || rv == CKR_OK;
    }
    if (rv == CKR_OK) {
        rv = SetLogonDefault(context, certificate, 1);
    }
    if (rv != CKR_OK) {
        Outcome outcome = Failed(GetResultMessage(rv, failed));
        if (changed) {
            Relist(context, outcome);
        }
        return outcome;
    }
    return Finish(context, _("Windows logon default certificate has been set successfully."));
}

} // namespace CertificateOperations
