#include "app/ConsoleUi.h"

#include "common/Text.h"
#include "common/Translate.h"

namespace jarseal {

namespace {

// One message as a whole line: "title: text" and what the console answered.
// Message texts use CR LF between lines, a terminal wants LF only; any other
// control character (of a file name in the text, say) is shown escaped.
// A text without values is translated here as a whole; a text with values
// comes translated from where it was made.
std::string Line(const std::string& title, const std::string& text, const char* suffix) {
    return EscapeControlCharacters(title) + ": " + EscapeControlCharacters(Tr(text), true) + suffix + "\n";
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
    lastText_ = Tr(text);
    PrintHeldMessage();
    const std::string about = package_.empty() ? std::string() : EscapeControlCharacters(package_) + ": ";
    held_ = Line(title, about + Tr(text), "");
}

Answer ConsoleUi::AskYesNo(const std::string& text, MessageIcon, const std::string& title) {
    Print(title, text, yesNo_ == Answer::Yes ? Tr(" -> Да") : Tr(" -> Нет"));
    return yesNo_ == Answer::Yes ? Answer::Yes : Answer::No;
}

Answer ConsoleUi::AskYesNoCancel(const std::string& text, MessageIcon, const std::string& title) {
    Print(title, text, Tr(" -> Отмена"));
    return Answer::Cancel;
}

std::string ConsoleUi::InputBox(const std::string& prompt, const std::string& title, const std::string&) {
    std::string answer = std::move(nextInput_);
    nextInput_.clear();
    Print(title, prompt, answer.empty() ? Tr(" -> (пусто)") : Tr(" -> (задано параметром)"));
    return answer;
}

std::string ConsoleUi::OpenFileDialog(const std::string& title, const std::vector<FileFilter>&) {
    Print("Jarseal", title, Tr(" -> (отмена)"));
    return {};
}

void ConsoleUi::NoteWaitingForOtherRun() {
    Print("Jarseal", "ждёт, пока закончится другой запуск Jarseal с этой папкой программы…", "");
}

void ConsoleUi::Note(const std::string& text) {
    Print("Jarseal", text, "");
}

void ConsoleUi::RootNote(const std::string& fileName, const std::string& text) {
    {
        std::unique_lock<std::mutex> hold;
        if (rootsGuard_ != nullptr)
            hold = std::unique_lock<std::mutex>(*rootsGuard_);
        std::vector<RootNeed>& roots = rootsOf_->roots_;
        for (RootNeed& root : roots) {
            if (root.text == text) {
                ++root.suites;
                return;
            }
        }
        roots.push_back({text, 1});
    }
    Note(fileName + ": " + text);
}

void ConsoleUi::EndProgram(int status) {
    if (status == kExitSuccess)
        held_.clear(); // the success message: the result line says it
    else
        PrintHeldMessage();
    throw ProgramExit{status};
}

} // namespace jarseal
