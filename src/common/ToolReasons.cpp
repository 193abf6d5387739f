#include "common/ToolReasons.h"

#include "common/Translate.h"

#include <vector>

namespace jarseal {

namespace {

// Each reason with its values as holes; the more particular before the more
// general where two could match one line.
const std::vector<const char*>& Patterns() {
    static const std::vector<const char*> patterns = {
        // The JAD tool, "jadtool: " and its reason.
        JARSEAL_N("jadtool: key store {1} not found"),
        JARSEAL_N("jadtool: {1} is not a JKS or PKCS12 key store"),
        JARSEAL_N("jadtool: wrong password for key store {1} (or the store is damaged)"),
        JARSEAL_N("jadtool: cannot read key store {1}: {2}"),
        JARSEAL_N("jadtool: alias \"{1}\" not found in the key store"),
        JARSEAL_N("jadtool: alias \"{1}\" has no certificate"),
        JARSEAL_N("jadtool: alias \"{1}\" has no RSA private key"),
        JARSEAL_N("jadtool: wrong key password for alias \"{1}\""),
        JARSEAL_N("jadtool: cannot read the key of alias \"{1}\": {2}"),
        JARSEAL_N("jadtool: cannot sign with the key of alias \"{1}\": {2}"),
        JARSEAL_N("jadtool: cannot read the key store: {1}"),
        JARSEAL_N("jadtool: jar file {1} not found"),
        JARSEAL_N("jadtool: cannot read jar file {1}: {2}"),
        JARSEAL_N("jadtool: cannot read the descriptor {1}: {2}"),
        JARSEAL_N("jadtool: the descriptor {1} is not valid {2} text"),
        JARSEAL_N("jadtool: line {1} of {2} continues no attribute"),
        JARSEAL_N("jadtool: line {1} of {2} is not \"name: value\""),
        JARSEAL_N("jadtool: line {1} of {2} has a malformed attribute name"),
        JARSEAL_N("jadtool: the descriptor cannot be written in {1}"),
        JARSEAL_N("jadtool: cannot write {1}: {2}"),
        JARSEAL_N("jadtool: unexpected failure: {1}"),
        // The Symbian signing tool, "Error: " and its reason, and the reasons
        // its package reader gives the check.
        JARSEAL_N("Error: {1}"),
        JARSEAL_N("Cannot open the certificate file \"{1}\": {2}."),
        JARSEAL_N("Cannot open the key file \"{1}\": {2}."),
        JARSEAL_N("Cannot open the input package \"{1}\": {2}."),
        JARSEAL_N("Cannot read the {1} \"{2}\"."),
        JARSEAL_N("Cannot write beside \"{1}\": {2}."),
        JARSEAL_N("Cannot write \"{1}\": {2}."),
        JARSEAL_N("The key does not match the certificate ({1})."),
        JARSEAL_N("The key file holds no readable private key ({1})."),
        JARSEAL_N("The package is truncated or damaged: {1}"),
        JARSEAL_N("The package is damaged: {1}"),
        JARSEAL_N("The file is too short to be an installation package ({1}"),
        JARSEAL_N("This is not a Symbian 9 installation package ({1}"),
        JARSEAL_N("Cannot sign with this key: {1}"),
        JARSEAL_N("Signing failed: {1}"),
        // The unzip's messages, a line each.
        JARSEAL_N("  End-of-central-directory signature not found.  Either this file is not"),
        JARSEAL_N("  a zipfile, or it is damaged or incomplete."),
        JARSEAL_N("unzip:  cannot find or open {1}."),
        JARSEAL_N("  error:  invalid compressed data or bad CRC in {1}"),
        JARSEAL_N("  error:  {1}:  the archive is damaged or incomplete"),
        JARSEAL_N("  error:  not enough memory for {1}"),
        JARSEAL_N("  error:  cannot read entry {1} of {2}"),
        JARSEAL_N("error:  {1} unpacks to more than {2} MiB; Jarseal skips it"),
        JARSEAL_N("   skipping: {1}  unsupported encryption method {2}"),
        JARSEAL_N("   skipping: {1}  unsupported compression method {2}"),
        JARSEAL_N("   skipping: {1}  unsupported compression method or encryption"),
        JARSEAL_N("   skipping: {1}  unable to get password"),
        JARSEAL_N("   skipping: {1}  unable to read the entry"),
        JARSEAL_N("   skipping: {1}  symbolic links are not extracted"),
        JARSEAL_N("   skipping: {1}  the name leads outside the target folder"),
        JARSEAL_N("   skipping: {1}  the name is empty"),
        JARSEAL_N("   skipping: {1}  a folder on its way is a link or not a folder"),
        JARSEAL_N("write error (disk full?):  {1}"),
        JARSEAL_N("error:  cannot write {1}"),
        JARSEAL_N("error:  cannot create {1}"),
        JARSEAL_N("warning [{1}]:  zipfile is empty"),
    };
    return patterns;
}

} // namespace

std::string TranslatedToolReason(const std::string& reason) {
    if (CatalogueLanguage().empty())
        return reason;
    // "Error: REASON": the reason itself may be one of the patterns too.
    const std::string error = "Error: ";
    if (reason.rfind(error, 0) == 0)
        return TrFormat("Error: {1}", {TranslatedToolReason(reason.substr(error.size()))});
    return TrMatching(reason, Patterns());
}

std::string TranslatedToolOutput(const std::string& output) {
    if (CatalogueLanguage().empty())
        return output;
    std::string out;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::size_t lineEnd = end;
        if (lineEnd > start && output[lineEnd - 1] == '\r')
            --lineEnd;
        out += TranslatedToolReason(output.substr(start, lineEnd - start)) +
               output.substr(lineEnd, end - lineEnd);
        if (end < output.size())
            out += '\n';
        start = end + 1;
    }
    return out;
}

} // namespace jarseal
