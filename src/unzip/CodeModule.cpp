#include "unzip/CodeModule.h"

#include "common/Errors.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

namespace jarseal {

namespace {

using namespace unzipdll;

constexpr const char* kSource = "CodeModule::VBUnzip";
constexpr int kErrOutOfMemory = 7;
// The print callback reads no byte beyond this index.
constexpr std::size_t kPrintLimit = 32801;
// Entry names are read up to this many bytes.
constexpr std::size_t kNameLimit = 256;
constexpr std::size_t kListLine = 80;

struct BridgeState {
    std::string lastMessage;
    std::string printText;
    std::string listingText;
    std::vector<std::string> damagedEntries;
    std::int16_t listingLines = 0;
    std::int16_t passwordRefused = 0;
    UserInterface* ui = nullptr; // set only while the library runs
};

// One per thread: the library calls back on the thread that called it, so
// workers unpacking at once each see their own messages and interface.
BridgeState& State() {
    thread_local BridgeState state;
    return state;
}

const UnzipLibrary kBuiltIn{&unzipdll::UzpVersion2, &unzipdll::Wiz_SingleEntryUnzip};
const UnzipLibrary* g_library = &kBuiltIn;

// Bytes from index 0 up to the first zero byte or the limit.
std::string ReadText(const char* buffer, std::size_t limit) {
    if (buffer == nullptr)
        return {};
    const void* zero = std::memchr(buffer, '\0', limit);
    return std::string(buffer, zero != nullptr ? static_cast<const char*>(zero) - buffer : limit);
}

// Like ReadText, for a name whose terminating zero may lie beyond the limit.
std::string ReadName(const char* name) {
    if (name == nullptr)
        return {};
    return std::string(name, ::strnlen(name, kNameLimit));
}

int OnPrint(const char* buffer, unsigned long length) noexcept {
    try {
        std::string piece = ReadText(buffer, std::min<std::size_t>(length, kPrintLimit));
        if (!piece.empty() && piece[0] == '\n')
            piece = "\r\n";
        BridgeState& state = State();
        state.printText += piece;
        // The last-message text is the whole print text; both start empty in
        // every run, so appending keeps them equal without copying.
        state.lastMessage += piece;
    } catch (...) {
    }
    return 0;
}

int OnReplace(const char* fileName) noexcept {
    try {
        UserInterface* ui = State().ui;
        if (ui == nullptr)
            return kReplaceNo;
        const Answer answer =
            ui->AskYesNoCancel("Overwrite " + ReadName(fileName) + "?", MessageIcon::Exclamation,
                               "VBUnZip32 - File Already Exists!");
        switch (answer) {
        case Answer::Yes:
            return kReplaceYes;
        case Answer::No:
            return kReplaceNo;
        case Answer::Cancel:
            return kReplaceCancel;
        }
    } catch (...) {
    }
    return kReplaceNo;
}

int OnPassword(char* buffer, int bufferSize, const char* /*prompt*/, const char* /*entryName*/) noexcept {
    BridgeState& state = State();
    if (state.passwordRefused != 0)
        return 1;
    std::string answer;
    try {
        if (state.ui != nullptr)
            answer = state.ui->InputBox("Please Enter The Password!", kAppTitle, "");
    } catch (...) {
        answer.clear();
    }
    if (answer.empty()) {
        state.passwordRefused = 1;
        return 1;
    }
    if (buffer == nullptr || bufferSize <= 1)
        return 1;
    const auto size = static_cast<std::size_t>(bufferSize);
    std::memset(buffer, 0, size);
    // A longer answer is cut so that its terminating zero stays inside the buffer.
    std::memcpy(buffer, answer.data(), std::min(answer.size(), size - 1));
    return 0;
}

void Put(std::string& line, std::size_t column, const std::string& text) {
    const std::size_t at = column - 1;
    if (at < line.size())
        line.replace(at, std::min(text.size(), line.size() - at), text.substr(0, line.size() - at));
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

void OnEntryMessage(unsigned long size, unsigned long /*compressedSize*/, unsigned /*factor*/, unsigned month,
                    unsigned day, unsigned year, unsigned hour, unsigned minute, char /*caseMark*/,
                    const char* name, const char* /*method*/, unsigned long /*crc*/,
                    char /*encrypted*/) noexcept {
    try {
        BridgeState& state = State();
        std::string line(kListLine, ' ');
        if (state.listingLines == 0) {
            Put(line, 1, "Filename:");
            Put(line, 53, "Size");
            Put(line, 62, "Date");
            Put(line, 71, "Time");
            state.listingText = line + "\r\n";
            line.assign(kListLine, ' ');
        }
        Put(line, 1, ReadName(name).substr(0, 50));
        const std::string sizeText = "        " + (" " + std::to_string(size));
        Put(line, 51, sizeText.substr(sizeText.size() - 7));
        Put(line, 60, TwoDigits(static_cast<std::int16_t>(month)) + "/");
        Put(line, 63, TwoDigits(static_cast<std::int16_t>(day)) + "/");
        Put(line, 66, TwoDigits(static_cast<std::int16_t>(year) % 100));
        const std::int16_t h = static_cast<std::int16_t>(hour);
        const std::string hourText = (h < 0 ? "" : " ") + std::to_string(h);
        Put(line, 70, hourText.substr(hourText.size() - 2) + ":");
        Put(line, 73, TwoDigits(static_cast<std::int16_t>(minute)));
        state.listingText += line + "\r\n";
        if (state.listingLines < INT16_MAX)
            ++state.listingLines;
    } catch (...) {
    }
}

int OnService(const char* /*entryName*/, unsigned long /*size*/) noexcept {
    return 0;
}

void OnDamagedEntry(const char* name) noexcept {
    try {
        if (name != nullptr)
            State().damagedEntries.emplace_back(name);
    } catch (...) {
    }
}

// Clears the user interface pointer on every way out of a run.
struct UiScope {
    explicit UiScope(UserInterface& ui) { State().ui = &ui; }
    ~UiScope() { State().ui = nullptr; }
    UiScope(const UiScope&) = delete;
    UiScope& operator=(const UiScope&) = delete;
};

void FillBlanks(char* text, std::size_t size) {
    std::memset(text, ' ', size - 1);
    text[size - 1] = '\0';
}

} // namespace

namespace CodeModule {

std::int32_t VBUnzip(UserInterface& ui, const std::string& zipFileName, const std::string& extractDir,
                     std::int16_t extractNewer, std::int16_t spaceToUnderScore, std::int16_t promptOverwrite,
                     std::int16_t messageLevel, std::int16_t writeToStdOut, std::int16_t testZip,
                     std::int16_t extractList, std::int16_t extractOnlyNewer, std::int16_t displayComment,
                     std::int16_t honorDirectories, std::int16_t overWriteFiles, std::int16_t convertCRtoCRLF,
                     std::int16_t verbose, std::int16_t caseSensitive, std::int16_t privilege,
                     const std::vector<std::string>& writtenNames) {
    try {
        State() = BridgeState{};
        const UnzipLibrary* library = g_library;
        if (library == nullptr || library->version == nullptr || library->singleEntryUnzip == nullptr)
            throw RunError(kErrLoadingLibrary, "Error in loading DLL: the unzip library is not available");

        std::vector<const char*> written;
        written.reserve(writtenNames.size());
        for (const auto& name : writtenNames)
            written.push_back(name.c_str());
        const UnzipOptions options{extractOnlyNewer,
                                   spaceToUnderScore,
                                   promptOverwrite,
                                   messageLevel,
                                   writeToStdOut,
                                   testZip,
                                   extractList,
                                   extractNewer,
                                   displayComment,
                                   honorDirectories,
                                   overWriteFiles,
                                   convertCRtoCRLF,
                                   verbose,
                                   caseSensitive,
                                   privilege,
                                   zipFileName.c_str(),
                                   extractDir.c_str(),
                                   static_cast<int>(written.size()),
                                   written.empty() ? nullptr : written.data(),
                                   &OnDamagedEntry};
        UnzipUserFunctions callbacks{
            &OnPrint, nullptr, &OnReplace, &OnPassword, &OnEntryMessage, &OnService, 0, 0, 0, 0, 0};
        const std::array<const char*, 100> includeList{};
        const std::array<const char*, 100> excludeList{};

        UnzipVersion version{};
        version.structLength = sizeof version;
        FillBlanks(version.betaLevel, sizeof version.betaLevel);
        FillBlanks(version.date, sizeof version.date);
        FillBlanks(version.engineVersion, sizeof version.engineVersion);

        UiScope scope(ui);
        library->version(&version);
        return library->singleEntryUnzip(0, includeList.data(), 0, excludeList.data(), &options, &callbacks);
    } catch (const RunError& e) {
        throw RunError(e.Number(), e.what(), kSource);
    } catch (const std::bad_alloc&) {
        throw RunError(kErrOutOfMemory, "Out of memory", kSource);
    } catch (const std::exception& e) {
        throw RunError(kErrAccess, e.what(), kSource);
    }
}

std::string LastMessage() {
    return State().lastMessage;
}

std::string ListingText() {
    return State().listingText;
}

std::vector<std::string> DamagedEntries() {
    return State().damagedEntries;
}

void SetLibrary(const UnzipLibrary* library) {
    g_library = library;
}

const UnzipLibrary& DefaultLibrary() {
    return kBuiltIn;
}

} // namespace CodeModule

} // namespace jarseal
