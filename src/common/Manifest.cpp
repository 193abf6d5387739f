#include "common/Manifest.h"

namespace jarseal {

std::vector<std::string> ManifestLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    bool pending = false; // text since the last line end
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            pending = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
            pending = true;
        }
    }
    if (pending)
        lines.push_back(std::move(line));

    // Unfold: a line that starts with one blank continues the line before it.
    std::vector<std::string> unfolded;
    unfolded.reserve(lines.size());
    for (auto& l : lines) {
        if (!l.empty() && l[0] == ' ' && !unfolded.empty())
            unfolded.back().append(l, 1, std::string::npos);
        else
            unfolded.push_back(std::move(l));
    }
    return unfolded;
}

} // namespace jarseal
