#pragma once

// The status codes a MIDP phone's installer reports when it refuses a suite,
// each with the installer's own name and its meaning in the program's words:
// the one home of these numbers.

#include <ostream>

namespace jarseal {

enum class InstallerStatus : int {
    None = 0,                    // a note: nothing that stops installation
    SymbianRefused = 1,          // a Symbian installer's refusal (it shows no number)
    JarSizeMismatch = 904,       // the jar's size is not the descriptor's MIDlet-Jar-Size
    AttributeMismatch = 905,     // descriptor and manifest give an attribute different values
    InvalidDescriptor = 906,     // the descriptor breaks its syntax or lacks an attribute
    InvalidJar = 907,            // the jar cannot be read, or its manifest or classes are wrong
    IncompatibleProfile = 908,   // the suite needs a newer profile or configuration
    AuthenticationFailure = 909, // the signature or a certificate does not verify
    AuthorizationFailure = 910,  // a permission cannot be granted
};

// The number the installer shows (0 for a note, 1 for a Symbian refusal).
constexpr int Number(InstallerStatus status) {
    return static_cast<int>(status);
}

// The installer's name of the status ("Attribute Mismatch").
constexpr const char* InstallerName(InstallerStatus status) {
    switch (status) {
    case InstallerStatus::None:
        return "Success";
    case InstallerStatus::SymbianRefused:
        return "Installation Refused";
    case InstallerStatus::JarSizeMismatch:
        return "JAR Size Mismatch";
    case InstallerStatus::AttributeMismatch:
        return "Attribute Mismatch";
    case InstallerStatus::InvalidDescriptor:
        return "Invalid Descriptor";
    case InstallerStatus::InvalidJar:
        return "Invalid JAR";
    case InstallerStatus::IncompatibleProfile:
        return "Incompatible Configuration or Profile";
    case InstallerStatus::AuthenticationFailure:
        return "Application Authentication Failure";
    case InstallerStatus::AuthorizationFailure:
        return "Application Authorization Failure";
    }
    return "";
}

// What the status means, in the words the program shows its user.
constexpr const char* Meaning(InstallerStatus status) {
    switch (status) {
    case InstallerStatus::JarSizeMismatch:
        return "размер jar файла не совпадает с указанным в дескрипторе";
    case InstallerStatus::AttributeMismatch:
        return "атрибуты дескриптора и манифеста различаются";
    case InstallerStatus::InvalidDescriptor:
        return "неверный дескриптор";
    case InstallerStatus::InvalidJar:
        return "неверный jar файл";
    case InstallerStatus::AuthenticationFailure:
        return "подпись или сертификат не проходят проверку";
    case InstallerStatus::AuthorizationFailure:
        return "разрешения не могут быть предоставлены";
    case InstallerStatus::None:
    case InstallerStatus::SymbianRefused:
    case InstallerStatus::IncompatibleProfile:
        break;
    }
    return "отказ установки";
}

// A status as its number, for messages and test output.
inline std::ostream& operator<<(std::ostream& out, InstallerStatus status) {
    return out << Number(status);
}

} // namespace jarseal
