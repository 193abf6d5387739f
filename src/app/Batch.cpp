#include "app/Batch.h"

#include "app/BatchReport.h"
#include "app/RunKeys.h"
#include "common/FileSystem.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "common/UserInterface.h"
#include "java/PermissionCatalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#ifndef JARSEAL_VERSION
#error "JARSEAL_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace jarseal {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsPackageName(const std::string& name) {
    return EndsWith(name, ".jar") || EndsWith(name, ".sis") || EndsWith(name, ".sisx");
}

// The file a package path stands for: a descriptor stands for its archive.
std::string PackageKey(const std::string& path) {
    return EndsWith(path, ".jad") ? path.substr(0, path.size() - 1) + "r" : path;
}

// The field of the options that takes the value of a signing option, or
// null.
std::optional<std::string>* RunValueOption(BatchOptions& options, const std::string& arg) {
    const std::string name = arg.substr(0, arg.find('='));
    std::optional<std::string>* fields[] = {&options.keystore,  &options.alias,       &options.storepass,
                                            &options.keypass,   &options.certificate, &options.key,
                                            &options.passphrase};
    const char* names[] = {"--keystore",    "--alias", "--storepass", "--keypass",
                           "--certificate", "--key",   "--passphrase"};
    for (std::size_t i = 0; i < std::size(names); ++i)
        if (name == names[i])
            return fields[i];
    return nullptr;
}

bool IsPasswordOption(const std::string& option) {
    return option == "--storepass" || option == "--keypass" || option == "--passphrase";
}

// A value of a run option as the option needs it: a password source of a
// form it knows, a file or name that is not empty.
bool CheckRunValue(const std::string& option, const std::string& value, std::string& error) {
    if (IsPasswordOption(option) && !ValidSecretSource(value)) {
        error = TrFormat("{1} needs pass:TEXT, env:VAR, file:PATH or stdin", {option});
        return false;
    }
    if (!IsPasswordOption(option) && value.empty()) {
        error = TrFormat("{1} needs a value", {option});
        return false;
    }
    return true;
}

// What goes together among the run options.
bool CheckRunOptions(const BatchOptions& options, std::string& error) {
    int fromInput = 0;
    for (const auto* source : {&options.storepass, &options.keypass, &options.passphrase})
        if (*source && ReadsStandardInput(**source))
            ++fromInput;
    if (fromInput > 1) {
        error = Tr("only one password can be read from stdin");
        return false;
    }
    const bool signs = options.keystore || options.alias || options.storepass || options.keypass ||
                       options.certificate || options.key || options.passphrase;
    if (options.check && (signs || !options.outDir.empty() || options.unsignedSuites || options.skipSigned ||
                          !options.reportFile.empty())) {
        error = Tr("--check takes no signing or output option");
        return false;
    }
    if (options.exportCertificate && (!options.outDir.empty() || options.unsignedSuites ||
                                      options.skipSigned || !options.reportFile.empty())) {
        error = Tr("--export-certificate takes no output option");
        return false;
    }
    if (options.unsignedSuites && options.skipSigned) {
        error = Tr("--unsigned does not go with --skip-signed");
        return false;
    }
    return true;
}

} // namespace

std::optional<PermissionOverride> ParsePermissionsOption(const std::string& text, std::string& error) {
    std::array<int, kPermissionGroupCount> boxes{};
    const std::string lower = Lower(text);
    if (lower == "auto")
        return PermissionOverride(PermissionMode::Automatic, boxes);
    if (lower == "none")
        return PermissionOverride(PermissionMode::User, boxes);
    std::size_t start = 0;
    while (start <= lower.size()) {
        auto end = lower.find(',', start);
        if (end == std::string::npos)
            end = lower.size();
        const std::string name = lower.substr(start, end - start);
        bool found = false;
        for (std::size_t i = 0; i < PermissionSet.size(); ++i) {
            if (Lower(std::string(PermissionSet[i].keyWritten)) == name ||
                Lower(std::string(PermissionSet[i].keyRead)) == name) {
                boxes[i] = kBoxChecked;
                found = true;
            }
        }
        if (!found) {
            error = TrFormat("unknown permission group \"{1}\"", {name});
            return std::nullopt;
        }
        start = end + 1;
    }
    return PermissionOverride(PermissionMode::User, boxes);
}

