#include "app/RunKeys.h"

#include "common/FileSystem.h"
#include "common/Translate.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace jarseal {

namespace {

bool StartsWith(const std::string& text, const char* start) {
    return text.rfind(start, 0) == 0;
}

// The first line of a text, without its CR LF, LF or CR.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// Keeps what is typed at a terminal from being shown while it lives: a
// password read from one is not left on the screen. Does nothing for input
// that is not a terminal.
class EchoOff {
  public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::isatty(fd_) && ::tcgetattr(fd_, &old_) == 0) {
            termios quiet = old_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoOff() {
        if (active_)
            ::tcsetattr(fd_, TCSAFLUSH, &old_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    int fd_;
    termios old_{};
    bool active_ = false;
};

} // namespace

bool ValidSecretSource(const std::string& source) {
    return StartsWith(source, "pass:") || (StartsWith(source, "env:") && source.size() > 4) ||
           (StartsWith(source, "file:") && source.size() > 5) || source == "stdin";
}

bool ReadsStandardInput(const std::string& source) {
    return source == "stdin";
}

std::optional<std::string> ReadSecret(const std::string& option, const std::string& source,
                                      std::istream& input, std::string& error) {
    if (StartsWith(source, "pass:"))
        return source.substr(5);
    if (StartsWith(source, "env:")) {
        const std::string name = source.substr(4);
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) {
            error = TrFormat("{1} env:{2}: the environment variable {2} is not set", {option, name});
            return std::nullopt;
        }
        return std::string(value);
    }
    if (StartsWith(source, "file:")) {
        const std::string path = source.substr(5);
        try {
            // Only the first line counts; a password file is a few bytes.
            std::string head;
            ReadFileInPieces(path, [&](const char* data, std::size_t size) {
                head.append(data, size);
                return head.find_first_of("\r\n") == std::string::npos && head.size() < 64 * 1024;
            });
            return FirstLine(head);
        } catch (const std::exception& e) {
            error = TrFormat("{1} file:{2}: the file cannot be read ({3})", {option, path, Tr(e.what())});
            return std::nullopt;
        }
    }
    std::string line;
    // At a terminal: a prompt naming the option, and nothing of the
    // password shown.
    const bool terminal = &input == &std::cin && ::isatty(STDIN_FILENO);
    std::optional<EchoOff> quiet;
    if (terminal) {
        quiet.emplace(STDIN_FILENO);
        std::fprintf(stderr, "%s: ", option.c_str());
        std::fflush(stderr);
    }
    const bool read = static_cast<bool>(std::getline(input, line));
    if (terminal) {
        quiet.reset();
        std::fputs("\n", stderr);
    }
    if (!read && line.empty()) {
        error = TrFormat("{1} stdin: standard input gave no line", {option});
        return std::nullopt;
    }
    return FirstLine(line);
}

std::string RunKeySettings::Read(const std::string& section, const std::string& key) const {
    const auto it = values_.find({section, key});
    return it != values_.end() ? it->second : stored_.Read(section, key);
}

} // namespace jarseal
