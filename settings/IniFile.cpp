#include "settings/IniFile.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace {

void trimLeft(std::string &s)
{
    size_t n = 0;
    while (n < s.size() && s[n] == ' ')
        ++n;
    s.erase(0, n);
}

void trimRight(std::string &s)
{
    size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ')
        --n;
    s.resize(n);
}

// Splits the file's bytes into non-empty lines; false when a control byte
// other than CR or LF occurs (the driver rejects such a file whole).
bool splitLines(const std::string &bytes, std::vector<std::string> &lines)
{
    size_t start = 0;
    if (bytes.size() > 2 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
        start = 3;
    bool valid = true;
    std::string line;
    for (size_t i = start; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' || c == '\n') {
            if (!line.empty())
                lines.push_back(std::move(line));
            line.clear();
        } else if (c >= 0x20) {
            line += static_cast<char>(c);
        } else {
            valid = false;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return valid;
}

bool hasControlByte(const std::string &s)
{
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20)
            return true;
    }
    return false;
}

// Whether the reader would take "name=..." back as this very name: not
// empty, no "=" in it, no space at either end, and not starting like a
// comment or a section line. Any other name would be read back as another
// key (or dropped), so the value would be lost or land under a forged key.
bool readsBackAsName(const std::string &name)
{
    if (name.empty() || name.find('=') != std::string::npos)
        return false;
    const char first = name.front();
    return first != ' ' && first != ';' && first != '#' && first != '[' && name.back() != ' ';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool IniFile::read(const std::string &path, fileio::FileError *error)
{
    std::string bytes;
    if (!fileio::readWholeFile(path, bytes, error))
        return false;
    if (parse(bytes))
        return true;
    if (error)
        *error = fileio::FileError::Invalid;
    return false;
}

bool IniFile::parse(const std::string &bytes)
{
    std::vector<std::string> lines;
    if (!splitLines(bytes, lines))
        return false;

    std::string current;
    for (std::string &line : lines) {
        trimLeft(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            trimRight(line);
            if (line.size() < 2 || line.back() != ']')
                continue;
            std::string name = line.substr(1, line.size() - 2);
            trimLeft(name);
            trimRight(name);
            current = std::move(name);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        trimRight(key);
        if (key.empty())
            continue;
        std::string value = line.substr(eq + 1);
        trimLeft(value);
        trimRight(value);
        IniEntry &entry = sections_[current.empty() ? std::string(kGlobal) : current][key];
        entry.value = std::move(value);
        // The counter is 32-bit; it stops at its largest value rather than
        // overflowing (only reachable after billions of key lines).
        if (lastOrder_ < std::numeric_limits<int32_t>::max())
            ++lastOrder_;
        entry.order = lastOrder_;
    }
    return true;
}

std::string IniFile::text() const
{
    std::string out;
    for (const auto &section : sections_) {
        out += "[";
        out += section.first;
        out += "]\r\n";
        for (const auto &entry : section.second) {
            if (entry.second.value.empty())
                continue;
            out += entry.first;
            out += "=";
            out += entry.second.value;
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

bool IniFile::write(const std::string &path, fileio::FileError *error) const
{
    const std::string image = text();
    // A control byte in a name or value would make the whole file
    // unreadable for the store and the driver (and a CR or LF would forge
    // lines), so such an image is not written and the old file stays.
    for (const auto &section : sections_) {
        if (hasControlByte(section.first)) {
            if (error)
                *error = fileio::FileError::Invalid;
            return false;
        }
        for (const auto &entry : section.second) {
            if (!entry.second.value.empty() &&
                (hasControlByte(entry.first) || hasControlByte(entry.second.value) ||
                 !readsBackAsName(entry.first))) {
                if (error)
                    *error = fileio::FileError::Invalid;
                return false;
            }
        }
    }
    if (writer_)
        return fileio::replaceFile(path, image, writer_, error);
    return fileio::replaceFile(
        path, image,
        [](const char *data, size_t size, std::FILE *file) { return std::fwrite(data, 1, size, file); },
        error);
}

std::string IniFile::get(const std::string &key) const
{
    const auto section = sections_.find(kGlobal);
    if (section == sections_.end())
        return std::string();
    const auto entry = section->second.find(key);
    return entry == section->second.end() ? std::string() : entry->second.value;
}

int64_t IniFile::getInt(const std::string &key) const
{
    // The C library's strtoll rules, done here so that no locale or
    // platform difference can change what a settings value means.
    const std::string value = get(key);
    size_t i = 0;
    while (i < value.size() && isSpace(value[i]))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    const uint64_t limit = negative ? static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1u
                                    : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    bool saturated = false;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(value[i] - '0');
        if (saturated || magnitude > (limit - digit) / 10) {
            saturated = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (saturated)
        return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (negative)
        return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    return static_cast<int64_t>(magnitude);
}

void IniFile::set(const std::string &key, const std::string &value)
{
    // operator[] creates a new entry with order 0 and keeps an existing
    // entry's order.
    sections_[kGlobal][key].value = value;
}

void IniFile::setInt(const std::string &key, uint64_t value)
{
    set(key, std::to_string(value));
}

void IniFile::clear()
{
    sections_.clear();
    lastOrder_ = 0;
}
