#include "SignSis.h"

#include "SisCrypto.h"
#include "SisFormat.h"

#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace jarseal::signsis {

namespace {

const char kUsage[] =
    "Usage: signsis [-?] [-c(r|d)] [-o[-p]] [-s] [-u] [-v] input [output [certificate key [passphrase]]]\n"
    "  -s   sign the package (the default): input output certificate key [passphrase]\n"
    "  -u   remove the last signature: input [output]\n"
    "  -o   report the signatures (after any other operation) and verify them\n"
    "  -p   with -o, also write each chain's certificates as PEM files\n"
    "  -cr  sign with RSA, -cd with DSA (otherwise the key decides)\n"
    "  -v   verbose\n"
    "  -?   this help\n"
    "Exit status: 0 success, 4 command-line error, 1 any other failure.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    bool sign = false, unsign = false, report = false, pem = false, verbose = false, help = false;
    char algorithm = 0; // 'r', 'd' or none
    std::vector<std::string> files;
};

// Applies a switch group ("o", "cr", "op"...); false when a letter is unknown.
bool ApplySwitches(const std::string& letters, Options& o) {
    if (letters.empty())
        return false;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        switch (std::tolower(static_cast<unsigned char>(letters[i]))) {
        case '?':
        case 'h':
            o.help = true;
            break;
        case 's':
            o.sign = true;
            break;
        case 'u':
            o.unsign = true;
            break;
        case 'o':
            o.report = true;
            break;
        case 'p':
            o.pem = true;
            break;
        case 'v':
            o.verbose = true;
            break;
        case 'c': {
            if (i + 1 >= letters.size())
                return false;
            const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(letters[++i])));
            if (a != 'r' && a != 'd')
                return false;
            o.algorithm = a;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    for (const auto& arg : args) {
        if (arg.size() > 1 && arg[0] == '-') {
            if (!ApplySwitches(arg.substr(1), o))
                throw UsageError("Unknown switch \"" + arg + "\".");
        } else if (arg.size() > 1 && arg[0] == '/' && arg.find('/', 1) == std::string::npos) {
            // "/o" style switches; a path such as "/pkg.sis" that is no switch
            // group stays a file name.
            Options trial = o;
            if (ApplySwitches(arg.substr(1), trial))
                o = trial;
            else
                o.files.push_back(arg);
        } else {
            o.files.push_back(arg);
        }
    }
    if (o.help)
        return o;
    if (o.sign && o.unsign)
        throw UsageError("-s and -u cannot be used together.");
    if (o.pem && !o.report)
        throw UsageError("-p is used only with -o.");
    const std::size_t n = o.files.size();
    if (n == 0)
        throw UsageError("No input package given.");
    if (!o.unsign && (o.sign || !o.report || n > 2))
        o.sign = true;
    if (o.sign && (n < 4 || n > 5))
        throw UsageError("Signing needs: input output certificate key [passphrase].");
    if (o.unsign && n > 2)
        throw UsageError("Removing a signature needs: input [output].");
    if (!o.sign && !o.unsign && n > 1)
        throw UsageError("Reporting needs only the input package.");
    if (o.algorithm && !o.sign)
        throw UsageError("-cr and -cd are used only when signing.");
    return o;
}

std::string ReadFileBytes(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SisError(std::string("Cannot open the ") + what + " \"" + path + "\": " + std::strerror(errno) +
                       ".");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw SisError(std::string("Cannot read the ") + what + " \"" + path + "\".");
    return bytes;
}

const char* KindName(KeyKind kind) {
    return kind == KeyKind::Rsa ? "RSA" : "DSA";
}

void WarnAboutValidity(const std::vector<CertPtr>& certs, std::ostream& out) {
    for (std::size_t i = 0; i < certs.size(); ++i) {
        const std::string problem = ValidityProblem(certs[i].get());
        if (!problem.empty())
            out << "Warning: certificate " << i + 1 << " (" << SubjectText(certs[i].get()) << ") " << problem
                << "; phones refuse to install packages signed with it.\n";
    }
}

