#include "platform/certstore/Store.h"

#include "platform/files/AtomicFile.h"
#include "platform/system/MachineRoot.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela5::platform::CertStore {
namespace {

// An entry file: this mark, then elements of (property id, encoding 1,
// length, bytes), all numbers little-endian 32-bit, in the manner of a
// serialized certificate element; the certificate itself is element 32
// and comes last.
constexpr char kMagic[8] = { 'V', '5', 'C', 'E', 'R', 'T', '0', '1' };
constexpr uint32_t kCertificateElement = 32; // CERT_CERT_PROP_ID
constexpr uint32_t kEncoding = 1; // X509_ASN_ENCODING
constexpr size_t kLargestEntry = 1 << 20;

// Reads a whole regular file without following a symbolic link. ENOENT
// comes back as is: an entry deleted while listing is not damage.
int ReadFile(const std::filesystem::path& file, std::vector<uint8_t>& bytes)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return EINVAL;
    }
    if (info.st_size > static_cast<off_t>(kLargestEntry)) {
        ::close(fd);
        return EFBIG;
    }
    bytes.clear();
    uint8_t buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0 || bytes.size() + static_cast<size_t>(n) > kLargestEntry) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return 0;
}

// "0a:1B cd..." to "0A1BCD..."; empty when not 40 hex digits.
std::string NormalizeThumbprint(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == ' ' || c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return {};
        }
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out.size() == 40 ? out : std::string();
}

bool IsEntryName(const std::string& name)
{
    return NormalizeThumbprint(name) == name;
}

} // namespace

std::filesystem::path Store::RootFolder()
{
    return System::MachineRoot() / "certstore";
}

long Store::OpenSystem(std::string_view name, Store& out)
{
    out.m_folder.clear();
    if (name.empty() || name.size() > 64 || !std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
        })) {
        return InvalidParameter;
    }
    std::string folderName(name);
    std::transform(folderName.begin(), folderName.end(), folderName.begin(),
        [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    const std::filesystem::path folder = RootFolder() / folderName;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
        return AccessDenied;
    }
    out.m_folder = folder;
    return Success;
}

std::vector<uint8_t> Store::EntryBytes(const Certificate& certificate)
{
    std::vector<uint8_t> bytes(kMagic, kMagic + sizeof kMagic);
    const auto element = [&bytes](uint32_t id, const std::vector<uint8_t>& value) {
        AppendUint32(bytes, id);
        AppendUint32(bytes, kEncoding);
        AppendUint32(bytes, static_cast<uint32_t>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
    };
    for (const auto& [id, value] : certificate.Properties()) {
        if (id != kCertificateElement) {
            element(id, value);
        }
    }
    element(kCertificateElement, certificate.Encoded());
    return bytes;
}

bool Store::ReadEntry(const std::filesystem::path& file, Certificate& out, std::string& reason)
{
    std::vector<uint8_t> bytes;
    const int error = ReadFile(file, bytes);
    if (error != 0) {
        reason = error == ENOENT ? "gone" : std::string("unreadable: ") + std::strerror(error);
        return false;
    }
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        reason = bytes.size() < sizeof kMagic ? "truncated" : "not a certificate store entry";
        return false;
    }
    std::map<uint32_t, std::vector<uint8_t>> properties;
    size_t offset = sizeof kMagic;
    for (;;) {
        uint32_t id = 0;
        uint32_t encoding = 0;
        uint32_t length = 0;
        if (!ReadUint32(bytes, offset, id) || !ReadUint32(bytes, offset, encoding)
            || !ReadUint32(bytes, offset, length) || bytes.size() - offset < length) {
            reason = "truncated";
            return false;
        }
        const auto begin = bytes.begin() + static_cast<ptrdiff_t>(offset);
        std::vector<uint8_t> value(begin, begin + length);
        offset += length;
        if (id != kCertificateElement) {
            properties[id] = std::move(value);
            continue;
        }
        if (offset != bytes.size()) {
            reason = "bytes after the certificate";
            return false;
        }
        Certificate certificate;
        if (Certificate::Create(value.data(), value.size(), certificate) != Success) {
            reason = "not a DER certificate OpenSSL accepts (" + Certificate::LastParseError() + ")";
            return false;
        }
        if (certificate.Thumbprint() != file.filename().string()) {
            reason = "the file name is not the certificate's thumbprint " + certificate.Thumbprint();
            return false;
        }
        for (auto& [propertyId, propertyValue] : properties) {
            certificate.SetProperty(propertyId, std::move(propertyValue));
        }
        out = std::move(certificate);
        return true;
    }
}

