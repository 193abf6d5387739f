#include "support/ScriptedUi.h"

namespace jarseal::test {

void ScriptedUi::ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) {
    shown.push_back({"message", text, icon, title, {}, {}});
    if (onMessage)
        onMessage(text);
}

Answer ScriptedUi::AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) {
    shown.push_back({"yesno", text, icon, title, {}, {}});
    if (answers.empty())
        return Answer::No;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

Answer ScriptedUi::AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) {
    shown.push_back({"yesnocancel", text, icon, title, {}, {}});
    if (answers.empty())
        return Answer::Cancel;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::string ScriptedUi::InputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText) {
    shown.push_back({"input", prompt, MessageIcon::None, title, {}, defaultText});
    if (inputs.empty())
        return {};
    std::string s = inputs.front();
    inputs.pop_front();
    return s;
}

std::string ScriptedUi::OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) {
    shown.push_back({"open", {}, MessageIcon::None, title, filters, {}});
    if (openPaths.empty())
        return {};
    std::string s = openPaths.front();
    openPaths.pop_front();
    return s;
}

void ScriptedUi::EndProgram(int status) {
    throw ProgramEnded{status};
}

std::vector<std::string> ScriptedUi::Messages() const {
    std::vector<std::string> texts;
    for (const auto& s : shown)
        if (s.kind == "message")
            texts.push_back(s.text);
    return texts;
}

} // namespace jarseal::test
