#pragma once

// The certificate of an alias in a JKS key store, read in-process: keytool
// would start a Java machine only to print it.

#include <optional>
#include <string>

namespace jarseal {

// The DER of the certificate keytool -exportcert gives for alias (compared
// without letter case, as JKS keeps its aliases) in store, the bytes of a
// JKS key store whose integrity digest matches password (UTF-8, as the
// settings hold it). nullopt when store is no JKS store this reads, the
// digest does not match, the alias is missing or anything is out of place:
// the caller then asks keytool, which says why.
std::optional<std::string> JksCertificate(const std::string& store, const std::string& alias,
                                          const std::string& password);

} // namespace jarseal
