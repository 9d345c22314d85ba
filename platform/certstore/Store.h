// The current user's certificate stores ("MY"), one folder per store under
// $VELA5_ROOT/certstore, one file per certificate named by its thumbprint,
// holding the certificate and its properties. Readers take no lock: every
// change writes a new file and renames it into place, so a reader sees an
// entry whole or not at all. Writers of a store take turns on its lock
// file. A damaged entry is skipped and reported, never fatal.
#pragma once

#include "platform/certstore/Certificate.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vela5::platform::CertStore {

// CertAddCertificateContextToStore dispositions, with their Windows values.
enum AddDisposition : uint32_t {
    AddNew = 1, // CERT_STORE_ADD_NEW: Exists when the certificate is there
    AddUseExisting = 2, // CERT_STORE_ADD_USE_EXISTING: keep the stored one
    AddReplaceExisting = 3, // CERT_STORE_ADD_REPLACE_EXISTING
};

// An entry that could not be read, and why.
struct DamagedEntry {
    std::filesystem::path file;
    std::string reason;
};

class Store final {
public:
    // CertOpenSystemStoreA(0, name): the store's folder is created when
    // missing. Names are letters and digits ("MY", "CA"), any case.
    static long OpenSystem(std::string_view name, Store& out);

    bool IsOpen() const { return !m_folder.empty(); }
    const std::filesystem::path& Folder() const { return m_folder; }

    // The same certificate (same encoded bytes) is one entry; its stored
    // properties are the added context's.
    long Add(const Certificate& certificate, AddDisposition disposition);
    // Every readable entry, ordered by thumbprint; damaged ones go to
    // damaged when given.
    long Enumerate(std::vector<Certificate>& out, std::vector<DamagedEntry>* damaged = nullptr) const;
    // CertFindCertificateInStore with CERT_FIND_PUBLIC_KEY: the first
    // entry whose subject public key equals like's. NotFound when none.
    long FindByPublicKey(const Certificate& like, Certificate& out) const;
    // 40 hex digits, any case; spaces and colons between them are ignored.
    long FindByThumbprint(std::string_view thumbprint, Certificate& out) const;
    // CertDeleteCertificateFromStore: NotFound when it is not there.
    long Delete(const Certificate& certificate);
    // Removes the entry of that thumbprint, readable or damaged.
    long DeleteByThumbprint(std::string_view thumbprint);

    // $VELA5_ROOT/certstore.
    static std::filesystem::path RootFolder();
    // Reads one entry file; false with the reason when it is damaged.
    static bool ReadEntry(const std::filesystem::path& file, Certificate& out, std::string& reason);
    // The bytes of an entry file for a certificate and its properties.
    static std::vector<uint8_t> EntryBytes(const Certificate& certificate);

private:
    std::filesystem::path m_folder;
};

} // namespace vela5::platform::CertStore
