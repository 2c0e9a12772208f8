#include "tools/msiexec/MsiexecRecord.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::msiexec {

namespace {

std::string escapeControls(const std::string &arg)
{
    std::string out;
    out.reserve(arg.size());
    for (unsigned char c : arg) {
        if (c < 0x20 || c == 0x7f) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

// The size of a regular file at path (following links), or -1.
long long regularFileSize(const std::string &path)
{
    // A path with a zero byte cannot name a file.
    if (path.empty() || path.find('\0') != std::string::npos)
        return -1;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

} // namespace

std::string makeRecord(const std::vector<std::string> &args)
{
    std::string record;
    for (const std::string &arg : args) {
        record += escapeControls(arg);
        record += '\n';
    }
    record += "--\n";
    if (!args.empty()) {
        long long size = regularFileSize(args.back());
        if (size < 0) {
            std::string slashed = args.back();
            std::replace(slashed.begin(), slashed.end(), '\\', '/');
            if (slashed != args.back())
                size = regularFileSize(slashed);
        }
        if (size >= 0)
            record += "size " + std::to_string(size) + "\n";
    }
    return record;
}

bool appendRecord(const std::string &logPath, const std::string &record, std::string &error)
{
    int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = "cannot open " + logPath + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (done < record.size()) {
        ssize_t n = ::write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write " + logPath + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 && ok) {
        error = "cannot write " + logPath + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace velmora::msiexec
