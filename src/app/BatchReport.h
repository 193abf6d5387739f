#pragma once

#include <optional>
#include <string>
#include <vector>

namespace jarseal {

// What --report FILE tells of one package of a run.
struct PackageRecord {
    std::string path;
    std::string kind;      // "java", "symbian", or "other" for a name of neither
    std::string result;    // "done", "refused", "failed" or "error"
    int installerCode = 0; // what a phone's installer would report; 0: none
    std::string reasonKey; // the reason's stable key; empty when done
    std::string reason;    // the reason in the run's language; empty when done
    double seconds = 0;
    std::vector<std::string> written; // the files the run wrote or replaced
    std::string sha1;                 // of the jar (the .sis) as the run left it; empty when none
    std::string certificate;          // SHA-1 of the signer's certificate (DER) when done; empty: none
};

// The form of a report, by its name's extension; nullopt for one the
// program does not write.
enum class ReportForm { Json, Tsv };
std::optional<ReportForm> ReportFormOf(const std::string& fileName);

// The report's text: a JSON array of one object per record, or a TSV table
// with a header line. JSON strings are escaped (control characters, quotes)
// and bytes that are no UTF-8 become U+FFFD, with the exact bytes of such a
// path in "path_hex"; TSV fields escape backslash, tab, CR and LF.
std::string ReportText(const std::vector<PackageRecord>& records, ReportForm form);

// Writes the report at once, beside its place and renamed over it, so a run
// killed meanwhile leaves the old report or none, never a part of one.
// Throws RunError.
void WriteReport(const std::string& fileName, const std::vector<PackageRecord>& records);

// Bytes as lower-case hex; the SHA-1 of bytes, and of a file's content, so
// written, empty when the file cannot be read.
std::string Hex(const std::string& bytes);
std::string Sha1Hex(const std::string& bytes);
std::string FileSha1Hex(const std::string& path);

} // namespace jarseal
