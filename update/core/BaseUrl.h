#pragma once

#include <string>

// Where a target's firmware lists and the driver installers lie on the
// update server. A source text that begins with the marker names a path on
// the built-in update server; the server address itself is handed in by
// the caller (the update dialog assembles it at run time).

namespace update {

// 13 characters; the marker and the one character after it are replaced by
// "https://" + the built-in server + "/".
constexpr char kSourceMarker[] = "certificarono";

// A target's update source text (from the target protocol): the marker
// rule, else the text itself if it begins with "http://" or "https://"
// (case-sensitive), else empty (the target has no usable source).
std::string resolveTargetSource(const std::string &source, const std::string &builtInServer);

// The driver's update host text: the marker rule, else the text as it is.
std::string resolveUpdateHost(const std::string &updateHost, const std::string &builtInServer);

// Appends "/" unless the URL ends with one, then "staging/" in staging mode,
// else "preview/" in developer preview mode. Empty stays empty.
std::string normaliseBaseUrl(const std::string &url, bool staging, bool developerPreview);

// resolveTargetSource, then normaliseBaseUrl.
std::string targetBaseUrl(const std::string &source, const std::string &builtInServer, bool staging,
                          bool developerPreview);
// resolveUpdateHost, then normaliseBaseUrl.
std::string hostBaseUrl(const std::string &updateHost, const std::string &builtInServer, bool staging,
                        bool developerPreview);

// The list below a base URL: base + "updatelist". A file: base + file.
std::string updateListUrl(const std::string &baseUrl);

} // namespace update
