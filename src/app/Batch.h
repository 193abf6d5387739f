#pragma once

#include "app/RunKeys.h"
#include "common/PermissionChoice.h"

#include <array>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// A permission choice for one run of the console program, leaving the stored
// preferences alone.
class PermissionOverride : public PermissionChoice {
  public:
    PermissionOverride(PermissionMode mode, std::array<int, kPermissionGroupCount> boxes)
        : mode_(mode), boxes_(boxes) {}
    PermissionMode Mode() const override { return mode_; }
    int BoxState(std::size_t index) const override { return index < boxes_.size() ? boxes_[index] : 0; }

  private:
    PermissionMode mode_;
    std::array<int, kPermissionGroupCount> boxes_;
};

// Reads "auto", "none" or a comma-separated list of group names (the settings
// keys, in any letter case). nullopt, with error set, for anything else.
std::optional<PermissionOverride> ParsePermissionsOption(const std::string& text, std::string& error);

// The exit status of a wrong command line (unknown option, missing or bad
// value, no PATH): nothing was done.
inline constexpr int kExitUsage = 64;

// What the console program was asked to do.
struct BatchOptions {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool check = false;
    bool defaultKeystore = false; // answer Yes to "Назачить по умолчанию?" after a move
    std::string zipPassword;      // for encrypted archives; asked for once per package
    std::optional<PermissionOverride> permissions;
    bool keepDescriptorAttributes = false; // each Java job keeps the earlier descriptor's own attributes
    bool resignSymbian = false;            // each Symbian job removes every earlier signature first
    bool exportCertificate = false;        // write the signing certificate to exportFile, sign nothing
    bool symbian = false;                  // with exportCertificate: the Symbian certificate
    bool force = false;                    // with exportCertificate: replace an existing file
    std::string exportFile;
    std::vector<std::string> paths;
    // The run's own signing values, in place of those of the settings file
    // (which stays as it is): files and names as given, passwords as their
    // sources (see ValidSecretSource in app/RunKeys.h).
    std::optional<std::string> keystore, alias, storepass, keypass; // Java
    std::optional<std::string> certificate, key, passphrase;        // Symbian
    std::string outDir;          // write the signed packages below it; empty: in place
    bool unsignedSuites = false; // Java suites get a descriptor without a signature
    bool skipSigned = false;     // leave out packages this run's certificate signed already
    unsigned jobs = 0;           // packages run at once; 0: as many as the machine has cores
    std::string reportFile;      // write a report of every package there (.json or .tsv); empty: none
};

// Parses the arguments after the program's name. nullopt, with error set,
// for an unknown option or a missing value. --export-certificate takes its
// FILE as "=FILE" or as the one PATH, so "--export-certificate --symbian
// FILE" reads as written; it goes with no other PATH and not with --check,
// and --symbian only with it.
std::optional<BatchOptions> ParseBatchArguments(const std::vector<std::string>& args, std::string& error);

// The run's signing values of the options, their passwords read from their
// sources (standard input from input). nullopt, with error set, when a
// source cannot be read: a usage error.
std::optional<RunKeyValues> RunKeysOf(const BatchOptions& options, std::istream& input, std::string& error);

// The packages to process for the given paths, in order and each once: a
// folder gives the .jar, .sis and .sisx files below it (sorted, hidden names
// skipped), and a .jad there without its .jar; a .jad stands for its .jar,
// so a pair is processed once. A path
// that is neither file nor folder is kept, for its job to report.
std::vector<std::string> CollectPackages(const std::vector<std::string>& paths);

// The help text of the console program.
std::string BatchHelpText();

// The result word of a package's exit status in the run's language:
// "готово", "не выполнено" or "сбой" (English "done", "failed", "error").
const char* ResultWord(int status);

// The same result as one stable word whatever the language, for reports and
// scripts: "done", "failed" or "error".
const char* ResultKey(int status);

// The line the console program prints for a finished package: its result
// word, the seconds it took and its path, in columns that line up whatever
// the word (padded by letters, not bytes). No line end.
std::string ResultLine(int status, double seconds, const std::string& path);

// The line of a package --skip-signed leaves out: "пропущено" where the
// result word stands, no seconds, and its path. No line end.
std::string SkippedLine(const std::string& path);

// What the summary line adds for the packages left out: ", пропущено N", or
// nothing when none was.
std::string SkippedCount(int skipped);

// The text pads to width letters: UTF-8 code points are counted, so Russian
// words line up on a terminal.
std::string PadToLetters(const std::string& text, std::size_t width);

// "Jarseal VERSION", as both programs print it for --version.
std::string VersionText();

// The window program's usage text for --help.
std::string WindowHelpText();

// What the window program prints and ends with when its only argument is
// exactly --version, --help or -h; nullopt for any other command line, which
// is then one package path as a whole.
std::optional<std::string> WindowInfoText(int argc, const char* const* argv);

} // namespace jarseal
