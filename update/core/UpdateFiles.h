#pragma once

#include <string>

namespace update {

// Whether a file name from a driver update list may become a file in the
// download folder: not empty, no "/" or "\", no ".." anywhere, no ":"
// (drive letters, alternate streams), no control byte, not "." and not
// ending in a dot or a space (Windows drops those and would name another
// file). The list's entries that fail are shown but never downloaded.
bool isPlainFileName(const std::string &name);

} // namespace update
