#include "check/SuiteCheck.h"

#include "check/Sha1.h"
#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/IdleThread.h"
#include "common/Manifest.h"
#include "common/Text.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <zip.h>

#include "SignSis.h"

namespace jarseal {

namespace {

constexpr int kInvalidDescriptor = 906;
constexpr int kJarSizeMismatch = 904;
constexpr int kAttributeMismatch = 905;
constexpr int kInvalidJar = 907;
constexpr int kAuthentication = 909;
constexpr int kAuthorization = 910;

// The largest manifest read from a jar; real ones are a few kilobytes.
constexpr zip_uint64_t kMaxManifestBytes = 8u * 1024 * 1024;

using Attributes = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Attributes& attrs, const std::string& name) {
    for (const auto& [n, v] : attrs)
        if (n == name)
            return &v;
    return nullptr;
}

bool ValidName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_';
    });
}

// Reads the descriptor strictly, noting every line a strict installer refuses.
Attributes ParseDescriptor(const std::string& text, CheckReport& report) {
    Attributes attrs;
    std::size_t start = 0;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        report.findings.push_back({kInvalidDescriptor, "descriptor: starts with a byte-order mark"});
        start = 3;
    }
    std::set<std::string> seen;
    int number = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = "descriptor line " + std::to_string(number) + ": ";
        if (TrimBlanksAndTabs(line).empty())
            continue;
        if (line[0] == ' ' || line[0] == '\t') {
            report.findings.push_back({kInvalidDescriptor, where + "starts with a blank (a descriptor has no "
                                                                   "continuation lines)"});
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            report.findings.push_back({kInvalidDescriptor, where + "is not \"name: value\""});
            continue;
        }
        const std::string name = line.substr(0, colon);
        if (!ValidName(name)) {
            report.findings.push_back(
                {kInvalidDescriptor, where + "\"" + name + "\" is not a valid attribute name"});
            continue;
        }
        if (!seen.insert(name).second)
            report.findings.push_back({kInvalidDescriptor, where + name + " appears twice"});
        attrs.emplace_back(name, TrimBlanksAndTabs(line.substr(colon + 1)));
    }
    return attrs;
}

// The main section of a manifest, continuation lines joined.
Attributes ParseManifest(const std::string& text) {
    Attributes attrs;
    for (const auto& line : ManifestLines(text)) {
        if (line.empty())
            break; // the per-entry sections follow
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        attrs.emplace_back(line.substr(0, colon), TrimBlanksAndTabs(line.substr(colon + 1)));
    }
    return attrs;
}

// The manifest of the jar file; false when the jar is no zip or has none.
bool ReadManifest(const std::string& jarPath, std::string& manifest, std::string& why) {
    int code = 0;
    zip_t* archive = zip_open(jarPath.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        why = "is not a zip archive";
        return false;
    }
    std::unique_ptr<zip_t, decltype(&zip_discard)> guard(archive, zip_discard);
    const zip_int64_t index = zip_name_locate(archive, "META-INF/MANIFEST.MF", ZIP_FL_NOCASE);
    zip_stat_t st;
    if (index < 0 || zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &st) != 0) {
        why = "has no META-INF/MANIFEST.MF";
        return false;
    }
    if (st.size > kMaxManifestBytes) {
        why = "has a manifest larger than 8 MiB";
        return false;
    }
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        why = "has a manifest that cannot be read";
        return false;
    }
    manifest.assign(static_cast<std::size_t>(st.size), '\0');
    const zip_int64_t n = zip_fread(file, manifest.data(), st.size);
    zip_fclose(file);
    if (n < 0 || static_cast<zip_uint64_t>(n) != st.size) {
        why = "has a damaged manifest";
        return false;
    }
    return true;
}

