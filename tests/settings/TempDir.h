#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100; ++i) {
            path_ = base / ("velmora-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(path_))
                return;
        }
        throw std::runtime_error("no temporary folder");
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // A path in the folder as UTF-8, the way the store takes paths.
    std::string file(const std::string &name) const
    {
        return (path_ / std::filesystem::u8path(name)).u8string();
    }
    const std::filesystem::path &path() const { return path_; }
    size_t entryCount() const
    {
        return static_cast<size_t>(
            std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
    }

private:
    std::filesystem::path path_;
};

// Paths are UTF-8.
inline void writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::string &path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
