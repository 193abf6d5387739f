#include "app/SkipSigned.h"

#include "check/Base64.h"

#include "SignSis.h"
#include "SisCrypto.h"
#include "SisFormat.h"
#include "app/CertificateExport.h"
#include "check/Attributes.h"
#include "check/SuiteCheck.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "symbian/SisCheck.h"

#include <openssl/evp.h>
#include <sys/stat.h>

namespace jarseal {

namespace {

// The bytes of a base64 text; empty when it is none.
std::string Base64Decode(const std::string& text) {
    bool ok = false;
    return jarseal::Base64Decode(text, ok);
}

// The value of an attribute of a descriptor text, trimmed; empty when it
// has none.
std::string AttributeOf(const std::string& text, const std::string& name) {
    const check::Attributes attrs = check::ParseLeniently(text, check::Lenient::Descriptor);
    const std::string* value = check::Find(attrs, name);
    return value ? *value : std::string();
}

// The first certificate of a list, alone, as DER.
std::string FirstAsDer(std::vector<signsis::CertPtr> certs) {
    if (certs.empty())
        return {};
    certs.resize(1);
    return signsis::ToDer(certs);
}

// True when the file at where is no older than the file at from.
bool NoOlder(const std::string& where, const std::string& from) {
    struct stat a {};
    struct stat b {};
    if (::stat(where.c_str(), &a) != 0 || ::stat(from.c_str(), &b) != 0)
        return false;
    return a.st_mtim.tv_sec > b.st_mtim.tv_sec ||
           (a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec >= b.st_mtim.tv_nsec);
}

} // namespace

const std::string& SignedPackages::JavaCertificate() {
    const std::lock_guard<std::mutex> hold(reading_);
    if (!java_) {
        std::string error;
        java_ = JavaSigningCertificate(settings_, error).value_or(std::string());
    }
    return *java_;
}

const std::string& SignedPackages::SymbianCertificate() {
    const std::lock_guard<std::mutex> hold(reading_);
    if (!symbian_) {
        try {
            symbian_ = FirstAsDer(
                signsis::LoadCertificates(ReadWholeFile(settings_.Read("Symbian", "certificate"))));
        } catch (const std::exception&) {
            symbian_ = std::string();
        }
    }
    return *symbian_;
}

bool SignedPackages::AlreadySigned(const std::string& package, const std::string& where,
                                   std::string* jarSha1) {
    try {
        if (EndsWith(where, ".jar") || EndsWith(where, ".jad")) {
            const std::string stem = where.substr(0, where.size() - 1);
            const std::string descriptor = stem + "d";
            const std::string archive = stem + "r";
            if (KindOfPath(descriptor) != PathKind::Ordinary || KindOfPath(archive) != PathKind::Ordinary)
                return false;
            if (where != package) {
                const std::string packageStem = package.substr(0, package.size() - 1);
                if (!NoOlder(archive, packageStem + "r"))
                    return false;
            }
            const std::string certificate =
                Base64Decode(AttributeOf(ReadWholeFile(descriptor), "MIDlet-Certificate-1-1"));
            if (certificate.empty() || certificate != JavaCertificate())
                return false;
            const CheckReport report = CheckJavaSuite(descriptor, archive);
            if (report.Refused() || report.trust != SuiteTrust::NeedsRoot)
                return false;
            if (jarSha1 != nullptr)
                *jarSha1 = report.jarSha1;
            return true;
        }
        if (KindOfPath(where) != PathKind::Ordinary || (where != package && !NoOlder(where, package)))
            return false;
        const signsis::Package pkg = signsis::ParsePackage(ReadWholeFile(where));
        if (pkg.chains.empty() || SymbianCertificate().empty() ||
            FirstAsDer(signsis::ParseDerCertificates(pkg.chains.back().certificates)) != SymbianCertificate())
            return false;
        return !CheckPackageOtherThanJava(where).Refused();
    } catch (const std::exception&) {
        return false; // what cannot be read is signed again, and the job says why
    }
}

std::string SignerCertificateOf(const std::string& where) {
    try {
        if (EndsWith(where, ".jar") || EndsWith(where, ".jad"))
            return Base64Decode(AttributeOf(ReadWholeFile(where.substr(0, where.size() - 1) + "d"),
                                            "MIDlet-Certificate-1-1"));
        const signsis::Package pkg = signsis::ParsePackage(ReadWholeFile(where));
        if (pkg.chains.empty())
            return {};
        return FirstAsDer(signsis::ParseDerCertificates(pkg.chains.back().certificates));
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace jarseal