// One reading of the jar's facts; stop, when set, abandons it (the facts are
// then incomplete and must not be used).
JarFacts ReadJarFactsOnce(const std::string& archivePath, const std::atomic<bool>* stop) {
    const auto stopped = [&] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
    JarFacts facts;
    Sha1 sha;
    try {
        facts.stamp = ReadFileInPieces(archivePath, [&](const char* data, std::size_t size) {
            sha.Update(data, size);
            facts.size += size;
            return !stopped();
        });
    } catch (const RunError& e) {
        facts.readError = e.what();
        return facts;
    }
    facts.sha1 = sha.Final();
    if (!stopped())
        ReadManifest(archivePath, facts.manifest, facts.manifestWhy);
    return facts;
}

std::string Base64Decode(const std::string& text, bool& ok) {
    ok = !text.empty() && text.size() % 4 == 0;
    if (!ok)
        return {};
    std::string out(text.size() / 4 * 3, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) {
        ok = false;
        return {};
    }
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i)
        --size;
    out.resize(size);
    return out;
}

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

std::string NameText(const X509_NAME* name) {
    char buf[512] = {};
    X509_NAME_oneline(name, buf, sizeof buf);
    return buf;
}

// Verifies an RSA PKCS#1 v1.5 signature over a SHA-1 digest; the digest is
// computed by the caller, so a crypto policy against SHA-1 signatures does
// not stand in the way of checking one.
bool VerifySha1Rsa(X509* cert, const std::array<unsigned char, SHA_DIGEST_LENGTH>& digest,
                   const std::string& signature) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(X509_get_pubkey(cert), EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) == 1 &&
           EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                           signature.size(), digest.data(), digest.size()) == 1;
}

void CheckSignature(const Attributes& jad, const std::array<unsigned char, SHA_DIGEST_LENGTH>& jarDigest,
                    CheckReport& report) {
    const std::string* signature = Find(jad, "MIDlet-Jar-RSA-SHA1");
    std::vector<X509Ptr> chain;
    for (int m = 1;; ++m) {
        const std::string* text = Find(jad, "MIDlet-Certificate-1-" + std::to_string(m));
        if (text == nullptr)
            break;
        bool ok = false;
        const std::string der = Base64Decode(*text, ok);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509Ptr cert(ok ? d2i_X509(nullptr, &p, static_cast<long>(der.size())) : nullptr, X509_free);
        if (!cert) {
            report.findings.push_back({kAuthentication, "MIDlet-Certificate-1-" + std::to_string(m) +
                                                            " is not a base64 DER certificate"});
            return;
        }
        chain.push_back(std::move(cert));
    }
    if (signature == nullptr) {
        if (!chain.empty())
            report.findings.push_back({kAuthentication, "certificates without MIDlet-Jar-RSA-SHA1"});
        return;
    }
    if (chain.empty()) {
        report.findings.push_back({kAuthentication, "MIDlet-Jar-RSA-SHA1 without MIDlet-Certificate-1-1"});
        return;
    }
    bool ok = false;
    const std::string signatureBytes = Base64Decode(*signature, ok);
    if (!ok || !VerifySha1Rsa(chain[0].get(), jarDigest, signatureBytes))
        report.findings.push_back({kAuthentication,
                                   "MIDlet-Jar-RSA-SHA1 does not verify against the jar with "
                                   "MIDlet-Certificate-1-1"});
    for (std::size_t i = 0; i < chain.size(); ++i) {
        X509* cert = chain[i].get();
        const std::string which = "MIDlet-Certificate-1-" + std::to_string(i + 1);
        if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
            report.findings.push_back({kAuthentication, which + " is not valid yet"});
        if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
            report.findings.push_back({kAuthentication, which + " has expired"});
        const bool selfSigned = X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
        if (selfSigned && chain.size() > 1)
            report.findings.push_back({kAuthentication, which + " is a root certificate (" +
                                                            NameText(X509_get_subject_name(cert)) +
                                                            "); the phone holds its roots, leave it out"});
        else if (selfSigned)
            report.findings.push_back({0, which + " is self-signed (" +
                                              NameText(X509_get_subject_name(cert)) +
                                              "): only a phone holding it as a root accepts the suite"});
        if (i + 1 < chain.size() &&
            X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(chain[i + 1].get())) != 0)
            report.findings.push_back({kAuthentication, which + " was not issued by the next certificate"});
    }
}

