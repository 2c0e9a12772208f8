#pragma once

#include <cstddef>
#include <string>

// UTF-8 from outside (a target's log stream, the driver's debug datagrams)
// turned into well-formed UTF-8. Every maximal ill-formed subsequence (the
// longest start of a well-formed character that goes no further, or a
// single byte that starts none) becomes one U+FFFD; well-formed text,
// noncharacters and U+0000 included, passes unchanged.
//
// The stream decoder keeps an unfinished character (at most three bytes)
// from one chunk to the next, so a character cut between two chunks comes
// out whole, and any cut of a stream gives the same text as decoding it in
// one piece. Its output per chunk is at most three bytes per byte given
// plus three.
namespace debugtext {

// U+FFFD REPLACEMENT CHARACTER.
constexpr char kReplacement[] = "\xef\xbf\xbd";

class Utf8StreamDecoder {
public:
    // Appends the text of the next chunk to out.
    void decode(const char *data, size_t size, std::string &out);
    std::string decode(const std::string &chunk)
    {
        std::string out;
        decode(chunk.data(), chunk.size(), out);
        return out;
    }
    // The end of the stream: an unfinished character becomes one U+FFFD.
    // The decoder is then ready for a new stream.
    void finish(std::string &out);
    // Whether the last chunk ended inside a character.
    bool needsMoreData() const { return pendingSize_ != 0; }

private:
    unsigned char pending_[4] = {};
    size_t pendingSize_ = 0;
    size_t expected_ = 0; // length of the character begun in pending_
};

// A whole text at once: the stream decoder's output for one chunk and the
// end.
std::string decodeUtf8(const char *data, size_t size);
inline std::string decodeUtf8(const std::string &bytes)
{
    return decodeUtf8(bytes.data(), bytes.size());
}

// Characters (code points) in well-formed UTF-8.
size_t countCharacters(const std::string &utf8);
// The byte offset after the first n characters of well-formed UTF-8 (the
// size when it has fewer).
size_t offsetAfterCharacters(const std::string &utf8, size_t n);

} // namespace debugtext
