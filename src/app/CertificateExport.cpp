#include "app/CertificateExport.h"

#include "common/FileSystem.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"

#include <cstdlib>
#include <memory>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jarseal {

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

// The variable that hands keytool the store password: it stays off the
// command line that other users can list, and an empty password is refused
// by keytool instead of being asked for on the terminal.
const char* const kPasswordVariable = "JARSEAL_EXPORT_STOREPASS";

bool IsOrdinaryFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The certificate the bytes hold when they are exactly one DER certificate;
// null otherwise.
X509Ptr ParseDer(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    ERR_clear_error();
    if (cert && p != reinterpret_cast<const unsigned char*>(der.data()) + der.size())
        cert.reset();
    return cert;
}

// The first certificate of a PEM file (other blocks before it are skipped)
// or of a DER file (certificates one after another), as DER; empty when the
// bytes hold none.
std::string FirstCertificateAsDer(const std::string& bytes) {
    X509Ptr cert(nullptr, X509_free);
    if (bytes.find("-----BEGIN") != std::string::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), BIO_free);
        if (bio)
            cert.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        cert.reset(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
    }
    ERR_clear_error();
    unsigned char* der = nullptr;
    const int length = cert ? i2d_X509(cert.get(), &der) : 0;
    if (length <= 0)
        return {};
    std::string result(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return result;
}

// The reason keytool gave, from its "keytool error: ..." line, in this
// program's words where it is a wrong password or a missing alias.
std::string KeytoolReason(const std::string& output, const std::string& keystore, const std::string& alias) {
    if (output.find("password was incorrect") != std::string::npos)
        return "wrong password for key store " + keystore + " (or the store is damaged)";
    if (output.find("Alias <") != std::string::npos && output.find("> does not exist") != std::string::npos)
        return "alias \"" + alias + "\" not found in key store " + keystore;
    std::string said;
    const std::string mark = "keytool error: ";
    const auto at = output.find(mark);
    if (at != std::string::npos) {
        said = output.substr(at + mark.size());
        said = said.substr(0, said.find_first_of("\r\n"));
        // "java.lang.Exception: text" says no more than the text.
        const auto colon = said.find(": ");
        if (said.rfind("java.", 0) == 0 && colon != std::string::npos)
            said = said.substr(colon + 2);
    }
    return "keytool could not export the certificate of alias \"" + alias + "\" from " + keystore +
           (said.empty() ? std::string() : ": " + said);
}

std::optional<std::string> WriteCertificate(const std::string& target, const std::string& der) {
    try {
        WriteFileReplacing(target, der);
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ExportJavaCertificate(const SettingsAccess& settings, const std::string& target) {
    const std::string keystore = settings.Read("Java", "keystore");
    const std::string alias = settings.Read("Java", "alias1");
    if (keystore.empty())
        return std::string("no key store is set (section [Java], keystore)");
    if (!IsOrdinaryFile(keystore))
        return "key store " + keystore + " not found";

    // keytool writes into a file of its own beside the target; what it wrote
    // is checked and only then put in place.
    std::string temp;
    try {
        ::close(CreateTempBeside(target, temp));
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    ::setenv(kPasswordVariable, settings.Read("Java", "storepass").c_str(), 1);
    const RunOutput run =
        RunAndWaitCapture("keytool -J-Duser.language=en -exportcert -keystore " + QuotedArgument(keystore) +
                          " -storepass:env " + kPasswordVariable + " -alias " + CommandLineArgument(alias) +
                          " -file " + QuotedArgument(temp));
    ::unsetenv(kPasswordVariable);
    std::string der;
    try {
        der = ReadWholeFile(temp);
    } catch (const std::exception&) {
        // reported below as no certificate
    }
    ::unlink(temp.c_str());

    if (run.exitCode == -1)
        return std::string("keytool, which comes with Java, was not found on the search path");
    if (run.exitCode != 0)
        return KeytoolReason(run.output, keystore, alias);
    if (!ParseDer(der))
        return "keytool gave no certificate for alias \"" + alias + "\" of key store " + keystore;
    return WriteCertificate(target, der);
}

std::optional<std::string> ExportSymbianCertificate(const SettingsAccess& settings,
                                                    const std::string& target) {
    const std::string file = settings.Read("Symbian", "certificate");
    if (file.empty())
        return std::string("no Symbian certificate is set (section [Symbian], certificate)");
    if (!IsOrdinaryFile(file))
        return "Symbian certificate " + file + " not found";
    std::string bytes;
    try {
        bytes = ReadWholeFile(file);
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    const std::string der = FirstCertificateAsDer(bytes);
    if (der.empty())
        return "Symbian certificate " + file + " holds no certificate (neither PEM nor DER)";
    return WriteCertificate(target, der);
}

} // namespace jarseal