void Sign(Package& pkg, const Options& o, std::ostream& out) {
    const std::vector<CertPtr> certs = LoadCertificates(ReadFileBytes(o.files[2], "certificate file"));
    const KeyPtr key = LoadPrivateKey(ReadFileBytes(o.files[3], "key file"),
                                      o.files.size() > 4 ? o.files[4] : std::string());
    const KeyKind kind = KindOf(key.get());
    if (o.algorithm && (o.algorithm == 'r') != (kind == KeyKind::Rsa))
        throw CryptoError(std::string("The key is ") + KindName(kind) + ", but " +
                          (o.algorithm == 'r' ? "-cr asks for RSA." : "-cd asks for DSA."));
    if (X509_check_private_key(certs.front().get(), key.get()) != 1)
        throw CryptoError("The key does not match the certificate (" + SubjectText(certs.front().get()) +
                          "): the first certificate of the file must be the key's own.");
    WarnAboutValidity(certs, out);
    if (!pkg.chains.empty())
        out << "Note: the package is already signed (" << pkg.chains.size()
            << " chain(s)); the new signature is added after the existing ones, which stay valid.\n";
    const std::string_view toSign = BytesToSign(pkg);
    const std::string signature = SignSha1(key.get(), toSign);
    if (o.verbose)
        out << "Signing " << toSign.size() << " controller bytes with " << KindName(kind)
            << "/SHA-1; signature of " << signature.size() << " bytes.\n";
    AppendChain(pkg, ChainField(OidOf(kind), signature, ToDer(certs)));
}

// The report on a package that parsed: every chain's certificates and
// whether each signature verifies.
PackageReport Facts(const Package& pkg) {
    PackageReport report;
    report.bareController = pkg.stub;
    report.noData = pkg.noData;
    report.controllerChecksumOk = pkg.controllerChecksumOk;
    report.dataChecksumOk = pkg.dataChecksumOk;
    report.controllers = pkg.controllers;
    for (const ChainView& chain : pkg.chains) {
        ChainReport r;
        std::vector<CertPtr> certs;
        try {
            certs = ParseDerCertificates(chain.certificates);
        } catch (const CryptoError& e) {
            r.certificatesRead = false;
            r.certificateError = e.what();
        }
        for (const CertPtr& cert : certs) {
            CertificateFacts c;
            c.subject = SubjectText(cert.get());
            c.issuer = IssuerText(cert.get());
            c.validity = ValidityText(cert.get());
            c.dateProblem = DateProblemOf(cert.get());
            c.validityProblem = ValidityProblem(cert.get());
            c.selfIssued = X509_check_issued(cert.get(), cert.get()) == X509_V_OK;
            unsigned char* der = nullptr;
            const int n = i2d_X509(cert.get(), &der);
            if (n > 0)
                c.der.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
            OPENSSL_free(der);
            r.certificates.push_back(std::move(c));
        }
        EVP_PKEY* publicKey = certs.empty() ? nullptr : X509_get0_pubkey(certs.front().get());
        for (const SignatureView& sig : chain.signatures)
            r.signatures.emplace_back(
                sig.algorithm,
                publicKey && VerifySha1(publicKey, sig.algorithm, sig.blob, SignedBytesOf(pkg, chain)));
        report.chains.push_back(std::move(r));
    }
    return report;
}