std::optional<BatchOptions> ParseBatchArguments(const std::vector<std::string>& args, std::string& error) {
    BatchOptions options;
    bool onlyPaths = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* option) -> std::optional<std::string> {
            const std::string prefix = std::string(option) + "=";
            if (a.rfind(prefix, 0) == 0)
                return a.substr(prefix.size());
            if (i + 1 < args.size())
                return args[++i];
            error = TrFormat("{1} needs a value", {option});
            return std::nullopt;
        };
        auto is = [&](const char* option) {
            return a == option || a.rfind(std::string(option) + "=", 0) == 0;
        };
        if (onlyPaths || a.empty() || a[0] != '-') {
            options.paths.push_back(a);
        } else if (a == "--") {
            onlyPaths = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--quiet" || a == "-q") {
            options.quiet = true;
        } else if (a == "--check") {
            options.check = true;
        } else if (a == "--default-keystore") {
            options.defaultKeystore = true;
        } else if (a == "--keep-jad-attributes") {
            options.keepDescriptorAttributes = true;
        } else if (a == "--resign") {
            options.resignSymbian = true;
        } else if (a == "--symbian") {
            options.symbian = true;
        } else if (a == "--force") {
            options.force = true;
        } else if (a == "--export-certificate") {
            options.exportCertificate = true;
        } else if (a.rfind("--export-certificate=", 0) == 0) {
            options.exportCertificate = true;
            options.exportFile = a.substr(a.find('=') + 1);
            if (options.exportFile.empty()) {
                error = Tr("--export-certificate needs a file name");
                return std::nullopt;
            }
        } else if (is("--permissions")) {
            const auto text = value("--permissions");
            if (!text)
                return std::nullopt;
            options.permissions = ParsePermissionsOption(*text, error);
            if (!options.permissions)
                return std::nullopt;
        } else if (is("--out")) {
            const auto text = value("--out");
            if (!text)
                return std::nullopt;
            if (text->empty()) {
                error = Tr("--out needs a folder");
                return std::nullopt;
            }
            options.outDir = *text;
        } else if (is("--jobs")) {
            const auto text = value("--jobs");
            if (!text)
                return std::nullopt;
            char* end = nullptr;
            const unsigned long jobs = text->empty() || !std::isdigit(static_cast<unsigned char>((*text)[0]))
                                           ? 0
                                           : std::strtoul(text->c_str(), &end, 10);
            if (jobs < 1 || jobs > 256 || end == nullptr || *end != '\0') {
                error = Tr("--jobs needs a number from 1 to 256");
                return std::nullopt;
            }
            options.jobs = static_cast<unsigned>(jobs);
        } else if (is("--report")) {
            const auto text = value("--report");
            if (!text)
                return std::nullopt;
            if (!ReportFormOf(*text)) {
                error = Tr("--report needs a file name ending in .json or .tsv");
                return std::nullopt;
            }
            options.reportFile = *text;
        } else if (is("--zip-password")) {
            const auto text = value("--zip-password");
            if (!text)
                return std::nullopt;
            options.zipPassword = *text;
        } else if (a == "--unsigned") {
            options.unsignedSuites = true;
        } else if (a == "--skip-signed") {
            options.skipSigned = true;
        } else if (auto* run = RunValueOption(options, a)) {
            const std::string option = a.substr(0, a.find('='));
            const auto text = value(option.c_str());
            if (!text)
                return std::nullopt;
            if (!CheckRunValue(option, *text, error))
                return std::nullopt;
            *run = *text;
        } else {
            error = TrFormat("unknown option {1}", {a});
            return std::nullopt;
        }
    }
    if (!CheckRunOptions(options, error))
        return std::nullopt;
    if (options.symbian && !options.exportCertificate) {
        error = Tr("--symbian goes only with --export-certificate");
        return std::nullopt;
    }
    if (options.force && !options.exportCertificate) {
        error = Tr("--force goes only with --export-certificate");
        return std::nullopt;
    }
    if (options.exportCertificate) {
        if (options.check) {
            error = Tr("--export-certificate does not go with --check");
            return std::nullopt;
        }
        if (options.exportFile.empty() && options.paths.size() == 1 && !options.paths[0].empty()) {
            options.exportFile = options.paths[0];
            options.paths.clear();
        }
        if (options.exportFile.empty() || !options.paths.empty()) {
            error = Tr("--export-certificate needs one FILE and no PATH");
            return std::nullopt;
        }
    }
    return options;
}

