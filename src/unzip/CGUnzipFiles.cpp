#include "unzip/CGUnzipFiles.h"

#include "common/Errors.h"
#include "unzip/CodeModule.h"

namespace jarseal {

namespace {

std::int16_t Flag(bool value) {
    return value ? 1 : 0;
}

// Only the low 16 bits travel to the bridge, read as a signed number.
std::int16_t Low16(std::int32_t value) {
    return static_cast<std::int16_t>(value);
}

} // namespace

CGUnzipFiles::CGUnzipFiles(UserInterface& ui) : ui_(ui) {}

bool CGUnzipFiles::GetExtractNewer() const {
    return extractNewer_ == 1;
}
void CGUnzipFiles::LetExtractNewer(bool bExtractNewer) {
    extractNewer_ = Flag(bExtractNewer);
}
bool CGUnzipFiles::GetSpaceToUnderScore() const {
    return spaceToUnderScore_ == 1;
}
void CGUnzipFiles::LetSpaceToUnderScore(bool bConvert) {
    spaceToUnderScore_ = Flag(bConvert);
}
bool CGUnzipFiles::GetPromptOverwrite() const {
    return promptOverwrite_ == 1;
}
void CGUnzipFiles::LetPromptOverwrite(bool bPrompt) {
    promptOverwrite_ = Flag(bPrompt);
}
std::int32_t CGUnzipFiles::GetMessageLevel() const {
    return messageLevel_;
}
void CGUnzipFiles::LetMessageLevel(std::int32_t iLevel) {
    messageLevel_ = iLevel;
}
bool CGUnzipFiles::GetWriteToStdOut() const {
    return writeToStdOut_ == 1;
}
void CGUnzipFiles::LetWriteToStdOut(bool bWrite) {
    writeToStdOut_ = Flag(bWrite);
}
bool CGUnzipFiles::GetTestZip() const {
    return testZip_ == 1;
}
void CGUnzipFiles::LetTestZip(bool bTest) {
    testZip_ = Flag(bTest);
}
std::int32_t CGUnzipFiles::GetExtractList() const {
    return extractList_;
}
void CGUnzipFiles::LetExtractList(std::int32_t zExType) {
    extractList_ = zExType;
}
bool CGUnzipFiles::GetExtractOnlyNewer() const {
    return extractOnlyNewer_ == 1;
}
void CGUnzipFiles::LetExtractOnlyNewer(bool bOnlyNewer) {
    extractOnlyNewer_ = Flag(bOnlyNewer);
}
bool CGUnzipFiles::GetDisplayComment() const {
    return displayComment_ == 1;
}
void CGUnzipFiles::LetDisplayComment(bool bDisplay) {
    displayComment_ = Flag(bDisplay);
}
bool CGUnzipFiles::GetHonorDirectories() const {
    return honorDirectories_ == 1;
}
void CGUnzipFiles::LetHonorDirectories(bool bHonor) {
    honorDirectories_ = Flag(bHonor);
}
bool CGUnzipFiles::GetOverWriteFiles() const {
    return overWriteFiles_ == 1;
}
void CGUnzipFiles::LetOverWriteFiles(bool bOverWrite) {
    overWriteFiles_ = Flag(bOverWrite);
}
bool CGUnzipFiles::GetConvertCRtoCRLF() const {
    return convertCRtoCRLF_ == 1;
}
void CGUnzipFiles::LetConvertCRtoCRLF(bool bConvert) {
    convertCRtoCRLF_ = Flag(bConvert);
}
bool CGUnzipFiles::GetVerbose() const {
    return verbose_ == 1;
}
void CGUnzipFiles::LetVerbose(bool bVerbose) {
    verbose_ = Flag(bVerbose);
}
bool CGUnzipFiles::GetCaseSensitive() const {
    return caseSensitive_ == 1;
}
void CGUnzipFiles::LetCaseSensitive(bool bCaseSensitive) {
    caseSensitive_ = Flag(bCaseSensitive);
}
std::int32_t CGUnzipFiles::GetPrivilege() const {
    return privilege_;
}
void CGUnzipFiles::LetPrivilege(std::int32_t zPriv) {
    privilege_ = zPriv;
}
std::string CGUnzipFiles::GetZipFileName() const {
    return zipFileName_;
}
void CGUnzipFiles::LetZipFileName(const std::string& sZipFileName) {
    zipFileName_ = sZipFileName;
}
std::string CGUnzipFiles::GetExtractDir() const {
    return extractDir_;
}
void CGUnzipFiles::LetExtractDir(const std::string& sExtractDir) {
    extractDir_ = sExtractDir;
}

std::vector<std::string> CGUnzipFiles::GetWrittenNames() const {
    return writtenNames_;
}
void CGUnzipFiles::LetWrittenNames(const std::vector<std::string>& asWrittenNames) {
    writtenNames_ = asWrittenNames;
}

std::int32_t CGUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
    damagedEntries_.clear();
    if (!sZipFileName.empty())
        zipFileName_ = sZipFileName;
    if (!sExtractDir.empty())
        extractDir_ = sExtractDir;
    try {
        const std::int32_t result = CodeModule::VBUnzip(
            ui_, zipFileName_, extractDir_, extractNewer_, spaceToUnderScore_, promptOverwrite_,
            Low16(messageLevel_), writeToStdOut_, testZip_, Low16(extractList_), extractOnlyNewer_,
            displayComment_, honorDirectories_, overWriteFiles_, convertCRtoCRLF_, verbose_, caseSensitive_,
            Low16(privilege_), writtenNames_);
        damagedEntries_ = CodeModule::DamagedEntries();
        return result;
    } catch (const RunError& e) {
        throw RunError(e.Number(), e.what(), "CGUnZipFiles::Unzip");
    }
}

std::string CGUnzipFiles::GetLastMessage() const {
    return CodeModule::LastMessage();
}

std::vector<std::string> CGUnzipFiles::GetDamagedEntries() const {
    return damagedEntries_;
}

} // namespace jarseal
