// The console program's help text, one block a paragraph or option.
#include "app/Batch.h"

#include "common/Translate.h"

#include <iterator>

namespace jarseal {

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

} // namespace jarseal
