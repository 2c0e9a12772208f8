#include "src/Network/Socket/SocketCommon.h"
#include "src/Network/Socket/Socket.h"

#include <cstdio>
#include <cstring>
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

namespace socketcommon {

void fillAdapterMap(const std::vector<AdapterRecord> &adapters, InterfaceMap &out)
{
    out.clear();
    auto fit = [](const std::string &text) {
        return text.size() < kAdapterTextBuffer ? text : std::string();
    };
    for (const AdapterRecord &adapter : adapters) {
        for (const auto &address : adapter.addresses) {
            NodeAddress key;
            std::memcpy(key.address, address.data(), 16);
            key.interfaceIndex = static_cast<uint16_t>(adapter.index & 0xffff);
            if (out.count(key) != 0)
                continue;
            InterfaceInfo &info = out[key];
            info.friendlyName = fit(adapter.friendlyName);
            info.description = fit(adapter.description);
        }
    }
}

void keepLinkLocal(InterfaceMap &map)
{
    for (auto it = map.begin(); it != map.end();) {
        if (isLinkLocal(it->first.address))
            ++it;
        else
            it = map.erase(it);
    }
}

} // namespace socketcommon

bool listLinkLocalInterfaces(InterfaceMap &out)
{
    const bool ok = listAdapterAddresses(out);
    if (ok)
        socketcommon::keepLinkLocal(out);
    return ok;
}
