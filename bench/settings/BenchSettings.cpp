// Times one settings change as the program makes it: WriteIni of a key
// followed by ReadIni of the same key, on a settings file of the usual size
// (the four sections with about thirty keys). Also times the same pair with
// the new content forced to the disk before each rename, for comparison.
//
// Usage: bench_settings [folder] [pairs]   (default: the system's temporary folder, 2000)

#include "settings/Ini.h"
#include "settings/ProfileFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace jarseal;

namespace {

void FillUsualFile(const std::string& file) {
    const std::vector<std::pair<std::string, std::string>> jarseal = {{"FirstRun", "0"},
                                                                      {"AppPath", "C:\\Programs\\Jarseal"}};
    for (const auto& [k, v] : jarseal)
        WriteIni("Jarseal", k, v, file);
    const std::vector<std::pair<std::string, std::string>> java = {
        {"keystore", "C:\\Programs\\Jarseal\\data\\key"},
        {"storepass", "52039871"},
        {"keypass", "52039871"},
        {"alias1", "jsk"},
        {"alias2", "jsk"}};
    for (const auto& [k, v] : java)
        WriteIni("Java", k, v, file);
    const std::vector<std::pair<std::string, std::string>> symbian = {
        {"SignSIS", "C:\\Symbian\\tools\\signsis.exe"},
        {"certificate", "C:\\Symbian\\keys\\mycert.cer"},
        {"key", "C:\\Symbian\\keys\\mykey.key"},
        {"passphrase", "secret phrase"}};
    for (const auto& [k, v] : symbian)
        WriteIni("Symbian", k, v, file);
    WriteIni("Permissions", "byuser", "True", file);
    for (const char* k : {"read", "write", "socket", "http", "https", "ssl", "socketserver", "PushRegestry",
                          "bluetoothclient", "bluetoothserver", "SMS", "MMS", "PIM", "camera"})
        WriteIni("Permissions", k, "1", file);
    // A few more lines of the kind a hand-edited file carries.
    for (int i = 0; i < 5; ++i)
        WriteIni("Extra", "note" + std::to_string(i), "value " + std::to_string(i), file);
}

double MicrosecondsPerPair(const std::string& file, int pairs, bool flush) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t sink = 0;
    for (int i = 0; i < pairs; ++i) {
        // A changing value, as when the user types a path.
        const std::string value = "C:\\Symbian\\keys\\cert" + std::to_string(i) + ".cer";
        if (flush)
            ProfileWriteString("Symbian", "certificate", value, file, true);
        else
            WriteIni("Symbian", "certificate", value, file);
        sink += ReadIni("Symbian", "certificate", file).size();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (sink == 0)
        std::puts("(no value read back)");
    return std::chrono::duration<double, std::micro>(elapsed).count() / pairs;
}

} // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    const std::string file = folder + "/bench_settings_" + std::to_string(::getpid()) + ".ini";

    FillUsualFile(file);
    std::printf("settings file: %s\n", file.c_str());

    MicrosecondsPerPair(file, 50, false); // warm up
    const double plain = MicrosecondsPerPair(file, pairs, false);
    const int flushedPairs = std::max(1, pairs / 10);
    const double flushed = MicrosecondsPerPair(file, flushedPairs, true);
    const auto readStart = std::chrono::steady_clock::now();
    std::size_t readBytes = 0;
    for (int i = 0; i < pairs; ++i)
        readBytes += ReadIni("Permissions", "camera", file).size();
    const double readOnly =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - readStart).count() /
        pairs;
    std::printf("ReadIni alone: %.1f us per read (%zu bytes read)\n", readOnly, readBytes);
    std::printf("WriteIni + ReadIni (rename over, no disk flush): %.1f us per pair (%d pairs)\n", plain,
                pairs);
    std::printf("same with the data flushed to disk before the rename: %.1f us per pair (%d pairs)\n",
                flushed, flushedPairs);
    ::unlink(file.c_str());
    return 0;
}
