// Writes a MIDlet suite for benchmarks: a manifest, the class its MIDlet-1
// names and ENTRIES - 2 further entries, about three in four class-like (a constant pool of Java names
// around bytecode-like bytes, which deflates to roughly half) and the rest
// incompressible resources, scaled so that the archive is close to BYTES
// long. Also writes the first-stage descriptor the Java job would make for
// it, for timing the JAD tool on its own. Not part of the tests.
//
// Usage: jarseal-make-suite SUITE.jar DESCRIPTOR.jad ENTRIES BYTES
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

const char* const kManifest = "Manifest-Version: 1.0\r\n"
                              "MIDlet-Name: Bench Suite\r\n"
                              "MIDlet-Vendor: Jarseal\r\n"
                              "MIDlet-Version: 1.0.0\r\n"
                              "MIDlet-1: Bench, /icon.png, bench.Main\r\n"
                              "MicroEdition-Profile: MIDP-2.0\r\n"
                              "MicroEdition-Configuration: CLDC-1.1\r\n"
                              "\r\n";

const char* const kNames[] = {"java/lang/Object",
                              "java/lang/String",
                              "Ljava/lang/String;",
                              "<init>",
                              "()V",
                              "javax/microedition/lcdui/Graphics",
                              "javax/microedition/midlet/MIDlet",
                              "paint",
                              "keyPressed",
                              "run",
                              "Code",
                              "LineNumberTable",
                              "StackMapTable",
                              "getWidth",
                              "getHeight",
                              "drawImage",
                              "(Ljavax/microedition/lcdui/Graphics;)V",
                              "SourceFile",
                              "java/lang/Thread",
                              "append",
                              "toString",
                              "(I)V",
                              "[B"};

std::string ClassLike(std::mt19937& rng, std::size_t size) {
    std::string s = "\xca\xfe\xba\xbe";
    while (s.size() < size) {
        if (rng() % 5 < 3) {
            s += kNames[rng() % (sizeof kNames / sizeof kNames[0])];
            s += static_cast<char>(rng() % 8);
        } else {
            for (int i = 0; i < 6; ++i)
                s += static_cast<char>(rng());
        }
    }
    s.resize(size);
    return s;
}

std::string Random(std::mt19937& rng, std::size_t size) {
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

// Writes the suite with every entry's size multiplied by scale; the archive's size.
long long Write(const std::string& path, int entries, double scale) {
    std::mt19937 rng(20260101);
    std::lognormal_distribution<double> spread(0.0, 0.6);
    std::vector<std::string> data;
    data.reserve(static_cast<std::size_t>(entries));
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (z == nullptr)
        return -1;
    const auto add = [&](const std::string& name, std::string bytes) {
        data.push_back(std::move(bytes));
        zip_source_t* src = zip_source_buffer(z, data.back().data(), data.back().size(), 0);
        return zip_file_add(z, name.c_str(), src, 0) >= 0;
    };
    // The class MIDlet-1 names: a suite without it is no suite a phone installs.
    bool ok = add("META-INF/MANIFEST.MF", kManifest) && add("bench/Main.class", ClassLike(rng, 4096));
    for (int i = 2; i < entries && ok; ++i) {
        const auto size = static_cast<std::size_t>(scale * spread(rng)) + 16;
        const std::string folder = "bench/p" + std::to_string(i % 37) + "/";
        if (i % 4 == 3)
            ok = add(folder + "r" + std::to_string(i) + ".png", Random(rng, size));
        else
            ok = add(folder + "C" + std::to_string(i) + ".class", ClassLike(rng, 2 * size));
    }
    if (zip_close(z) != 0 || !ok)
        return -1;
    return static_cast<long long>(std::filesystem::file_size(path));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SUITE.jar DESCRIPTOR.jad ENTRIES BYTES\n", argv[0]);
        return 2;
    }
    const std::string jar = argv[1];
    const int entries = std::atoi(argv[3]);
    const double target = std::atof(argv[4]);
    if (entries < 1 || target <= 0) {
        std::fprintf(stderr, "ENTRIES and BYTES must be positive\n");
        return 2;
    }
    // Two rounds: the first finds how far the sizes are off.
    double scale = target / entries;
    long long size = Write(jar, entries, scale);
    for (int round = 0; round < 2 && size > 0; ++round) {
        scale *= target / static_cast<double>(size);
        size = Write(jar, entries, scale);
    }
    if (size <= 0) {
        std::fprintf(stderr, "cannot write %s\n", jar.c_str());
        return 1;
    }
    const std::string name = std::filesystem::path(jar).filename().string();
    std::ofstream jad(argv[2], std::ios::binary);
    jad << "MIDlet-Jar-URL: " << name << "\r\nMIDlet-Jar-Size: " << size << "\r\n"
        << "MIDlet-Name: Bench Suite\r\nMIDlet-Vendor: Jarseal\r\nMIDlet-Version: 1.0.0\r\n"
        << "MIDlet-1: Bench, /icon.png, bench.Main\r\n"
        << "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n\r\n";
    std::printf("%s: %d entries, %lld bytes\n", jar.c_str(), entries, size);
    return jad ? 0 : 1;
}
