#include "app/BatchReport.h"

#include "common/Errors.h"
#include "common/FileSystem.h"
#include "common/Text.h"

#include <cstdio>
#include <iterator>
#include <openssl/evp.h>

namespace jarseal {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char b : bytes) {
        out += digits[(static_cast<unsigned char>(b) >> 4) & 0xF];
        out += digits[static_cast<unsigned char>(b) & 0xF];
    }
    return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else
        return 0;
    if (i + n > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    return n;
}

bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else
            out.append(text, i, n);
        i += n;
    }
    return out + "\"";
}

std::string JsonOrNull(const std::string& text) {
    return text.empty() ? "null" : Json(text);
}

std::string Tsv(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A message's lines end in LF in a report.
std::string WithLf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string JsonRecord(const PackageRecord& r) {
    std::string out = "  {\"path\": " + Json(r.path);
    if (!IsUtf8(r.path))
        out += ", \"path_hex\": \"" + Hex(r.path) + "\"";
    out += ", \"kind\": " + Json(r.kind) + ", \"result\": " + Json(r.result) +
           ", \"installer_code\": " + (r.installerCode != 0 ? std::to_string(r.installerCode) : "null") +
           ", \"reason_key\": " + JsonOrNull(r.reasonKey) + ", \"reason\": " + JsonOrNull(WithLf(r.reason)) +
           ", \"seconds\": " + Seconds(r.seconds) + ", \"files_written\": [";
    for (std::size_t i = 0; i < r.written.size(); ++i)
        out += (i == 0 ? "" : ", ") + Json(r.written[i]);
    return out + "], \"sha1\": " + JsonOrNull(r.sha1) +
           ", \"certificate_sha1\": " + JsonOrNull(r.certificate) + "}";
}

std::string TsvRecord(const PackageRecord& r) {
    std::string files;
    for (std::size_t i = 0; i < r.written.size(); ++i)
        files += (i == 0 ? "" : "\n") + r.written[i];
    const std::string fields[] = {r.path,
                                  r.kind,
                                  r.result,
                                  r.installerCode != 0 ? std::to_string(r.installerCode) : "",
                                  r.reasonKey,
                                  WithLf(r.reason),
                                  Seconds(r.seconds),
                                  files,
                                  r.sha1,
                                  r.certificate};
    std::string out;
    for (std::size_t i = 0; i < std::size(fields); ++i)
        out += (i == 0 ? "" : "\t") + Tsv(fields[i]);
    return out + "\n";
}

} // namespace

std::optional<ReportForm> ReportFormOf(const std::string& fileName) {
    if (EndsWith(fileName, ".json"))
        return ReportForm::Json;
    if (EndsWith(fileName, ".tsv"))
        return ReportForm::Tsv;
    return std::nullopt;
}

std::string ReportText(const std::vector<PackageRecord>& records, ReportForm form) {
    std::string out;
    if (form == ReportForm::Tsv) {
        out = "path\tkind\tresult\tinstaller_code\treason_key\treason\tseconds\tfiles_written\tsha1\t"
              "certificate_sha1\n";
        for (const PackageRecord& r : records)
            out += TsvRecord(r);
        return out;
    }
    out = "[\n";
    for (std::size_t i = 0; i < records.size(); ++i)
        out += JsonRecord(records[i]) + (i + 1 < records.size() ? ",\n" : "\n");
    return out + "]\n";
}

void WriteReport(const std::string& fileName, const std::vector<PackageRecord>& records) {
    const std::string text = ReportText(records, ReportFormOf(fileName).value_or(ReportForm::Json));
    ReplaceFileWith(fileName, NewFileMode(), [&](int fd) {
        if (const int err = WriteFully(fd, text.data(), text.size()))
            ThrowSystemError(err, "write", fileName);
    });
}

std::string Sha1Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr) != 1)
        return {};
    return Hex(std::string(reinterpret_cast<const char*>(digest), size));
}

std::string FileSha1Hex(const std::string& path) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr)
        return {};
    std::string result;
    try {
        if (EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1) {
            bool ok = true;
            ReadFileInPieces(path, [&](const char* data, std::size_t size) {
                ok = EVP_DigestUpdate(ctx, data, size) == 1;
                return ok;
            });
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned int size = 0;
            if (ok && EVP_DigestFinal_ex(ctx, digest, &size) == 1)
                result = Hex(std::string(reinterpret_cast<const char*>(digest), size));
        }
    } catch (const std::exception&) {
        result.clear();
    }
    EVP_MD_CTX_free(ctx);
    return result;
}

} // namespace jarseal
