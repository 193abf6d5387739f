// The zip library stand-in on an arbitrary archive: extracted into a fresh
// folder with folders kept or ignored, with callbacks that answer nothing.
// Nothing may appear beside that folder, no link inside it, and no more than
// the size limit; an entry reported damaged comes with a failing result. The
// folder is removed afterwards.
#include "FuzzCheck.h"
#include "unzip/zipdll/UnzipDll.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jarseal::unzipdll;

namespace {

std::size_t g_damaged = 0;

int Print(const char*, unsigned long) {
    return 0;
}

void Damaged(const char* name) {
    FUZZ_CHECK(name != nullptr);
    ++g_damaged;
}

const fs::path& Base() {
    static const fs::path base = [] {
        std::string pattern = (fs::temp_directory_path() / "jarseal-fuzz-unzip-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        std::atexit([] { fs::remove_all(Base()); });
        return fs::path(pattern);
    }();
    return base;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& base = Base();
    const fs::path archive = base / "archive.zip";
    const fs::path out = base / "out";
    // The first byte chooses the mode; the archive follows it.
    const bool honor = size > 0 && (data[0] & 1) != 0;
    // Bit 1: only MANIFEST.MF is written, every other entry is tested in memory.
    const bool manifestOnly = size > 0 && (data[0] & 2) != 0;
    if (size > 0) {
        ++data;
        --size;
    }
    {
        std::ofstream file(archive, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    UnzipOptions options{};
    options.honorDirectories = honor ? 1 : 0;
    options.overwriteFiles = 1;
    options.caseSensitive = 1;
    const std::string zipName = archive.string();
    const std::string outName = out.string();
    options.zipFileName = zipName.c_str();
    options.extractDir = outName.c_str();
    options.damagedEntry = &Damaged;
    const char* const written[] = {"MANIFEST.MF"};
    if (manifestOnly) {
        options.writtenNameCount = 1;
        options.writtenNames = written;
    }
    UnzipUserFunctions callbacks{};
    callbacks.print = &Print;
    g_damaged = 0;
    const int result = Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &options, &callbacks);
    FUZZ_CHECK(g_damaged == 0 || result >= kError);

    std::size_t beside = 0;
    for (const auto& e : fs::directory_iterator(base)) {
        (void)e;
        ++beside;
    }
    FUZZ_CHECK(beside <= 2); // the archive and the target folder
    static const std::string tempPrefix = ".unzip-" + std::to_string(::getpid()) + "-";
    std::uintmax_t bytes = 0;
    if (fs::exists(out)) {
        for (const auto& e : fs::recursive_directory_iterator(out)) {
            FUZZ_CHECK(!e.is_symlink());
            if (e.is_regular_file()) {
                // No temporary file of the library is left behind.
                const std::string name = e.path().filename().string();
                FUZZ_CHECK(!(name.rfind(tempPrefix, 0) == 0 && name.ends_with(".part")));
                bytes += e.file_size();
            }
        }
    }
    FUZZ_CHECK(bytes <= kMaxTotalBytes);
    fs::remove_all(out);
    return 0;
}