long Store::Add(const Certificate& certificate, AddDisposition disposition)
{
    if (!IsOpen()) {
        return InvalidParameter;
    }
    if (!certificate.IsValid()
        || (disposition != AddNew && disposition != AddUseExisting && disposition != AddReplaceExisting)) {
        return InvalidParameter;
    }
    const Files::FolderLock lock(m_folder, 0600);
    if (!lock.IsHeld()) {
        return AccessDenied;
    }
    const std::filesystem::path file = m_folder / certificate.Thumbprint();
    Certificate stored;
    std::string reason;
    // A damaged entry under the same name is no certificate: it is replaced.
    if (disposition != AddReplaceExisting && ReadEntry(file, stored, reason)) {
        return disposition == AddNew ? Exists : Success;
    }
    const std::vector<uint8_t> bytes = EntryBytes(certificate);
    return Files::WriteAtomically(file, bytes.data(), bytes.size(), 0600) ? Success : WriteFault;
}

long Store::Enumerate(std::vector<Certificate>& out, std::vector<DamagedEntry>* damaged) const
{
    out.clear();
    if (!IsOpen()) {
        return InvalidParameter;
    }
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') {
            continue; // the lock and files being written
        }
        files.push_back(it->path());
    }
    if (error) {
        return AccessDenied;
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
        Certificate certificate;
        std::string reason;
        if (!IsEntryName(file.filename().string())) {
            reason = "not named by a thumbprint";
        } else if (ReadEntry(file, certificate, reason)) {
            out.push_back(std::move(certificate));
            continue;
        }
        if (reason != "gone" && damaged != nullptr) {
            damaged->push_back(DamagedEntry { file, reason });
        }
    }
    return Success;
}

long Store::FindByPublicKey(const Certificate& like, Certificate& out) const
{
    std::vector<Certificate> all;
    const long result = Enumerate(all);
    if (result != Success) {
        return result;
    }
    for (Certificate& certificate : all) {
        if (certificate.SamePublicKey(like)) {
            out = std::move(certificate);
            return Success;
        }
    }
    return NotFound;
}

long Store::FindByThumbprint(std::string_view thumbprint, Certificate& out) const
{
    if (!IsOpen()) {
        return InvalidParameter;
    }
    const std::string name = NormalizeThumbprint(thumbprint);
    if (name.empty()) {
        return InvalidParameter;
    }
    std::string reason;
    return ReadEntry(m_folder / name, out, reason) ? Success : NotFound;
}

long Store::Delete(const Certificate& certificate)
{
    if (!certificate.IsValid()) {
        return InvalidParameter;
    }
    return DeleteByThumbprint(certificate.Thumbprint());
}

long Store::DeleteByThumbprint(std::string_view thumbprint)
{
    const std::string name = NormalizeThumbprint(thumbprint);
    if (!IsOpen() || name.empty()) {
        return InvalidParameter;
    }
    const Files::FolderLock lock(m_folder, 0600);
    if (!lock.IsHeld()) {
        return AccessDenied;
    }
    if (::unlink((m_folder / name).c_str()) != 0) {
        return errno == ENOENT ? NotFound : AccessDenied;
    }
    Files::SyncFolder(m_folder);
    return Success;
}

} // namespace vela5::platform::CertStore
