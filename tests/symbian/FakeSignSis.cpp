// A stand-in for the Symbian signing program: appends its arguments, one per
// line and a blank line after them, to the file named by FAKE_SIGNSIS_LOG,
// writes "signed:" and the input's bytes to the output file (argument 2), and
// exits with FAKE_SIGNSIS_EXIT (after printing a complaint) when that is set.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (const char* log = std::getenv("FAKE_SIGNSIS_LOG")) {
        std::ofstream out(log, std::ios::app | std::ios::binary);
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
        out << '\n';
    }
    if (const char* code = std::getenv("FAKE_SIGNSIS_EXIT")) {
        std::printf("cannot sign: told to fail\n");
        return std::atoi(code);
    }
    if (argc < 3)
        return 4;
    std::string content;
    {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in)
            return 1;
        content.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << "signed:" << content;
    return 0;
}
