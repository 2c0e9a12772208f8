#include "update/core/UpdateTargets.h"

#include "src/Network/TargetClient.h"
#include "update/core/BaseUrl.h"

#include <memory>

namespace update {

SourceLookup lookUpSource(TargetClient &client, const NodeAddress &address, const std::string &builtInServer,
                          bool staging, bool developerPreview)
{
    SourceLookup result;
    if (!client.queryUpdateSource(address, result.source)) {
        result.state = SourceState::QueryFailed;
        result.source.clear();
        return result;
    }
    if (result.source.empty()) {
        result.state = SourceState::NoSource;
        return result;
    }
    result.baseUrl = targetBaseUrl(result.source, builtInServer, staging, developerPreview);
    result.state = result.baseUrl.empty() ? SourceState::NotUrl : SourceState::Ok;
    return result;
}

bool readTargetVersion(const NodeAddress &address, std::string &version)
{
    std::unique_ptr<TargetClient> client;
    try {
        client = std::make_unique<TargetClient>(TargetClient::kAllOnes, std::string());
    } catch (const TORNE::Err &) {
        // The socket library did not start: as a client that does not open.
        return false;
    }
    client->open();
    std::string text;
    const bool ok = client->queryVersion(address, text) && !text.empty();
    client->close();
    if (ok)
        version = text;
    return ok;
}

std::string untilZero(const std::string &text)
{
    const size_t end = text.find('\0');
    return end == std::string::npos ? text : text.substr(0, end);
}

} // namespace update
