#pragma once

#include <string>
#include <vector>

namespace velmora::msiexec {

// The record the stand-in installer writes for one start: each argument on
// a line of its own, then a line "--"; and when the last argument names an
// existing regular file, a line "size N" with its size in bytes. Lines end
// in "\n". Control characters in an argument (a line feed would split the
// record) are written as \xHH; every other byte stands as it is.
//
// Windows separates path parts with "\": when the last argument does not
// name a file as it is, it is tried once more with every "\" read as "/".
std::string makeRecord(const std::vector<std::string> &args);

// Appends the record to the file at logPath in one write (so records of
// installers started at the same time never interleave). False with a
// message in error when the file cannot be opened or written.
bool appendRecord(const std::string &logPath, const std::string &record, std::string &error);

} // namespace velmora::msiexec
