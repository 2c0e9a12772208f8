#include "settings/FileIo.h"

#include <cstdint>
#include <new>

namespace fileio {

bool readExactly(std::FILE *file, unsigned long long size, std::string &bytes)
{
    if (size > SIZE_MAX)
        return false;
    try {
        std::string data(static_cast<size_t>(size), '\0');
        if (!data.empty() && std::fread(&data[0], 1, data.size(), file) != data.size())
            return false;
        bytes.swap(data);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace fileio
