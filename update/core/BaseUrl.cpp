#include "update/core/BaseUrl.h"

#include "update/core/UpdateList.h"

#include <cstring>

namespace update {

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    const size_t n = std::strlen(prefix);
    return text.size() >= n && text.compare(0, n, prefix) == 0;
}

// The marker and the one separator after it are dropped. The marker alone
// (or with only the separator) has no path: the server's root.
bool resolveMarker(const std::string &text, const std::string &builtInServer, std::string &url)
{
    if (!startsWith(text, kSourceMarker))
        return false;
    const size_t pathStart = std::strlen(kSourceMarker) + 1;
    url =
        "https://" + builtInServer + "/" + (text.size() > pathStart ? text.substr(pathStart) : std::string());
    return true;
}

} // namespace

std::string resolveTargetSource(const std::string &source, const std::string &builtInServer)
{
    std::string url;
    if (resolveMarker(source, builtInServer, url))
        return url;
    if (startsWith(source, "http://") || startsWith(source, "https://"))
        return source;
    return std::string();
}

std::string resolveUpdateHost(const std::string &updateHost, const std::string &builtInServer)
{
    std::string url;
    if (resolveMarker(updateHost, builtInServer, url))
        return url;
    return updateHost;
}

std::string normaliseBaseUrl(const std::string &url, bool staging, bool developerPreview)
{
    if (url.empty())
        return url;
    std::string result = url;
    if (result.back() != '/')
        result += '/';
    if (staging)
        result += "staging/";
    else if (developerPreview)
        result += "preview/";
    return result;
}

std::string targetBaseUrl(const std::string &source, const std::string &builtInServer, bool staging,
                          bool developerPreview)
{
    return normaliseBaseUrl(resolveTargetSource(source, builtInServer), staging, developerPreview);
}

std::string hostBaseUrl(const std::string &updateHost, const std::string &builtInServer, bool staging,
                        bool developerPreview)
{
    return normaliseBaseUrl(resolveUpdateHost(updateHost, builtInServer), staging, developerPreview);
}

std::string updateListUrl(const std::string &baseUrl)
{
    return baseUrl + kUpdateListName;
}

} // namespace update
