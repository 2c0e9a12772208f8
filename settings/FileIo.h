#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// Whole-file I/O for the settings store, one implementation per platform
// (FileIo_posix.cpp, FileIo_win.cpp). Paths are UTF-8; the Windows side
// converts them to UTF-16 and refuses paths longer than 259 UTF-16 units,
// as the driver's own file functions do.

namespace fileio {

// Writes size bytes of data to an open file and returns the count written,
// like fwrite. The store uses fwrite; tests put a failing writer in its
// place to show that a failed write leaves the old file as it was.
using ChunkWriter = std::function<size_t(const char *data, size_t size, std::FILE *file)>;

// Reads the regular file at path whole: its size by seeking to the end,
// then exactly that many bytes. False when it cannot be opened, is not a
// regular file, or a seek or the read fails or comes short.
bool readWholeFile(const std::string &path, std::string &bytes);

// The part of readWholeFile both platforms share: reads exactly size bytes
// from the start of an open file (already positioned there). False when
// the read comes short or the memory cannot be had.
bool readExactly(std::FILE *file, unsigned long long size, std::string &bytes);

// Whether something (a file, a folder, a link) stands at path.
bool pathExists(const std::string &path);

// Writes bytes to a new temporary file in path's folder with one writer
// call, flushes it to the disk and then moves it over path (creating path
// if needed). On any failure the temporary file is removed and path is left
// as it was.
bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer);

} // namespace fileio
