#pragma once

#include "check/SuiteCheck.h"

#include <openssl/x509.h>
#include <string>

namespace jarseal {

// The largest RSA key many phones of the MIDP 2.0 era verify.
inline constexpr int kLargestKeyOldPhonesVerify = 2048;

// Notes on a certificate of a suite's chain (which names it, as
// "MIDlet-Certificate-1-1") that phones of the MIDP 2.0 era cannot verify,
// and so refuse the suite with 909 although newer tools take it: a
// certificate signature other than SHA-1 with RSA (keytool's default is
// SHA256withRSA), and an RSA key over kLargestKeyOldPhonesVerify bits.
void NoteKeyStrength(X509* cert, const std::string& which, CheckReport& report);

} // namespace jarseal
