#include "app/ConsoleUi.h"

#include "common/Text.h"

namespace jarseal {

namespace {

// One message as a whole line: "title: text" and what the console answered.
// Message texts use CR LF between lines, a terminal wants LF only; any other
// control character (of a file name in the text, say) is shown escaped.
std::string Line(const std::string& title, const std::string& text, const char* suffix) {
    return EscapeControlCharacters(title) + ": " + EscapeControlCharacters(text, true) + suffix + "\n";
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
    lastText_ = text;
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
