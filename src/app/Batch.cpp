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
#include <cstdlib>
#include <cstdio>
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

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
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
    if (options.exportCertificate &&
        (!options.outDir.empty() || options.unsignedSuites || options.skipSigned || !options.reportFile.empty())) {
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

std::string BatchHelpText() {
    // One text a paragraph or option, so that each is translated on its own.
    static const char* const kBlocks[] = {
        JARSEAL_N("Usage: jarseal-cli [OPTIONS] PATH...\n"
                  "       jarseal-cli --check PATH...\n"
                  "       jarseal-cli --export-certificate [--symbian] [--force] FILE.cer"),
        JARSEAL_N("Prepares and signs each package named, with the settings of Jarseal.ini, exactly as\n"
                  "the window does: Jarseal.ini next to the program, or, when the program's folder is\n"
                  "read-only (as the Debian package installs it), ~/.config/jarseal/Jarseal.ini\n"
                  "($XDG_CONFIG_HOME/jarseal/Jarseal.ini when that is set).\n"
                  "A PATH is a package (.jar or .jad: a Java ME suite; .sis or .sisx: a Symbian package)\n"
                  "or a folder, searched with its subfolders for .jar, .sis and .sisx files. A .jad and\n"
                  "its .jar are processed once; a .jad in a folder without its .jar is listed, and fails."),
        JARSEAL_N("Options:"),
        JARSEAL_N("  --permissions auto|none|GROUP[,GROUP...]\n"
                  "                      the MIDlet-Permissions line for this run, without changing the\n"
                  "                      settings: auto takes the suite's own lines, none writes no line,\n"
                  "                      GROUPs (read, write, socket, http, https, ssl, socketserver,\n"
                  "                      PushRegestry, bluetoothclient, bluetoothserver, SMS, MMS, PIM,\n"
                  "                      camera) grant those groups"),
        JARSEAL_N("  --check             report what a phone's installer would refuse, change nothing"),
        JARSEAL_N("  --quiet, -q         print only failures (each with its reason) and the summary"),
        JARSEAL_N("  --default-keystore  after the program folder moved, reset the key store setting to\n"
                  "                      data/key (otherwise the stored value is kept)"),
        JARSEAL_N("  --zip-password TEXT the password of encrypted archives (asked for once a package)"),
        JARSEAL_N("  --keep-jad-attributes\n"
                  "                      carry the attributes of the earlier .jad that the new one would\n"
                  "                      lack (not MIDlet-Jar-*, certificates, signatures, permissions)"),
        JARSEAL_N("  --resign            remove every earlier signature of a .sis/.sisx before signing it\n"
                  "                      (signing again otherwise replaces only the chain of the same\n"
                  "                      certificate and keeps those of others)"),
        JARSEAL_N("  --export-certificate FILE\n"
                  "                      write the certificate the Java job signs with (key store and\n"
                  "                      alias1 of the settings) to FILE as DER, to install on a phone\n"
                  "                      as a root; nothing is signed"),
        JARSEAL_N("  --symbian           with --export-certificate: the Symbian certificate instead"),
        JARSEAL_N("  --force             with --export-certificate: replace FILE when it exists (never\n"
                  "                      a symbolic link, nor the file the certificate comes from)"),
        JARSEAL_N("  --keystore FILE     sign Java suites with this key store for this run"),
        JARSEAL_N("  --alias NAME        the alias of the key in it (both aliases of the settings)"),
        JARSEAL_N("  --storepass SRC     the key store's password; the key's too unless --keypass"),
        JARSEAL_N("  --keypass SRC       the key's password"),
        JARSEAL_N("  --certificate FILE  sign Symbian packages with this certificate for this run"),
        JARSEAL_N("  --key FILE          and this key"),
        JARSEAL_N("  --passphrase SRC    the key's passphrase\n"
                  "                      SRC is pass:TEXT, env:VAR (an environment variable), file:PATH\n"
                  "                      (the file's first line) or stdin (one line of standard input,\n"
                  "                      for one option only). These take the place of the settings for\n"
                  "                      this run only; Jarseal.ini is not changed"),
        JARSEAL_N("  --out DIR           write the signed packages below DIR instead of in place: each\n"
                  "                      suite's .jar and .jad and each .sis/.sisx at its path below the\n"
                  "                      PATH it was found in (a PATH that is a package: right below\n"
                  "                      DIR); the packages named are not changed and no .original is\n"
                  "                      made; a package that fails writes nothing"),
        JARSEAL_N("  --unsigned          leave Java suites unsigned: the descriptor and its permission\n"
                  "                      line only, for phones that cannot hold the signer's root (an\n"
                  "                      unsigned suite installs as untrusted); Symbian packages are\n"
                  "                      signed as usual"),
        JARSEAL_N("  --skip-signed       leave out a suite whose descriptor already carries this run's\n"
                  "                      certificate, verifies and passes the check, and a Symbian\n"
                  "                      package whose last signature is this run's certificate's"),
        JARSEAL_N("  --jobs N            run N packages at once (default: one per core); packages of\n"
                  "                      one folder still take turns; --jobs 1 runs them one by one\n"
                  "                      as they are listed"),
        JARSEAL_N("  --report FILE       write a report of every package, in the order listed, to\n"
                  "                      FILE.json or FILE.tsv (by the name): path, kind, result (done,\n"
                  "                      refused, failed, error), installer code, reason (as text and\n"
                  "                      as a stable key), seconds, files written, the jar's SHA-1 and\n"
                  "                      the signer certificate's SHA-1; written whole at the end"),
        JARSEAL_N("  --version           print the version and exit"),
        JARSEAL_N("  --help, -h          this text"),
        JARSEAL_N("Messages are in Russian when the first set one of LC_ALL, LC_MESSAGES and LANG begins\n"
                  "with \"ru\" (LANG=ru_RU.UTF-8, say), in English otherwise; no locale needs to be\n"
                  "installed for it."),
        JARSEAL_N("Questions a window would ask are answered without waiting: the relocation questions\n"
                  "No (or Yes to the first with --default-keystore), archive passwords from\n"
                  "--zip-password or refused, everything else No or Cancel."),
        JARSEAL_N("With more than one package, each worker's one JAD tool process (started for its first\n"
                  "suite) signs its suites one after another; descriptors and messages are those of\n"
                  "separate runs."),
        JARSEAL_N("Each package gets one line on standard output: its result (done, failed or error),\n"
                  "the seconds it took and its path; a package that failed also gets its message, which\n"
                  "says why, after the package's path, on standard error. A summary line ends the list,\n"
                  "with the root certificate that phones need for the signed suites, once per\n"
                  "certificate (it is noted at the first suite that needs it)."),
        JARSEAL_N("Exit status: 0 when every package succeeded; otherwise the worst of 1 (a refusal or a\n"
                  "foreseen failure: missing archive, damaged archive, a suite a phone would refuse, a\n"
                  "jar that changed during the job, missing Java, a failed signing tool) and 2 (an\n"
                  "unforeseen failure). With --check, 1 when a phone would refuse a package. 64 when the\n"
                  "command line is wrong (unknown option, missing or bad value, no PATH); nothing is done.\n"
                  "64 too when a password source gives nothing (a variable not set, a file that cannot be\n"
                  "read) or --out would write over a package.\n"
                  "With --export-certificate, 1 when no certificate was written (the reason goes to\n"
                  "standard error), as when FILE exists and --force is not given."),
        JARSEAL_N("Example:\n"
                  "  jarseal-cli --permissions http,https,read ~/suites game.jad\n"
                  "  jarseal-cli --keystore my.p12 --alias me --storepass env:PW --out ~/signed ~/suites\n"),
    };
    std::string text;
    auto isOption = [](const char* block) { return block[0] == ' '; };
    for (std::size_t i = 0; i < std::size(kBlocks); ++i) {
        text += Tr(kBlocks[i]);
        // A blank line after each block, but between "Options:" and the
        // option entries, which follow one another directly.
        const bool last = i + 1 == std::size(kBlocks);
        text += !last && isOption(kBlocks[i + 1]) ? "\n" : last ? "\n" : "\n\n";
    }
    return text;
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
