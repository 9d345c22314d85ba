// vela5-store: lists and edits the user's "MY" certificate store, so a user
// can see what certificate propagation put there and take it out again.
#include "platform/certstore/CertName.h"
#include "platform/certstore/Store.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vela5::platform;

namespace {

constexpr const char* kHelp = R"(usage: vela5-store COMMAND ...

Shows and edits the current user's "MY" certificate store under
$VELA5_ROOT/certstore/MY (default $XDG_DATA_HOME/vela5, i.e.
~/.local/share/vela5).

  list                     every certificate: subject, issuer, serial number,
                           SHA-1 thumbprint, validity and the key it is bound to
  show THUMBPRINT          one certificate in full
  export THUMBPRINT FILE   write the certificate to FILE (DER)
  delete THUMBPRINT        remove the certificate from the store
  --help                   this text

THUMBPRINT is the SHA-1 thumbprint that list prints (40 hex digits, any
case). Damaged entries are skipped with a warning on stderr. Errors print
one line on stderr and exit with status 1.
)";

class Failure final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

CertStore::Store OpenMy()
{
    CertStore::Store store;
    if (CertStore::Store::OpenSystem("MY", store) != CertStore::Success) {
        throw Failure("cannot open the certificate store under " + CertStore::Store::RootFolder().string());
    }
    return store;
}

std::string KeyText(const CertStore::Certificate& certificate)
{
    CertStore::KeyProvInfo info;
    if (!certificate.GetKeyProvInfo(info)) {
        return certificate.Property(CertStore::KeyProvInfoPropId) != nullptr
            ? "(unreadable key provider record)"
            : "none";
    }
    return "provider \"" + info.providerName + "\", container \"" + info.containerName + "\"";
}

void PrintSummary(const CertStore::Certificate& certificate)
{
    std::cout << certificate.Thumbprint() << "\n"
              << "  subject:  " << certificate.SubjectName() << "\n"
              << "  issuer:   " << certificate.IssuerName() << "\n"
              << "  serial:   " << certificate.SerialNumberText() << "\n"
              << "  valid:    " << certificate.NotBeforeText() << " to " << certificate.NotAfterText() << "\n"
              << "  key:      " << KeyText(certificate) << "\n";
}

void ReportDamaged(const std::vector<CertStore::DamagedEntry>& damaged)
{
    for (const CertStore::DamagedEntry& entry : damaged) {
        std::cerr << "vela5-store: warning: skipped damaged entry " << entry.file.filename().string() << ": "
                  << entry.reason << "\n";
    }
}

int List()
{
    const CertStore::Store store = OpenMy();
    std::vector<CertStore::Certificate> certificates;
    std::vector<CertStore::DamagedEntry> damaged;
    if (store.Enumerate(certificates, &damaged) != CertStore::Success) {
        throw Failure("cannot read the certificate store " + store.Folder().string());
    }
    ReportDamaged(damaged);
    for (size_t i = 0; i < certificates.size(); ++i) {
        if (i > 0) {
            std::cout << "\n";
        }
        PrintSummary(certificates[i]);
    }
    if (certificates.empty()) {
        std::cout << "no certificates\n";
    }
    return 0;
}

CertStore::Certificate Find(const CertStore::Store& store, const std::string& thumbprint)
{
    CertStore::Certificate certificate;
    const long result = store.FindByThumbprint(thumbprint, certificate);
    if (result == CertStore::InvalidParameter) {
        throw Failure("\"" + thumbprint + "\" is not a SHA-1 thumbprint (40 hex digits)");
    }
    if (result != CertStore::Success) {
        // Entries are named by the thumbprint in upper case, without separators.
        std::string name;
        for (const char c : thumbprint) {
            if (c != ' ' && c != ':') {
                name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        std::string reason;
        CertStore::Certificate ignored;
        if (std::filesystem::exists(store.Folder() / name)
            && !CertStore::Store::ReadEntry(store.Folder() / name, ignored, reason)) {
            throw Failure("the entry " + name + " is damaged: " + reason);
        }
        throw Failure("no certificate with thumbprint " + thumbprint + " in the store");
    }
    return certificate;
}

int Show(const std::string& thumbprint)
{
    const CertStore::Certificate certificate = Find(OpenMy(), thumbprint);
    PrintSummary(certificate);
    std::cout << "  name:     " << certificate.SimpleDisplayName() << "\n";
    std::cout << "  size:     " << certificate.Encoded().size() << " bytes\n";
    CertStore::KeyProvInfo info;
    if (certificate.GetKeyProvInfo(info)) {
        std::cout << "  key provider record: container \"" << info.containerName << "\", provider \""
                  << info.providerName << "\", type " << info.providerType << ", flags " << info.flags
                  << ", key spec " << info.keySpec << "\n";
    }
    uint32_t keySpec = 0;
    if (certificate.GetKeySpec(keySpec)) {
        std::cout << "  key spec: " << keySpec << "\n";
    }
    for (const auto& [id, value] : certificate.Properties()) {
        if (id != CertStore::KeyProvInfoPropId && id != CertStore::KeySpecPropId) {
            std::cout << "  property " << id << ": " << Hex(value) << "\n";
        }
    }
    return 0;
}

int Export(const std::string& thumbprint, const std::string& file)
{
    const CertStore::Certificate certificate = Find(OpenMy(), thumbprint);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const std::vector<uint8_t>& bytes = certificate.Encoded();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw Failure("cannot write " + file);
    }
    return 0;
}

int Delete(const std::string& thumbprint)
{
    CertStore::Store store = OpenMy();
    const long result = store.DeleteByThumbprint(thumbprint);
    if (result == CertStore::InvalidParameter) {
        throw Failure("\"" + thumbprint + "\" is not a SHA-1 thumbprint (40 hex digits)");
    }
    if (result == CertStore::NotFound) {
        throw Failure("no certificate with thumbprint " + thumbprint + " in the store");
    }
    if (result != CertStore::Success) {
        throw Failure("cannot change the certificate store " + store.Folder().string());
    }
    return 0;
}

void Need(const std::vector<std::string>& args, size_t count)
{
    if (args.size() != count) {
        throw Failure(args[0] + (args.size() < count ? " needs " : " takes only ") + std::to_string(count - 1)
            + " argument" + (count == 2 ? "" : "s") + " (see --help)");
    }
}

int Run(const std::vector<std::string>& args)
{
    if (args.empty()) {
        throw Failure("no command (see --help)");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "list") {
        Need(args, 1);
        return List();
    }
    if (command == "show") {
        Need(args, 2);
        return Show(args[1]);
    }
    if (command == "export") {
        Need(args, 3);
        return Export(args[1], args[2]);
    }
    if (command == "delete") {
        Need(args, 2);
        return Delete(args[1]);
    }
    throw Failure("unknown command \"" + command + "\" (see --help)");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "vela5-store: " << error.what() << "\n";
        return 1;
    }
}
