#include "app/CertificateExport.h"

#include "app/JksCertificate.h"

#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/Translate.h"
#include "process/Quoting.h"
#include "process/RunAndWait.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
        return TrFormat("wrong password for key store {1} (or the store is damaged)", {keystore});
    if (output.find("Alias <") != std::string::npos && output.find("> does not exist") != std::string::npos)
        return TrFormat("alias \"{1}\" not found in key store {2}", {alias, keystore});
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
    return TrFormat("keytool could not export the certificate of alias \"{1}\" from {2}", {alias, keystore}) +
           (said.empty() ? std::string() : ": " + said);
}

// True when both paths name one file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Why the certificate may not go to target: it is a link, or a file that is
// there without replace, or the file the certificate comes from. Empty when
// it may; then existing tells whether a file is there to be replaced.
std::string WhyNotWritten(const std::string& target, const std::string& source, bool replace,
                          bool& existing) {
    struct stat st {};
    existing = ::lstat(target.c_str(), &st) == 0;
    if (!existing && errno != ENOENT)
        return TrFormat("cannot write {1}: {2}", {target, std::strerror(errno)});
    if (!existing)
        return {};
    if (S_ISLNK(st.st_mode))
        return TrFormat("{1} is a symbolic link: the certificate is not written through it (name a file)",
                        {target});
    if (!replace)
        return TrFormat("{1} already exists and is left as it is (--force replaces it)", {target});
    if (SameFile(target, source))
        return TrFormat("{1} is the file the certificate comes from: it is not replaced", {target});
    return {}; // a folder or special file is refused as WriteFileReplacing refuses it
}

// Puts a new file at target without replacing one that appeared meanwhile:
// a rename that refuses to replace, or, where the file system has none, a
// hard link. Returns 0 or the errno of the failure (EEXIST: a file is there).
int PutNewFileInPlace(const std::string& temp, const std::string& target) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(temp.c_str(), target.c_str()) != 0)
        return errno;
    ::unlink(temp.c_str());
    return 0;
}

