#pragma once

#include "common/UserInterface.h"
#include "unzip/zipdll/UnzipDll.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jarseal {

// One extraction job on a zip archive: which archive, into which folder,
// fifteen switches handed unchanged to the unzip library through the bridge,
// and which entries are written rather than only tested.
class CGUnzipFiles {
  public:
    // The bridge's callbacks ask the user (password, overwrite) through ui.
    explicit CGUnzipFiles(UserInterface& ui);

    bool GetExtractNewer() const;
    void LetExtractNewer(bool bExtractNewer);
    bool GetSpaceToUnderScore() const;
    void LetSpaceToUnderScore(bool bConvert);
    bool GetPromptOverwrite() const;
    void LetPromptOverwrite(bool bPrompt);
    std::int32_t GetMessageLevel() const;
    void LetMessageLevel(std::int32_t iLevel);
    bool GetWriteToStdOut() const;
    void LetWriteToStdOut(bool bWrite);
    bool GetTestZip() const;
    void LetTestZip(bool bTest);
    std::int32_t GetExtractList() const;
    void LetExtractList(std::int32_t zExType);
    bool GetExtractOnlyNewer() const;
    void LetExtractOnlyNewer(bool bOnlyNewer);
    bool GetDisplayComment() const;
    void LetDisplayComment(bool bDisplay);
    bool GetHonorDirectories() const;
    void LetHonorDirectories(bool bHonor);
    bool GetOverWriteFiles() const;
    void LetOverWriteFiles(bool bOverWrite);
    bool GetConvertCRtoCRLF() const;
    void LetConvertCRtoCRLF(bool bConvert);
    bool GetVerbose() const;
    void LetVerbose(bool bVerbose);
    bool GetCaseSensitive() const;
    void LetCaseSensitive(bool bCaseSensitive);
    std::int32_t GetPrivilege() const;
    void LetPrivilege(std::int32_t zPriv);
    std::string GetZipFileName() const;
    void LetZipFileName(const std::string& sZipFileName);
    std::string GetExtractDir() const;
    void LetExtractDir(const std::string& sExtractDir);
    // Bare names of the entries the caller reads from ExtractDir (compared
    // exactly with the name each file would get). Only those are written;
    // every other entry is tested in memory, so that damage is still found
    // and reported. Empty (the default): every entry is written.
    std::vector<std::string> GetWrittenNames() const;
    void LetWrittenNames(const std::vector<std::string>& asWrittenNames);

    // Runs the extraction; non-empty arguments replace ZipFileName and
    // ExtractDir first. Returns the library's result code (0 success).
    // A failure to set up or call the library throws RunError with the
    // source "CGUnZipFiles::Unzip".
    std::int32_t Unzip(const std::string& sZipFileName, const std::string& sExtractDir);
    // Everything the library printed during the most recent run of any job.
    std::string GetLastMessage() const;
    // The names, as stored in the archive, of the entries of this job's last
    // Unzip whose data could not be read correctly (bad CRC or compressed
    // data, over the size limits, unsupported method or encryption, no
    // password, a damaged archive around them), in entry order. Entries
    // skipped for their name and files that could not be written are not
    // among them.
    std::vector<std::string> GetDamagedEntries() const;

  private:
    UserInterface& ui_;
    // Switches are kept as 16-bit flags that are always exactly 1 or 0.
    std::int16_t extractNewer_ = 0;
    std::int16_t spaceToUnderScore_ = 0;
    std::int16_t promptOverwrite_ = 0;
    std::int32_t messageLevel_ = 2;
    std::int16_t writeToStdOut_ = 0;
    std::int16_t testZip_ = 0;
    std::int32_t extractList_ = 0;
    std::int16_t extractOnlyNewer_ = 0;
    std::int16_t displayComment_ = 0;
    std::int16_t honorDirectories_ = 1;
    std::int16_t overWriteFiles_ = 1;
    std::int16_t convertCRtoCRLF_ = 0;
    std::int16_t verbose_ = 0;
    std::int16_t caseSensitive_ = 1;
    std::int32_t privilege_ = 0;
    std::string zipFileName_;
    std::string extractDir_;
    std::vector<std::string> writtenNames_;
    std::vector<std::string> damagedEntries_;
};

} // namespace jarseal