void CheckPermissions(const Attributes& attrs, const std::string& where, CheckReport& report) {
    for (const char* name : {"MIDlet-Permissions", "MIDlet-Permissions-Opt"}) {
        const std::string* value = Find(attrs, name);
        if (value == nullptr)
            continue;
        const bool critical = std::string(name) == "MIDlet-Permissions";
        std::size_t start = 0;
        while (start <= value->size()) {
            auto end = value->find(',', start);
            if (end == std::string::npos)
                end = value->size();
            const std::string permission = TrimBlanksAndTabs(value->substr(start, end - start));
            start = end + 1;
            if (permission.empty() || KnownPermissionName(permission))
                continue;
            if (critical)
                report.findings.push_back(
                    {kAuthorization, where + name + " names the unknown permission \"" + permission + "\""});
            else
                report.findings.push_back({0, where + name + " names the unknown permission \"" + permission +
                                                  "\"; the phone drops it"});
        }
    }
}

} // namespace

bool CheckReport::Refused() const {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.code != 0; });
}

bool CheckReport::Has(int code) const {
    return std::any_of(findings.begin(), findings.end(), [code](const Finding& f) { return f.code == code; });
}

bool KnownPermissionName(const std::string& name) {
    static const std::set<std::string> known = {
        "javax.microedition.io.Connector.http",
        "javax.microedition.io.Connector.https",
        "javax.microedition.io.Connector.socket",
        "javax.microedition.io.Connector.serversocket",
        "javax.microedition.io.Connector.ssl",
        "javax.microedition.io.Connector.datagram",
        "javax.microedition.io.Connector.datagramreceiver",
        "javax.microedition.io.Connector.comm",
        "javax.microedition.io.PushRegistry",
        "javax.microedition.io.Connector.file.read",
        "javax.microedition.io.Connector.file.write",
        "javax.microedition.io.Connector.sms",
        "javax.microedition.io.Connector.mms",
        "javax.microedition.io.Connector.cbs",
        "javax.wireless.messaging.sms.send",
        "javax.wireless.messaging.sms.receive",
        "javax.wireless.messaging.mms.send",
        "javax.wireless.messaging.mms.receive",
        "javax.wireless.messaging.cbs.receive",
        "javax.microedition.io.Connector.bluetooth.client",
        "javax.microedition.io.Connector.bluetooth.server",
        "javax.microedition.io.Connector.obex.client",
        "javax.microedition.io.Connector.obex.server",
        "javax.microedition.io.Connector.obex.client.tcp",
        "javax.microedition.io.Connector.obex.server.tcp",
        "javax.microedition.io.Connector.irdaobex",
        "javax.microedition.io.Connector.sip",
        "javax.microedition.io.Connector.sips",
        "javax.microedition.pim.ContactList.read",
        "javax.microedition.pim.ContactList.write",
        "javax.microedition.pim.EventList.read",
        "javax.microedition.pim.EventList.write",
        "javax.microedition.pim.ToDoList.read",
        "javax.microedition.pim.ToDoList.write",
        "javax.microedition.media.control.RecordControl",
        "javax.microedition.media.control.VideoControl.getSnapshot",
        "javax.microedition.location.Location",
        "javax.microedition.location.Orientation",
        "javax.microedition.location.ProximityListener",
        "javax.microedition.location.LandmarkStore.read",
        "javax.microedition.location.LandmarkStore.write",
        "javax.microedition.location.LandmarkStore.category",
        "javax.microedition.location.LandmarkStore.management",
        "javax.microedition.apdu.aid",
        "javax.microedition.apdu.sat",
        "javax.microedition.jcrmi",
        "javax.microedition.payment.process",
        "javax.microedition.securityservice.CMSMessageSignatureService",
        "javax.microedition.amms.control.camera.enableShutterFeedback",
        "javax.microedition.amms.control.tuner.setPreset",
        "javax.microedition.content.ContentHandler",
    };
    return known.count(name) != 0;
}

