// signsis: signs Symbian 9 installation packages (.sis/.sisx).
#include "SignSis.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = jarseal::signsis::RunSignSis(args, std::cout);
    std::cout.flush();
    return status;
}
