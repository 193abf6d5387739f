#include "app/ConsoleUi.h"

namespace jarseal {

namespace {

// Message texts use CR LF between lines; a terminal wants LF only.
std::string ForTerminal(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i] == '\r' ? '\n' : text[i];
    }
    return out;
}

// One message as a whole line: "title: text" and what the console answered.
std::string Line(const std::string& title, const std::string& text, const char* suffix) {
    return title + ": " + ForTerminal(text) + suffix + "\n";
}

} // namespace

void ConsoleUi::PrintHeldMessage() {
    if (held_.empty())
        return;
    std::fputs(held_.c_str(), out_);
    std::fflush(out_);
    held_.clear();
}

void ConsoleUi::Print(const std::string& title, const std::string& text, const char* suffix) {
    if (quiet_)
        return;
    PrintHeldMessage(); // earlier output first
    std::fputs(Line(title, text, suffix).c_str(), out_);
    std::fflush(out_);
}

void ConsoleUi::ShowMessage(const std::string& text, MessageIcon, const std::string& title) {
    if (quiet_)
        return;
    PrintHeldMessage();
    held_ = Line(title, text, "");
}

Answer ConsoleUi::AskYesNo(const std::string& text, MessageIcon, const std::string& title) {
    Print(title, text, yesNo_ == Answer::Yes ? " -> Да" : " -> Нет");
    return yesNo_ == Answer::Yes ? Answer::Yes : Answer::No;
}

Answer ConsoleUi::AskYesNoCancel(const std::string& text, MessageIcon, const std::string& title) {
    Print(title, text, " -> Отмена");
    return Answer::Cancel;
}

std::string ConsoleUi::InputBox(const std::string& prompt, const std::string& title, const std::string&) {
    std::string answer = std::move(nextInput_);
    nextInput_.clear();
    Print(title, prompt, answer.empty() ? " -> (пусто)" : " -> (задано параметром)");
    return answer;
}

std::string ConsoleUi::OpenFileDialog(const std::string& title, const std::vector<FileFilter>&) {
    Print("Jarseal", title, " -> (отмена)");
    return {};
}

void ConsoleUi::NoteWaitingForOtherRun() {
    Print("Jarseal", "ждёт, пока закончится другой запуск Jarseal с этой папкой программы…", "");
}

void ConsoleUi::Note(const std::string& text) {
    Print("Jarseal", text, "");
}

void ConsoleUi::EndProgram(int status) {
    if (status == kExitSuccess)
        held_.clear(); // the success message: the result line says it
    else
        PrintHeldMessage();
    throw ProgramExit{status};
}

} // namespace jarseal