// Writes der to a new target.
std::optional<std::string> WriteNewCertificate(const std::string& target, const std::string& der) {
    TempFile temp;
    try {
        Fd fd(temp.CreateBeside(target));
        const int written = WriteFully(fd.get(), der.data(), der.size());
        if (written != 0 || ::fchmod(fd.get(), NewFileMode()) != 0 || ::close(fd.release()) != 0) {
            const int error = written != 0 ? written : errno;
            return TrFormat("cannot write {1}: {2}", {target, std::strerror(error)});
        }
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    const int error = PutNewFileInPlace(temp.path(), target);
    if (error == 0)
        temp.Keep(); // now the target's name
    if (error == EEXIST)
        return TrFormat("{1} already exists and is left as it is (--force replaces it)", {target});
    if (error != 0)
        return TrFormat("cannot write {1}: {2}", {target, std::strerror(error)});
    return std::nullopt;
}

// Writes der to target, from the file source, as the export allows.
std::optional<std::string> WriteCertificate(const std::string& target, const std::string& source,
                                            const std::string& der, bool replace) {
    bool existing = false;
    if (const std::string why = WhyNotWritten(target, source, replace, existing); !why.empty())
        return why;
    if (!existing)
        return WriteNewCertificate(target, der);
    try {
        WriteFileReplacing(target, der);
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

// The bytes of a certificate file of at most kMaxCertificateFileBytes.
std::optional<std::string> ReadCertificateFile(const std::string& file, std::string& bytes) {
    bool tooLarge = false;
    try {
        ReadFileInPieces(file, [&](const char* data, std::size_t size) {
            tooLarge = bytes.size() + size > kMaxCertificateFileBytes;
            if (!tooLarge)
                bytes.append(data, size);
            return !tooLarge;
        });
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    if (tooLarge)
        return TrFormat("Symbian certificate {1} is larger than {2} KiB: no certificate file is that large",
                        {file, std::to_string(kMaxCertificateFileBytes / 1024)});
    return std::nullopt;
}

} // namespace

std::optional<std::string> ExportJavaCertificate(const SettingsAccess& settings, const std::string& target,
                                                 bool replace) {
    const std::string keystore = settings.Read("Java", "keystore");
    const std::string alias = settings.Read("Java", "alias1");
    if (keystore.empty())
        return std::string(Tr("no key store is set (section [Java], keystore)"));
    if (!IsOrdinaryFile(keystore))
        return TrFormat("key store {1} not found", {keystore});
    bool existing = false;
    if (const std::string why = WhyNotWritten(target, keystore, replace, existing); !why.empty())
        return why; // said before keytool runs

    // keytool writes into a file of its own beside the target; what it wrote
    // is checked and only then put in place.
    RunOutput run;
    std::string der;
    {
        TempFile temp;
        try {
            ::close(temp.CreateBeside(target));
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        ::setenv(kPasswordVariable, settings.Read("Java", "storepass").c_str(), 1);
        run =
            RunAndWaitCapture("keytool -J-Duser.language=en -exportcert -keystore " +
                              QuotedArgument(keystore) + " -storepass:env " + kPasswordVariable + " -alias " +
                              CommandLineArgument(alias) + " -file " + QuotedArgument(temp.path()));
        ::unsetenv(kPasswordVariable);
        try {
            der = ReadWholeFile(temp.path());
        } catch (const std::exception&) {
            // reported below as no certificate
        }
    } // the temporary file goes before the certificate is written

    if (run.exitCode == -1)
        return std::string(Tr("keytool, which comes with Java, was not found on the search path"));
    if (run.exitCode != 0)
        return KeytoolReason(run.output, keystore, alias);
    if (!ParseDer(der))
        return TrFormat("keytool gave no certificate for alias \"{1}\" of key store {2}", {alias, keystore});
    return WriteCertificate(target, keystore, der, replace);
}

namespace {

// The certificate of alias in the key store file when it is a JKS store of
// a key store's size that JksCertificate reads.
std::optional<std::string> JksCertificateOfFile(const std::string& keystore, const std::string& alias,
                                                const std::string& password) {
    constexpr std::size_t kLargestStore = 1 << 20;
    std::string store;
    try {
        ReadFileInPieces(keystore, [&](const char* data, std::size_t n) {
            store.append(data, n);
            return store.size() <= kLargestStore;
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (store.size() > kLargestStore)
        return std::nullopt;
    return JksCertificate(store, alias, password);
}

} // namespace

std::optional<std::string> JavaSigningCertificate(const SettingsAccess& settings, std::string& error) {
    const std::string keystore = settings.Read("Java", "keystore");
    const std::string alias = settings.Read("Java", "alias1");
    if (!IsOrdinaryFile(keystore)) {
        error = TrFormat("key store {1} not found", {keystore});
        return std::nullopt;
    }
    // A JKS store (the default key store is one) is read here, without a
    // Java machine; anything else, or a store this cannot read, by keytool.
    if (const std::optional<std::string> der =
            JksCertificateOfFile(keystore, alias, settings.Read("Java", "storepass")))
        return der;
    // As PEM on keytool's output, which the run captures and does not show.
    ::setenv(kPasswordVariable, settings.Read("Java", "storepass").c_str(), 1);
    const RunOutput run = RunAndWaitCapture("keytool -J-Duser.language=en -exportcert -rfc -keystore " +
                                            QuotedArgument(keystore) + " -storepass:env " +
                                            kPasswordVariable + " -alias " + CommandLineArgument(alias));
    ::unsetenv(kPasswordVariable);
    if (run.exitCode != 0) {
        error = run.exitCode == -1
                    ? std::string(Tr("keytool, which comes with Java, was not found on the search path"))
                    : KeytoolReason(run.output, keystore, alias);
        return std::nullopt;
    }
    const std::string der = FirstCertificateAsDer(run.output);
    if (der.empty()) {
        error = TrFormat("keytool gave no certificate for alias \"{1}\" of key store {2}", {alias, keystore});
        return std::nullopt;
    }
    return der;
}

std::optional<std::string> ExportSymbianCertificate(const SettingsAccess& settings, const std::string& target,
                                                    bool replace) {
    const std::string file = settings.Read("Symbian", "certificate");
    if (file.empty())
        return std::string(Tr("no Symbian certificate is set (section [Symbian], certificate)"));
    if (!IsOrdinaryFile(file))
        return TrFormat("Symbian certificate {1} not found", {file});
    std::string bytes;
    if (auto why = ReadCertificateFile(file, bytes))
        return why;
    const std::string der = FirstCertificateAsDer(bytes);
    if (der.empty())
        return TrFormat("Symbian certificate {1} holds no certificate (neither PEM nor DER)", {file});
    return WriteCertificate(target, file, der, replace);
}

} // namespace jarseal
