// Where firmware lists and installers are fetched from, on arbitrary source
// texts, server names and mode flags. The first byte holds the flags; the
// rest is "server\nsource" (no newline: all of it is the source, the server
// is a fixed name). Checks the rules the update dialog relies on: the
// marker expands onto the built-in server, a source that is neither marker
// nor http(s) has no base, every base ends in "/" plus the mode's folder,
// and normalising again without a mode changes nothing.
#include "update/core/BaseUrl.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A non-empty base ends in "/" and then the mode's folder: staging wins
// over developer preview.
void checkBase(const std::string &base, const std::string &resolved, bool staging, bool preview)
{
    if (resolved.empty()) {
        check(base.empty());
        return;
    }
    check(!base.empty() && base.back() == '/');
    const std::string folder = staging ? "staging/" : preview ? "preview/" : "";
    check(endsWith(base, folder));
    // The resolved text is kept, with at most one "/" added before the
    // mode's folder.
    check(startsWith(base, resolved));
    const std::string added = base.substr(resolved.size());
    check(added == folder || added == "/" + folder);
    check((resolved.back() == '/') == (added == folder));
    // Once normalised without a mode, a base stays as it is.
    check(update::normaliseBaseUrl(base, false, false) == base);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool staging = data[0] & 1;
    const bool preview = data[0] & 2;
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string server = "updates.example.invalid";
    std::string source = rest;
    const size_t newline = rest.find('\n');
    if (newline != std::string::npos) {
        server = rest.substr(0, newline);
        source = rest.substr(newline + 1);
    }

    const std::string marker = update::kSourceMarker;
    const bool isMarker = startsWith(source, marker);
    const bool isHttp = startsWith(source, "http://") || startsWith(source, "https://");

    const std::string resolved = update::resolveTargetSource(source, server);
    if (isMarker) {
        // The marker and the one character after it give way to the server.
        const std::string path = source.size() > marker.size() + 1 ? source.substr(marker.size() + 1) : "";
        check(resolved == "https://" + server + "/" + path);
    } else if (isHttp) {
        check(resolved == source);
    } else {
        check(resolved.empty());
    }

    const std::string base = update::targetBaseUrl(source, server, staging, preview);
    check(base == update::normaliseBaseUrl(resolved, staging, preview));
    checkBase(base, resolved, staging, preview);
    check(isMarker || isHttp ? !base.empty() : base.empty());

    // The driver's update host: the same marker rule, otherwise the text as
    // it is (empty stays empty).
    const std::string host = update::resolveUpdateHost(source, server);
    check(isMarker ? host == resolved : host == source);
    const std::string hostBase = update::hostBaseUrl(source, server, staging, preview);
    checkBase(hostBase, host, staging, preview);

    // Normalising twice without a mode is the same as once.
    const std::string once = update::normaliseBaseUrl(source, false, false);
    check(update::normaliseBaseUrl(once, false, false) == once);
    return 0;
}
