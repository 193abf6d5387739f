#pragma once

#include "common/SettingsAccess.h"

#include <cstdint>
#include <optional>
#include <string>

namespace jarseal {

// A self-signed suite or package installs on a phone only when its
// certificate is installed there as a root. These write that certificate,
// DER-encoded (a ".cer" file phones open), to target: written beside it and
// put in place only when complete. A target that exists is refused unless
// replace is set, and then only an ordinary file that is not the one the
// certificate comes from is replaced; a symbolic link is never written
// through nor replaced. Each returns nullopt when the file is written,
// otherwise the reason in one line, and then no file is left and target is
// as it was.

// The certificate the Java job signs with: that of alias "alias1" in the key
// store "keystore", opened with "storepass" (section "Java"), as keytool
// exports it. A relative key store path is taken from the current folder, as
// the JAD tool takes it.
std::optional<std::string> ExportJavaCertificate(const SettingsAccess& settings, const std::string& target,
                                                 bool replace = false);

// The same certificate as DER, read without writing a file; nullopt, with
// error set as the export would say it, when it cannot be read.
std::optional<std::string> JavaSigningCertificate(const SettingsAccess& settings, std::string& error);

// The certificate the Symbian job signs with: the first one of the file
// "certificate" of section "Symbian", PEM or DER, of at most
// kMaxCertificateFileBytes.
inline constexpr std::uint64_t kMaxCertificateFileBytes = 1024 * 1024;
std::optional<std::string> ExportSymbianCertificate(const SettingsAccess& settings, const std::string& target,
                                                    bool replace = false);

} // namespace jarseal
