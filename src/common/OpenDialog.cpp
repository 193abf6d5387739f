#include "common/OpenDialog.h"

#include "common/Text.h"
#include "common/Translate.h"

namespace jarseal {

std::string LongPathMessage(const std::string& path) {
    return TrFormat(
        "Путь к файлу длиннее {1} знаков:\r\n{2}\r\nПереместите файл в папку с более коротким путём.",
        {std::to_string(kOpenDialogMaxPath), path});
}

std::string MakeFilterText(const std::vector<FileFilter>& pairs) {
    std::string text;
    for (const auto& pair : pairs) {
        text += pair.description;
        text += '\0';
        text += pair.pattern;
        text += '\0';
    }
    return text;
}

std::vector<FileFilter> ParseFilterText(const std::string& filter) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        const auto end = filter.find('\0', start);
        if (end == std::string::npos)
            break; // a piece without its terminator is not part of the filter
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    std::vector<FileFilter> pairs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        pairs.push_back({parts[i], parts[i + 1]});
    return pairs;
}

std::string ShowOpenDialog(UserInterface& ui, const std::string& title, const std::string& filter) {
    std::string chosen = ui.OpenFileDialog(title, ParseFilterText(filter));
    if (LetterCount(chosen) > kOpenDialogMaxPath) {
        ui.ShowMessage(LongPathMessage(chosen), MessageIcon::Information);
        return {};
    }
    return chosen;
}

} // namespace jarseal
