// Times the program's flat extraction of a generated archive against
// Info-ZIP's "unzip -o -j -qq", each as a whole process, and prints the
// medians. Not part of the tests.
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 1000;
constexpr int kWarmup = 3;
constexpr int kRuns = 20;

// About 5 MB: half the entries text that compresses well, half random bytes.
bool MakeArchive(const std::string& path, std::vector<std::string>& store) {
    std::mt19937 rng(12345);
    store.reserve(kEntries + 1);
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (z == nullptr)
        return false;
    store.push_back("Manifest-Version: 1.0\r\nMIDlet-Name: Bench\r\n");
    zip_file_add(z, "META-INF/MANIFEST.MF", zip_source_buffer(z, store.back().data(), store.back().size(), 0),
                 0);
    for (int i = 0; i < kEntries; ++i) {
        std::string data;
        if (i % 2 == 0) {
            while (data.size() < 12000)
                data += "public void method" + std::to_string(rng() % 1000) + "() { return field" +
                        std::to_string(rng() % 50) + "; }\n";
        } else {
            data.resize(7000);
            for (auto& c : data)
                c = static_cast<char>(rng());
        }
        store.push_back(std::move(data));
        const std::string name = "com/example/pkg" + std::to_string(i % 20) + "/Class" + std::to_string(i) +
                                 (i % 2 == 0 ? ".class" : ".png");
        zip_file_add(z, name.c_str(), zip_source_buffer(z, store.back().data(), store.back().size(), 0), 0);
    }
    return zip_close(z) == 0;
}

// Runs a command and returns its wall time in milliseconds, or -1.
double TimeRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
    const fs::path work = fs::temp_directory_path() / ("jarseal-bench-unzip-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const std::string jar = (work / "bench.jar").string();
    std::vector<std::string> store;
    if (!MakeArchive(jar, store)) {
        std::fprintf(stderr, "cannot write %s\n", jar.c_str());
        return 1;
    }
    std::printf("archive: %s, %d entries, %.2f MB\n", jar.c_str(), kEntries + 1, fs::file_size(jar) / 1e6);

    const std::string ours = (work / "ours").string();
    const std::string theirs = (work / "theirs").string();
    const std::vector<std::string> oursCmd = {JARSEAL_UNZIP_CLI, jar, ours};
    const std::vector<std::string> theirsCmd = {"unzip", "-o", "-j", "-qq", jar, "-d", theirs};

    std::vector<double> oursTimes, theirsTimes;
    for (int i = 0; i < kWarmup + kRuns; ++i) {
        // Alternate which one goes first, so that neither always pays for
        // the other's pending disk work.
        double a = 0;
        double b = 0;
        if (i % 2 == 0) {
            a = TimeRun(oursCmd);
            b = TimeRun(theirsCmd);
        } else {
            b = TimeRun(theirsCmd);
            a = TimeRun(oursCmd);
        }
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a run failed (%s)\n", a < 0 ? "ours" : "unzip");
            return 1;
        }
        if (i >= kWarmup) {
            oursTimes.push_back(a);
            theirsTimes.push_back(b);
        }
    }
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(ours))
        ++count;
    std::printf("files extracted by ours: %zu\n", count);
    std::printf("median of %d runs: jarseal-unzip-bench %.2f ms, unzip -o -j -qq %.2f ms\n", kRuns,
                Median(oursTimes), Median(theirsTimes));
    if (keep)
        std::printf("kept %s\n", work.c_str());
    else
        fs::remove_all(work);
    return 0;
}
