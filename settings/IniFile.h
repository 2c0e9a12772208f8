#pragma once

#include "settings/FileIo.h"

#include <cstdint>
#include <map>
#include <string>

// The in-memory store for every settings file the tool and the driver
// share. The driver reads the same files, so the syntax this reads and the
// image it writes are an external format.
struct IniEntry {
    std::string value;
    int32_t order = 0;
};

class IniFile {
public:
    using Section = std::map<std::string, IniEntry>;
    using Sections = std::map<std::string, Section>;

    static constexpr const char *kGlobal = "global";

    IniFile() = default;

    // Merges the file at path (UTF-8) into the store. On failure the store
    // is unchanged and error (when given) says why: Invalid for content the
    // store rejects, or what the file layer found (FileIo.h: links, pipes,
    // files above the size limit).
    bool read(const std::string &path, fileio::FileError *error = nullptr);
    // Writes text() to path (fileio::replaceFile: a temporary file beside
    // the target replaces it, so a failed write leaves the old file as it
    // was). Invalid when a name or value holds a control byte, or a name
    // would not read back as itself (empty, holding "=", a space at either
    // end, or starting with ";", "#" or "["). Spaces around a value are not
    // kept: the reader (the driver's too) trims them.
    bool write(const std::string &path, fileio::FileError *error = nullptr) const;
    std::string text() const;

    std::string get(const std::string &key) const;
    int64_t getInt(const std::string &key) const;
    void set(const std::string &key, const std::string &value);
    void setInt(const std::string &key, uint64_t value);
    void clear();

    const Sections &sections() const { return sections_; }
    int32_t lastOrder() const { return lastOrder_; }

    // Parses bytes as read() does after loading the file; false (and no
    // change) when the data holds a control byte.
    bool parse(const std::string &bytes);

    // The function write() hands the image to (fwrite by default). A seam
    // for tests that need a write failing part-way.
    void setChunkWriter(fileio::ChunkWriter writer) { writer_ = std::move(writer); }

private:
    Sections sections_;
    int32_t lastOrder_ = 0;
    fileio::ChunkWriter writer_;
};
