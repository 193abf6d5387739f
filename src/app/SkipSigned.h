#pragma once

#include "common/SettingsAccess.h"

#include <mutex>
#include <optional>
#include <string>

namespace jarseal {

// Tells which packages a run may leave out because this run's certificate
// signed them already (--skip-signed). The certificates are read from the
// settings at the first package that needs them, once a run: the Java one
// with keytool, the Symbian one from its file. Workers of a batch may ask at
// once.
class SignedPackages {
  public:
    explicit SignedPackages(const SettingsAccess& settings) : settings_(settings) {}

    // True when the package's signed files at where (the package itself, or
    // its output with --out) need no new signing: a suite whose descriptor
    // carries this run's certificate as MIDlet-Certificate-1-1, whose
    // signature verifies and which a phone holding the root would accept; a
    // Symbian package whose last signature chain is this run's certificate's
    // and which a phone would accept. Where is not the package, it must also
    // be no older than the package, so a package changed since its output
    // was written is signed again. For a suite left out, jarSha1 (when
    // given) receives its jar's SHA-1 digest as the check read it.
    bool AlreadySigned(const std::string& package, const std::string& where, std::string* jarSha1 = nullptr);

  private:
    const std::string& JavaCertificate();
    const std::string& SymbianCertificate();

    const SettingsAccess& settings_;
    std::mutex reading_;                 // while a certificate is read
    std::optional<std::string> java_;    // DER; empty when it cannot be read
    std::optional<std::string> symbian_; // DER; empty when it cannot be read
};

// The certificate that signed the package at where, as DER: a suite's
// MIDlet-Certificate-1-1 (where names its .jar or .jad), a Symbian
// package's last chain's signer. Empty when it has none or cannot be read.
std::string SignerCertificateOf(const std::string& where);

} // namespace jarseal
