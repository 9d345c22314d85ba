#include "platform/certstore/CertName.h"

#include "platform/openssl/OpenSslPtr.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>
#include <string_view>
#include <vector>

namespace vela5::platform::CertStore {
namespace {

struct KeyName {
    int nid;
    const char* key;
};

// The keys crypt32 writes for the attributes certificates carry.
constexpr KeyName kX500Keys[] = {
    { NID_commonName, "CN" },
    { NID_surname, "SN" },
    { NID_serialNumber, "SERIALNUMBER" },
    { NID_countryName, "C" },
    { NID_localityName, "L" },
    { NID_stateOrProvinceName, "S" },
    { NID_streetAddress, "STREET" },
    { NID_organizationName, "O" },
    { NID_organizationalUnitName, "OU" },
    { NID_title, "T" },
    { NID_description, "Description" },
    { NID_postalCode, "PostalCode" },
    { NID_givenName, "G" },
    { NID_initials, "I" },
    { NID_pkcs9_emailAddress, "E" },
    { NID_domainComponent, "DC" },
};

std::string OidText(const ASN1_OBJECT* object)
{
    char text[128];
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    return length > 0 ? std::string(text, static_cast<size_t>(std::min<int>(length, sizeof text - 1)))
                      : std::string();
}

std::string KeyText(const ASN1_OBJECT* object, uint32_t kind)
{
    if (kind == OidNameStr) {
        return OidText(object);
    }
    const int nid = OBJ_obj2nid(object);
    for (const KeyName& entry : kX500Keys) {
        if (entry.nid == nid) {
            return entry.key;
        }
    }
    return "OID." + OidText(object);
}

// Strings as UTF-8; anything else as '#' and the hex of its bytes.
std::string ValueText(const ASN1_STRING* value)
{
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length >= 0) {
        std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
        OPENSSL_free(utf8);
        return text;
    }
    static const char* const hex = "0123456789ABCDEF";
    std::string text = "#";
    const unsigned char* data = ASN1_STRING_get0_data(value);
    for (int i = 0; i < ASN1_STRING_length(value); ++i) {
        text += hex[data[i] >> 4];
        text += hex[data[i] & 0x0F];
    }
    return text;
}

bool NeedsQuotes(std::string_view value)
{
    if (value.empty()) {
        return false;
    }
    if (value.front() == ' ' || value.back() == ' ') {
        return true;
    }
    return value.find_first_of(",+=\"\n<>#;") != std::string_view::npos;
}

std::string Quote(const std::string& value, uint32_t strType)
{
    if ((strType & NameStrNoQuotingFlag) != 0 || !NeedsQuotes(value)) {
        return value;
    }
    std::string out = "\"";
    for (const char c : value) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string FirstEntry(const X509_NAME* name, int nid)
{
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return {};
    }
    return ValueText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

std::string AlternativeName(const X509* certificate)
{
    auto* names
        = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    if (names == nullptr) {
        return {};
    }
    std::string found;
    for (const int wanted : { GEN_EMAIL, GEN_DNS, GEN_URI }) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names) && found.empty(); ++i) {
            const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names, i);
            if (entry->type == wanted) {
                found = ValueText(entry->d.ia5);
            }
        }
    }
    GENERAL_NAMES_free(names);
    return found;
}

} // namespace

std::string NameToStr(const X509_NAME* name, uint32_t strType)
{
    const uint32_t kind = strType & 0xFFFF;
    if (name == nullptr || kind < SimpleNameStr || kind > X500NameStr) {
        return {};
    }
    const std::string partSeparator = (strType & NameStrSemicolonFlag) != 0 ? "; "
        : (strType & NameStrCrlfFlag) != 0                                  ? "\r\n"
                                                                            : ", ";
    const std::string plusSeparator = (strType & NameStrNoPlusFlag) != 0 ? " " : " + ";
    // Entries in encoded order, grouped into their parts (RDNs).
    std::vector<std::vector<std::string>> parts;
    int lastSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        std::string text = Quote(ValueText(X509_NAME_ENTRY_get_data(entry)), strType);
        if (kind != SimpleNameStr) {
            text = KeyText(X509_NAME_ENTRY_get_object(entry), kind) + "=" + text;
        }
        const int set = X509_NAME_ENTRY_set(entry);
        if (parts.empty() || set != lastSet) {
            parts.emplace_back();
        }
        parts.back().push_back(std::move(text));
        lastSet = set;
    }
    if ((strType & NameStrReverseFlag) != 0) {
        std::reverse(parts.begin(), parts.end());
    }
    std::string out;
    for (size_t p = 0; p < parts.size(); ++p) {
        if (p > 0) {
            out += partSeparator;
        }
        for (size_t e = 0; e < parts[p].size(); ++e) {
            if (e > 0) {
                out += plusSeparator;
            }
            out += parts[p][e];
        }
    }
    return out;
}

std::string NameToStr(const uint8_t* encodedName, size_t size, uint32_t strType)
{
    if (encodedName == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX)) {
        return {};
    }
    const unsigned char* cursor = encodedName;
    X509NamePtr name(d2i_X509_NAME(nullptr, &cursor, static_cast<long>(size)));
    if (name == nullptr || cursor != encodedName + size) {
        return {};
    }
    return NameToStr(name.get(), strType);
}

std::string SimpleDisplayName(const X509* certificate)
{
    if (certificate == nullptr) {
        return {};
    }
    const X509_NAME* subject = X509_get_subject_name(certificate);
    for (const int nid :
        { NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress }) {
        std::string text = FirstEntry(subject, nid);
        if (!text.empty()) {
            return text;
        }
    }
    std::string text = AlternativeName(certificate);
    if (!text.empty() || X509_NAME_entry_count(subject) == 0) {
        return text;
    }
    return ValueText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, 0)));
}

} // namespace vela5::platform::CertStore
