#include "update/core/UpdateFiles.h"

namespace update {

bool isPlainFileName(const std::string &name)
{
    if (name.empty() || name.find("..") != std::string::npos)
        return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    }
    const char last = name.back();
    return last != '.' && last != ' ';
}

} // namespace update
