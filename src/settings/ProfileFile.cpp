#include "settings/ProfileFile.h"

#include "common/Errors.h"
#include "common/Fd.h"
#include "common/FileSystem.h"
#include "common/RunLock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jarseal {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

enum class LineKind { Other, Comment, Section, Key };

// One line of the file: [begin, end) is its text, [end, next) its line end
// (empty for a last line without one).
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed, quotes still on
};

void Classify(std::string_view text, Line& line) {
    const std::string_view t = Trim(text);
    if (t.empty())
        return;
    if (t.front() == ';') {
        line.kind = LineKind::Comment;
        return;
    }
    if (t.front() == '[') {
        // A header without its closing bracket is no header; it is kept as
        // an unknown line and never taken for a key.
        const auto close = t.find(']');
        if (close != t.npos) {
            line.kind = LineKind::Section;
            line.name = Trim(t.substr(1, close - 1));
        }
        return;
    }
    const auto eq = t.find('=');
    if (eq == t.npos)
        return;
    const std::string_view name = Trim(t.substr(0, eq));
    if (name.empty())
        return;
    line.kind = LineKind::Key;
    line.name = name;
    line.value = Trim(t.substr(eq + 1));
}

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t pos = content.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (pos < content.size()) {
        Line line;
        line.begin = pos;
        std::size_t end = content.find_first_of("\r\n", pos);
        if (end == content.npos)
            end = content.size();
        line.end = end;
        line.next = end;
        if (end < content.size()) {
            line.next = (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                            ? end + 2
                            : end + 1;
        }
        Classify(content.substr(line.begin, line.end - line.begin), line);
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

// The index of the first header of section, or lines.size().
std::size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && SameName(lines[i].name, section))
            return i;
    return lines.size();
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

bool SectionNameStorable(std::string_view s) {
    return !s.empty() && !HasLineBreakOrNul(s) && s.find(']') == s.npos;
}

bool KeyNameStorable(std::string_view k) {
    return !k.empty() && !HasLineBreakOrNul(k) && k.find('=') == k.npos && k.front() != ';' &&
           k.front() != '[';
}

enum class LoadResult { Loaded, Missing, Failed, TooLarge };

// Reads an ordinary file whole, or its first kMaxProfileFileBytes when it is
// larger (TooLarge). Opening does not block on a FIFO, and anything but an
// ordinary file counts as Failed.
LoadResult LoadFile(const std::string& path, std::string& content) {
    content.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return (errno == ENOENT) ? LoadResult::Missing : LoadResult::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return LoadResult::Failed;
    const std::size_t expected = static_cast<std::size_t>(st.st_size);
    content.reserve(std::min(expected, kMaxProfileFileBytes) + 1);
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LoadResult::Failed;
        }
        if (n == 0)
            return LoadResult::Loaded;
        const std::size_t room = kMaxProfileFileBytes - content.size();
        if (static_cast<std::size_t>(n) > room) {
            content.append(buf, room);
            return LoadResult::TooLarge;
        }
        content.append(buf, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& content) {
    return WriteFully(fd, content.data(), content.size()) == 0;
}

// The file a write goes to: a symbolic link is followed, so the link stays a
// link and its target is the file replaced.
std::string WriteTarget(const std::string& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(file.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return file;
}

} // namespace

std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty())
        return std::nullopt;
    const std::vector<Line> lines = SplitLines(content);
    for (std::size_t i = FindSection(lines, section) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section)
            break;
        if (lines[i].kind == LineKind::Key && SameName(lines[i].name, key))
            return std::string(Unquote(lines[i].value));
    }
    return std::nullopt;
}

std::optional<std::string> SetProfileValue(std::string_view content, std::string_view section,
                                           std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (!SectionNameStorable(section) || !KeyNameStorable(key) || value.find_first_of("\r\n") != value.npos)
        return std::nullopt;

    const std::vector<Line> lines = SplitLines(content);
    const std::size_t header = FindSection(lines, section);
    std::string out;
    out.reserve(content.size() + section.size() + key.size() + value.size() + 8);

    if (header == lines.size()) {
        out.append(content);
        if (!content.empty() && content.back() != '\n' && content.back() != '\r')
            out.append(kCrLf);
        out.append("[").append(section).append("]").append(kCrLf);
        out.append(key).append("=").append(value).append(kCrLf);
        return out;
    }

    std::size_t lastKeyLine = header;
    for (std::size_t i = header + 1; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::Section)
            break;
        if (line.kind != LineKind::Key)
            continue;
        if (SameName(line.name, key)) {
            // The line keeps its place, its line end and the key's spelling
            // in the file; only the text of the line is rewritten.
            out.append(content.substr(0, line.begin));
            out.append(line.name).append("=").append(value);
            out.append(content.substr(line.end));
            return out;
        }
        lastKeyLine = i;
    }

    const Line& after = lines[lastKeyLine];
    out.append(content.substr(0, after.next));
    if (after.next == after.end) // the last line of the file, without a line end
        out.append(kCrLf);
    out.append(key).append("=").append(value).append(kCrLf);
    out.append(content.substr(after.next));
    return out;
}

std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& file,
                             std::size_t maxBytes) {
    std::string content;
    const LoadResult loaded = LoadFile(file, content);
    if (loaded == LoadResult::Missing || loaded == LoadResult::Failed)
        return {};
    if (loaded == LoadResult::TooLarge) {
        // Only complete lines count: a line cut by the size bound could hold
        // a cut value.
        const auto lastEnd = content.find_last_of("\r\n");
        content.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    }
    std::optional<std::string> value = FindProfileValue(content, section, key);
    if (!value)
        return {};
    if (value->size() > maxBytes)
        value->resize(maxBytes);
    return std::move(*value);
}

namespace {

// A file system without permission bits (vfat or exFAT on a memory stick)
// refuses chmod; its files keep the mode it was mounted with.
bool ModeSet(int chmodResult) {
    return chmodResult == 0 || errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP;
}

} // namespace

bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file, bool flushToDisk) {
    if (file.empty())
        return false;
    const std::string target = WriteTarget(file);
    // Another program writing the same file between this read and this
    // rename would have its change replaced by this write's older copy of
    // the file: writers of one folder take turns.
    const auto slash = target.find_last_of('/');
    const FolderLock lock(slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1),
                          nullptr);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0))
        return false;

    std::string content;
    if (exists && LoadFile(target, content) != LoadResult::Loaded)
        return false;
    const std::optional<std::string> updated = SetProfileValue(content, section, key, value);
    if (!updated)
        return false;
    if (exists && *updated == content)
        return true; // nothing to change: the file already says so

    TempFile temp; // removed unless it became the file
    int created = -1;
    try {
        created = temp.CreateBeside(target);
    } catch (const RunError&) {
        return false;
    }
    Fd fd(created);
    bool ok = WriteAll(fd.get(), *updated);
    if (ok && !exists) {
        ok = ModeSet(::fchmod(fd.get(), NewFileMode()));
    }
    if (ok && exists) {
        // Keep the old file's permissions and, where allowed, its owner.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
        ok = ModeSet(::fchmod(fd.get(), old.st_mode & 07777));
    }
    if (ok && flushToDisk)
        ok = ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    // The rename swaps the whole file at once: a reader, or a program that
    // dies here, sees either the old file or the new one, never a mix.
    if (ok)
        ok = ::rename(temp.path().c_str(), target.c_str()) == 0;
    if (ok)
        temp.Keep(); // now the file's name
    return ok;
}

} // namespace jarseal
