#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/SocketCommon.h"

#include <cstdio>
#include <string>

// Parts of the socket layer that are the same on every platform.

namespace TORNE {

std::string assertText(const char *file, int line, int code, int data)
{
    return std::string("TORNE ASSERT[") + (file != nullptr ? file : "") + "]Line:" + std::to_string(line) +
           "[code:" + std::to_string(code) + " Data:" + std::to_string(data) + "]";
}

void reportAssert(const char *file, int line, int code, int data)
{
    const std::string text = "\n" + assertText(file, line, code, data) + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace TORNE

bool listLinkLocalInterfaces(InterfaceMap &out)
{
    const bool ok = listAdapterAddresses(out);
    if (ok) {
        for (auto it = out.begin(); it != out.end();) {
            if (socketcommon::isLinkLocal(it->first.address))
                ++it;
            else
                it = out.erase(it);
        }
    }
    return ok;
}