CheckReport CheckPackageOtherThanJava(const std::string& path) {
    CheckReport report;
    std::string file;
    try {
        file = ReadWholeFile(path);
    } catch (const RunError& e) {
        report.findings.push_back({kSisRefused, std::string("cannot be read: ") + e.what()});
        return report;
    }
    auto uid = [&](std::size_t i) {
        std::uint32_t v = 0;
        for (int b = 3; b >= 0; --b)
            v = (v << 8) | static_cast<unsigned char>(file[i * 4 + static_cast<std::size_t>(b)]);
        return v;
    };
    if (file.size() < 16) {
        report.findings.push_back({kSisRefused, "is too short to be a Symbian package"});
        return report;
    }
    char uids[64];
    std::snprintf(uids, sizeof uids, "UID1 0x%08X, UID2 0x%08X, UID3 0x%08X", uid(0), uid(1), uid(2));
    if (uid(0) != 0x10201A7A) {
        const bool legacy = uid(2) == 0x10000419 && (uid(1) == 0x1000006D || uid(1) == 0x10003A12);
        if (legacy)
            report.findings.push_back({0, std::string("legacy (pre-Symbian 9) package, ") + uids +
                                              ": installs on older phones only, and is not signed"});
        else
            report.findings.push_back({kSisRefused, std::string("is no Symbian package (") + uids + ")"});
        return report;
    }
    report.findings.push_back({0, std::string("Symbian 9 package, ") + uids});
    // The signing tool's report names every chain and whether it verifies.
    std::ostringstream out;
    const int status = signsis::RunSignSis({"-o", path}, out);
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            report.findings.push_back({0, line});
    if (status != 0)
        report.findings.push_back(
            {kSisRefused, "a signature chain does not verify, or the package is damaged"});
    else if (out.str().find("The package is not signed.") != std::string::npos)
        report.findings.push_back(
            {kSisRefused, "is not signed: Symbian 9 phones install only signed packages"});
    return report;
}

JarFacts ReadJarFacts(const std::string& archivePath) {
    // A jar written to while it was read is read again, so that its size,
    // manifest and digest all describe one state of it.
    JarFacts facts = ReadJarFactsOnce(archivePath, nullptr);
    for (int again = 0; again < 2 && facts.readError.empty() && StampOfFile(archivePath) != facts.stamp;
         ++again)
        facts = ReadJarFactsOnce(archivePath, nullptr);
    return facts;
}

struct JarFactsAhead::Reading {
    std::string path;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false}; // facts holds what was read
    JarFacts facts;
};

