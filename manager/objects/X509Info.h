// One certificate read from a DER or PKCS #7 file for import: the eight byte
// buffers the import puts on the token, and the reader that fills them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>
#include <wx/string.h>

class X509Info {
public:
    // Every buffer empty except the ID: 20 bytes from the system's generator,
    // so two records never share a CKA_ID (and never pair wrongly).
    X509Info();
    virtual ~X509Info();
    X509Info(const X509Info&) = delete;
    X509Info& operator=(const X509Info&) = delete;

    // A null source or a length of 0 leaves the member unchanged; otherwise
    // it is replaced by a copy of exactly that length.
    void SetPublicExponent(const uint8_t* source, uint32_t length);
    void SetModulus(const uint8_t* source, uint32_t length);
    // Stores the DER INTEGER: 0x02, the content length, the content bytes.
    // Content longer than 127 bytes is refused (a one-byte length form).
    void SetSerialNumber(const uint8_t* source, uint32_t length);
    void SetSubject(const uint8_t* source, uint32_t length);
    void SetIssuer(const uint8_t* source, uint32_t length);
    void SetLabel(const uint8_t* source, uint32_t length);
    void SetValue(const uint8_t* source, uint32_t length);
    void SetID(const uint8_t* source, uint32_t length);

    // Modulus and exponent are big-endian, as CKA_MODULUS and
    // CKA_PUBLIC_EXPONENT are read; both stay empty for a key that is not RSA.
    const std::vector<uint8_t>& GetPublicExponent() const { return m_publicExponent; }
    const std::vector<uint8_t>& GetModulus() const { return m_modulus; }
    const std::vector<uint8_t>& GetSerialNumber() const { return m_serialNumber; }
    const std::vector<uint8_t>& GetSubject() const { return m_subject; }
    const std::vector<uint8_t>& GetIssuer() const { return m_issuer; }
    const std::vector<uint8_t>& GetLabel() const { return m_label; }
    const std::vector<uint8_t>& GetValue() const { return m_value; }
    const std::vector<uint8_t>& GetID() const { return m_id; }

private:
    std::vector<uint8_t> m_publicExponent;
    std::vector<uint8_t> m_modulus;
    std::vector<uint8_t> m_serialNumber;
    std::vector<uint8_t> m_subject;
    std::vector<uint8_t> m_issuer;
    std::vector<uint8_t> m_label;
    std::vector<uint8_t> m_value;
    std::vector<uint8_t> m_id;
};

enum class CertificateFileKind { Der, Pkcs7 };

// Reads a .cer (DER) or .p7b/.p7c (PKCS #7 signed, or signed and enveloped,
// data) file. Returns the number of records filled, 0 for a file that does
// not open or decode or holds no certificate. Every certificate of a bundle
// gets a record, in the bundle's order, put at the front of the list; the
// conversion happens in memory, never through a shared temporary file.
int ReadCertificateFile(
    const wxString& path, CertificateFileKind kind, std::vector<std::unique_ptr<X509Info>>& list);
// The same for the file's bytes already in memory.
int ReadCertificateBytes(const uint8_t* bytes, size_t length, CertificateFileKind kind,
    std::vector<std::unique_ptr<X509Info>>& list);

// The readable name of a DER name: its common name, else its organization,
// else its first part; "Error" (translated) for an empty or unreadable name.
wxString GetDisplayName(const uint8_t* name, size_t length);
// The name rule applied to a name already in reversed X.500 text (UTF-8).
wxString DisplayNameFromText(const std::string& text);

// Two upper-case hex digits per byte, trailing zero bytes dropped, at least
// the first byte shown.
wxString GetKeyIdText(const uint8_t* id, size_t length);