// Prints the report; false when a chain has no signature that verifies.
bool Report(const PackageReport& report, const Options& o, const std::string& path, std::ostream& out) {
    if (!report.controllerChecksumOk)
        out << "Warning: the controller checksum is stale (phones do not check it).\n";
    if (!report.dataChecksumOk)
        out << "Warning: the data checksum is stale (phones do not check it).\n";
    if (report.bareController)
        out << "This file is a bare controller (a ROM stub): it holds no file data.\n";
    if (report.noData)
        out << "This package is a stub: it holds no file data (a phone takes the files from where they "
               "already are), so the files' hashes were not checked.\n";
    if (report.chains.empty()) {
        out << "The package is not signed.\n";
        return true;
    }
    bool allVerify = true;
    for (std::size_t i = 0; i < report.chains.size(); ++i) {
        const ChainReport& chain = report.chains[i];
        out << "Chain " << i + 1 << ":\n";
        if (!chain.certificateError.empty())
            out << "  " << chain.certificateError << "\n";
        for (std::size_t c = 0; c < chain.certificates.size(); ++c) {
            const CertificateFacts& cert = chain.certificates[c];
            out << "  Certificate " << c + 1 << ":\n"
                << "    Issuer:  " << cert.issuer << "\n"
                << "    Subject: " << cert.subject << "\n"
                << "    Valid:   " << cert.validity << "\n";
            if (!cert.validityProblem.empty())
                out << "    Warning: the certificate " << cert.validityProblem << ".\n";
        }
        for (std::size_t s = 0; s < chain.signatures.size(); ++s)
            out << "  Signature " << s + 1 << " (" << chain.signatures[s].first
                << "): " << (chain.signatures[s].second ? "verifies" : "DOES NOT VERIFY") << "\n";
        if (!chain.Verifies()) {
            allVerify = false;
            out << "  This chain does not verify.\n";
        }
        if (o.pem && !chain.certificates.empty()) {
            std::string pem;
            for (const CertificateFacts& cert : chain.certificates)
                for (const CertPtr& parsed : ParseDerCertificates(cert.der))
                    pem += ToPem(parsed.get());
            const std::string name = path + ".chain" + std::to_string(i + 1) + ".pem";
            WriteFileAtomically(name, pem);
            out << "  Certificates written to " << name << "\n";
        }
    }
    return allVerify;
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string temp = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".jarseal-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw SisError("Cannot write beside \"" + path + "\": " + std::strerror(errno) + ".");
    struct stat st {};
    mode_t mode;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    int saved = errno;
    // A file system without permissions (vfat, exFAT) refuses chmod; its
    // files all have the mode it was mounted with.
    ok = ok && (::fchmod(fd, mode) == 0 || errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP) &&
         ::fsync(fd) == 0;
    if (!ok)
        saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        throw SisError("Cannot write \"" + path + "\": " + std::strerror(saved) + ".");
    }
}

bool ChainReport::Verifies() const {
    return std::any_of(signatures.begin(), signatures.end(), [](const auto& s) { return s.second; });
}

PackageReport ReportOn(std::string_view file) {
    try {
        return Facts(ParsePackage(file));
    } catch (const SisError& e) {
        PackageReport report;
        report.damaged = true;
        report.damage = e.what();
        return report;
    } catch (const CryptoError& e) {
        PackageReport report;
        report.damaged = true;
        report.damage = e.what();
        return report;
    }
}

int RunSignSis(const std::vector<std::string>& args, std::ostream& out) {
    Options o;
    try {
        o = ParseArguments(args);
    } catch (const UsageError& e) {
        out << e.what() << "\n" << kUsage;
        return kExitUsage;
    }
    if (o.help) {
        out << kUsage;
        return kExitUsage;
    }
    try {
        const std::string& input = o.files[0];
        Package pkg = ParsePackage(ReadFileBytes(input, "package"));
        std::string target = input;
        if ((o.sign || o.unsign) && pkg.stub)
            throw SisError("This file is a bare controller (a ROM stub) with no file data; stubs are not "
                           "installed from this file and are not signed.");
        if (o.sign || o.unsign) {
            if (o.files.size() > 1)
                target = o.files[1];
            if (o.sign) {
                Sign(pkg, o, out);
            } else {
                RemoveLastChain(pkg);
            }
            WriteFileAtomically(target, SerializePackage(pkg));
            out << (o.sign ? "Signed: " : "Removed the last signature: ") << target << " ("
                << pkg.chains.size() << " signature chain(s) now).\n";
        }
        if (o.report && !Report(Facts(pkg), o, target, out)) {
            out << "Some signatures do not verify.\n";
            return kExitFailure;
        }
        return kExitOk;
    } catch (const SisError& e) {
        out << "Error: " << e.what() << "\n";
    } catch (const CryptoError& e) {
        out << "Error: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        out << "Error: out of memory.\n";
    }
    return kExitFailure;
}

} // namespace jarseal::signsis