std::optional<RunKeyValues> RunKeysOf(const BatchOptions& options, std::istream& input, std::string& error) {
    RunKeyValues values;
    auto file = [&](const std::optional<std::string>& given, const char* section, const char* key) {
        if (given)
            values[{section, key}] = AbsolutePath(*given);
    };
    auto secret = [&](const char* option, const std::optional<std::string>& source, const char* section,
                      const char* key) {
        if (!source)
            return true;
        const auto text = ReadSecret(option, *source, input, error);
        if (text)
            values[{section, key}] = *text;
        return text.has_value();
    };
    file(options.keystore, "Java", "keystore");
    if (options.alias)
        values[{"Java", "alias1"}] = values[{"Java", "alias2"}] = *options.alias;
    if (!secret("--storepass", options.storepass, "Java", "storepass") ||
        !secret("--keypass", options.keypass, "Java", "keypass"))
        return std::nullopt;
    // As keytool and jarsigner take it: the key's password is the store's
    // unless it is given.
    if (options.storepass && !options.keypass)
        values[{"Java", "keypass"}] = values[{"Java", "storepass"}];
    file(options.certificate, "Symbian", "certificate");
    file(options.key, "Symbian", "key");
    if (!secret("--passphrase", options.passphrase, "Symbian", "passphrase"))
        return std::nullopt;
    return values;
}

std::vector<std::string> CollectPackages(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::vector<std::string> packages;
    std::set<std::string> seen;
    auto add = [&](const std::string& path) {
        if (seen.insert(PackageKey(path)).second)
            packages.push_back(path);
    };
    for (const auto& given : paths) {
        const std::string path = AbsolutePath(given);
        std::error_code ec;
        if (!fs::is_directory(path, ec)) {
            add(path);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (!name.empty() && name[0] == '.') {
                if (it->is_directory(ec))
                    it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file(ec))
                continue;
            // A descriptor without its archive is a suite that cannot be
            // signed: it is listed, so its job says why, not passed over.
            if (IsPackageName(name) ||
                (EndsWith(name, ".jad") && !fs::exists(PackageKey(it->path().string()), ec)))
                found.push_back(it->path().string());
        }
        std::sort(found.begin(), found.end());
        for (const auto& f : found)
            add(f);
    }
    return packages;
}

const char* ResultWord(int status) {
    switch (status) {
    case kExitSuccess:
        return Tr("готово");
    case kExitFailure:
        return Tr("не выполнено");
    default:
        return Tr("сбой");
    }
}

const char* ResultKey(int status) {
    switch (status) {
    case kExitSuccess:
        return "done";
    case kExitFailure:
        return "failed";
    default:
        return "error";
    }
}

std::string PadToLetters(const std::string& text, std::size_t width) {
    const std::size_t letters = LetterCount(text);
    return letters >= width ? text : text + std::string(width - letters, ' ');
}

std::string ResultLine(int status, double seconds, const std::string& path) {
    char time[32];
    std::snprintf(time, sizeof time, " %6.1f s  ", seconds);
    return PadToLetters(ResultWord(status), 13) + time + EscapeControlCharacters(path);
}

std::string SkippedLine(const std::string& path) {
    // As wide as the seconds column of ResultLine.
    return PadToLetters(Tr("пропущено"), 13) + std::string(11, ' ') + EscapeControlCharacters(path);
}

std::string SkippedCount(int skipped) {
    return skipped == 0 ? std::string() : TrFormat(", пропущено {1}", {std::to_string(skipped)});
}

std::string VersionText() {
    return std::string(kAppTitle) + " " + JARSEAL_VERSION;
}

std::string WindowHelpText() {
    return "Usage: jarseal [PACKAGE]\n"
           "       jarseal --version\n"
           "       jarseal --help\n"
           "\n"
           "Without a PACKAGE, opens the Jarseal window. With one (.jar or .jad: a Java ME suite;\n"
           ".sis or .sisx: a Symbian package), prepares and signs it with the settings of\n"
           "Jarseal.ini (next to the program, or ~/.config/jarseal/ for a read-only install) and\n"
           "ends after the job's message. Everything after the program's name is taken as the\n"
           "one path, blanks included.\n"
           "\n"
           "Options (each only as the one argument):\n"
           "  --version   print the version and exit\n"
           "  --help, -h  this text\n"
           "\n"
           "For many packages at once, or without a window, see 'jarseal-cli --help'.\n";
}

std::optional<std::string> WindowInfoText(int argc, const char* const* argv) {
    if (argc != 2 || argv[1] == nullptr)
        return std::nullopt;
    const std::string arg = argv[1];
    if (arg == "--version")
        return VersionText() + "\n";
    if (arg == "--help" || arg == "-h")
        return WindowHelpText();
    return std::nullopt;
}

} // namespace jarseal
