#include "TokenObjects.h"

#include "RunProgram.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string Run(const std::string& arguments)
{
    const ProgramResult result = RunProgram("vela5-token", arguments);
    EXPECT_EQ(result.status, 0) << "vela5-token " << arguments << ": " << result.err;
    return result.out;
}

} // namespace

TestIdentity MakeTestIdentity(const std::filesystem::path& folder, const std::string& name,
    const std::string& subject, const std::string& password)
{
    TestIdentity identity;
    identity.key = MakeRsaKey();
    TestCertificateFields fields;
    fields.subject = subject;
    identity.certificate = MakeCertificate(fields, identity.key);
    identity.pkcs12 = folder / (name + ".p12");
    identity.cer = folder / (name + ".cer");
    WritePkcs12(identity.pkcs12, identity.certificate, identity.key, password, name);
    WriteBytes(identity.cer, identity.certificate);
    return identity;
}

namespace TokenObjects {

void Import(const std::string& serial, const std::filesystem::path& pkcs12, const std::string& password,
    const std::string& pin)
{
    Run("object import " + Quoted(serial) + " " + Quoted(pkcs12.string()) + " --password " + Quoted(password)
        + " --pin " + Quoted(pin));
}

unsigned long AddCertificate(const std::string& serial, const std::filesystem::path& cer,
    const std::string& idHex, const std::string& pin)
{
    const std::string out = Run("object add-cert " + Quoted(serial) + " " + Quoted(cer.string()) + " --id "
        + Quoted(idHex) + " --pin " + Quoted(pin));
    return std::strtoul(out.c_str(), nullptr, 10);
}

unsigned long AddKey(const std::string& serial, const std::filesystem::path& pem, bool privateHalf,
    const std::string& idHex, const std::string& pin)
{
    const std::string out = Run("object add-key " + Quoted(serial) + " " + Quoted(pem.string()) + " --class "
        + (privateHalf ? "private" : "public") + " --id " + Quoted(idHex) + " --pin " + Quoted(pin));
    return std::strtoul(out.c_str(), nullptr, 10);
}

std::vector<TokenObjectRow> List(const std::string& serial)
{
    std::istringstream lines(Run("object list " + Quoted(serial)));
    std::vector<TokenObjectRow> rows;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string handle;
        std::string label;
        std::string pair;
        TokenObjectRow row;
        if (!std::getline(fields, handle, '\t') || !std::getline(fields, row.objectClass, '\t')
            || !std::getline(fields, row.id, '\t') || !std::getline(fields, label, '\t')
            || !std::getline(fields, pair) || label.size() < 2) {
            ADD_FAILURE() << "object list printed \"" << line << "\"";
            continue;
        }
        row.handle = std::strtoul(handle.c_str(), nullptr, 10);
        row.label = label.substr(1, label.size() - 2);
        row.keyPairIndex = std::atoi(pair.c_str());
        rows.push_back(row);
    }
    return rows;
}

} // namespace TokenObjects
