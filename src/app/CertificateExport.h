#pragma once

#include "common/SettingsAccess.h"

#include <optional>
#include <string>

namespace jarseal {

// A self-signed suite or package installs on a phone only when its
// certificate is installed there as a root. These write that certificate,
// DER-encoded (a ".cer" file phones open), to target: written beside it and
// renamed over it only when complete. Each returns nullopt when the file is
// written, otherwise the reason in one line, and then no file is left.

// The certificate the Java job signs with: that of alias "alias1" in the key
// store "keystore", opened with "storepass" (section "Java"), as keytool
// exports it. A relative key store path is taken from the current folder, as
// the JAD tool takes it.
std::optional<std::string> ExportJavaCertificate(const SettingsAccess& settings, const std::string& target);

// The certificate the Symbian job signs with: the first one of the file
// "certificate" of section "Symbian", PEM or DER.
std::optional<std::string> ExportSymbianCertificate(const SettingsAccess& settings,
                                                    const std::string& target);

} // namespace jarseal