JarFactsAhead::JarFactsAhead(std::string archivePath) : reading_(std::make_shared<Reading>()) {
    reading_->path = std::move(archivePath);
    try {
        std::thread([reading = reading_] {
            RunThisThreadWhenIdle();
            try {
                JarFacts facts = ReadJarFactsOnce(reading->path, &reading->stop);
                if (!reading->stop) {
                    reading->facts = std::move(facts);
                    reading->done.store(true, std::memory_order_release);
                }
            } catch (...) {
                // Take reads the jar itself.
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: Take reads the jar itself.
    }
}

JarFactsAhead::~JarFactsAhead() {
    reading_->stop = true;
}

JarFacts JarFactsAhead::Take() {
    // Never waits: a thread of the idle class may not get a core for
    // seconds while other programs keep them busy.
    reading_->stop = true;
    if (reading_->done.load(std::memory_order_acquire)) {
        JarFacts& facts = reading_->facts;
        if (facts.readError.empty() && StampOfFile(reading_->path) == facts.stamp)
            return std::move(facts);
    }
    return ReadJarFacts(reading_->path);
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath) {
    return CheckJavaSuite(descriptorPath, archivePath, [&] { return ReadJarFacts(archivePath); });
}

CheckReport CheckJavaSuite(const std::string& descriptorPath, const std::string& archivePath,
                           const std::function<JarFacts()>& jarFacts) {
    CheckReport report;
    std::string jadText;
    try {
        jadText = ReadWholeFile(descriptorPath);
    } catch (const RunError& e) {
        report.findings.push_back(
            {kInvalidDescriptor, std::string("descriptor cannot be read: ") + e.what()});
        return report;
    }
    const Attributes jad = ParseDescriptor(jadText, report);
    for (const char* name :
         {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor", "MIDlet-Jar-URL", "MIDlet-Jar-Size"})
        if (Find(jad, name) == nullptr)
            report.findings.push_back({kInvalidDescriptor, std::string("descriptor lacks ") + name});
    CheckPermissions(jad, "descriptor: ", report);

    const JarFacts jar = jarFacts();
    if (!jar.readError.empty()) {
        report.findings.push_back({kInvalidJar, "jar cannot be read: " + jar.readError});
        return report;
    }
    if (const std::string* size = Find(jad, "MIDlet-Jar-Size"); size && *size != std::to_string(jar.size))
        report.findings.push_back({kJarSizeMismatch, "MIDlet-Jar-Size is " + *size + ", the jar has " +
                                                         std::to_string(jar.size) + " bytes"});
    if (const std::string* url = Find(jad, "MIDlet-Jar-URL")) {
        const std::string jarName = archivePath.substr(archivePath.find_last_of(kSep) + 1);
        const std::string urlName = url->substr(url->find_last_of('/') + 1);
        if (urlName != jarName)
            report.findings.push_back(
                {kInvalidDescriptor, "MIDlet-Jar-URL \"" + *url + "\" does not name " + jarName});
    }

    if (!jar.manifestWhy.empty()) {
        report.findings.push_back({kInvalidJar, "the jar " + jar.manifestWhy});
        return report;
    }
    const Attributes manifest = ParseManifest(jar.manifest);
    for (const char* name : {"MIDlet-1", "MicroEdition-Profile", "MicroEdition-Configuration"})
        if (Find(jad, name) == nullptr && Find(manifest, name) == nullptr)
            report.findings.push_back(
                {kInvalidDescriptor, std::string("neither descriptor nor manifest has ") + name});
    for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"}) {
        const std::string* inJad = Find(jad, name);
        const std::string* inManifest = Find(manifest, name);
        if (inManifest == nullptr)
            report.findings.push_back({kInvalidJar, std::string("manifest lacks ") + name});
        else if (inJad && *inJad != *inManifest)
            report.findings.push_back({kAttributeMismatch, std::string(name) + " differs: descriptor \"" +
                                                               *inJad + "\", manifest \"" + *inManifest +
                                                               "\""});
    }
    CheckPermissions(manifest, "manifest: ", report);

    const bool signedSuite = Find(jad, "MIDlet-Jar-RSA-SHA1") || Find(jad, "MIDlet-Certificate-1-1");
    if (signedSuite) {
        for (const auto& [name, value] : jad) {
            if (name == "MIDlet-Name" || name == "MIDlet-Version" || name == "MIDlet-Vendor")
                continue; // reported above
            const std::string* inManifest = Find(manifest, name);
            if (inManifest && *inManifest != value)
                report.findings.push_back({kAttributeMismatch, name +
                                                                   " differs between descriptor and manifest "
                                                                   "of a signed suite"});
        }
        CheckSignature(jad, jar.sha1, report);
    }
    return report;
}

} // namespace jarseal
