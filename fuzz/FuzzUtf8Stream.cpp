// The target log's UTF-8 stream decoder and the terminal filter of
// velmora-ctl log. The input's first byte picks up to 8 cuts, the next
// bytes where they go; the rest is the stream. Checked:
// - the decoder's text is well-formed UTF-8 and equals a reference decoder
//   written here in other terms (a character's code point range by
//   arithmetic, not by the decoder's table of second bytes);
// - the stream cut into pieces at the chosen places (a cut inside a
//   character included) decodes exactly as the whole stream does;
// - well-formed input comes out unchanged; the output is at most three
//   bytes per input byte;
// - the filter, fed the decoded text in pieces cut between characters,
//   gives what it gives for the whole text, keeps the number of
//   characters, and leaves no control a terminal acts on: no C0 control
//   but LF, TAB and a CR right before LF, no DEL, no C1 control.
#include "debugmon/text/TerminalText.h"
#include "debugmon/text/Utf8Stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string kReplacement = "\xef\xbf\xbd";

// The lowest code point a sequence of this length may carry.
uint32_t lowestFor(size_t length)
{
    return length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
}

// Whether some code point in [low, high] is a Unicode scalar value that a
// sequence of this length may carry.
bool rangeHasValid(uint32_t low, uint32_t high, size_t length)
{
    low = std::max(low, lowestFor(length));
    high = std::min<uint32_t>(high, 0x10ffff);
    if (low > high)
        return false;
    // Only surrogates in between?
    return !(low >= 0xd800 && high <= 0xdfff);
}

// The reference: at each position either a whole well-formed character, or
// one replacement for the longest start of one (at least one byte).
std::string referenceDecode(const std::string &in)
{
    std::string out;
    size_t i = 0;
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(in[k]); };
    while (i < in.size()) {
        const uint8_t b = byte(i);
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t bits = 0;
        if ((b >> 5) == 0x6)
            length = 2, bits = b & 0x1f;
        else if ((b >> 4) == 0xe)
            length = 3, bits = b & 0x0f;
        else if ((b >> 3) == 0x1e)
            length = 4, bits = b & 0x07;
        size_t longest = 1;
        if (length != 0) {
            // The longest prefix p (1..length) of continuation bytes whose
            // completions still hold a valid character.
            uint32_t prefix = bits;
            for (size_t p = 1; p <= length; ++p) {
                if (p > 1) {
                    if (i + p > in.size() || (byte(i + p - 1) & 0xc0) != 0x80)
                        break;
                    prefix = (prefix << 6) | (byte(i + p - 1) & 0x3f);
                }
                const unsigned rest = unsigned(6 * (length - p));
                const uint32_t low = prefix << rest;
                const uint32_t high = low | ((1u << rest) - 1);
                if (!rangeHasValid(low, high, length))
                    break;
                longest = p;
            }
            if (longest == length) {
                out.append(in, i, length);
                i += length;
                continue;
            }
        }
        out += kReplacement;
        i += longest;
    }
    return out;
}

// Well-formed UTF-8, checked by decoding each character's code point.
bool wellFormed(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xe ? 3 : (b >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + length > s.size())
            return false;
        uint32_t cp = length == 1 ? b : b & (0xff >> (length + 1));
        for (size_t k = 1; k < length; ++k) {
            const uint8_t c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3f);
        }
        if (length > 1 && (cp < lowestFor(length) || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)))
            return false;
        i += length;
    }
    return true;
}

size_t characters(const std::string &s)
{
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (uint8_t(c) & 0xc0) != 0x80; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cutCount = data[0] % 9;
    if (size < 1 + cutCount)
        return 0;
    const std::string stream(reinterpret_cast<const char *>(data) + 1 + cutCount, size - 1 - cutCount);
    std::vector<size_t> cuts;
    for (size_t k = 0; k < cutCount; ++k)
        cuts.push_back(stream.empty() ? 0 : data[1 + k] % (stream.size() + 1));
    std::sort(cuts.begin(), cuts.end());

    const std::string whole = debugtext::decodeUtf8(stream);
    if (!wellFormed(whole) || whole != referenceDecode(stream))
        std::abort();
    if (wellFormed(stream) && whole != stream)
        std::abort();
    if (whole.size() > 3 * stream.size())
        std::abort();

    debugtext::Utf8StreamDecoder decoder;
    std::string pieces;
    size_t from = 0;
    for (const size_t cut : cuts) {
        decoder.decode(stream.data() + from, cut - from, pieces);
        from = cut;
    }
    decoder.decode(stream.data() + from, stream.size() - from, pieces);
    decoder.finish(pieces);
    if (pieces != whole || decoder.needsMoreData())
        std::abort();

    // The filter over the decoded text, cut at the same places moved to the
    // next character boundary.
    std::string filtered;
    {
        debugtext::TerminalFilter filter;
        filter.filter(whole, filtered);
        filter.finish(filtered);
    }
    debugtext::TerminalFilter filter;
    std::string inPieces;
    from = 0;
    for (size_t cut : cuts) {
        cut = std::min(cut, whole.size());
        while (cut < whole.size() && (uint8_t(whole[cut]) & 0xc0) == 0x80)
            ++cut;
        if (cut < from)
            continue;
        filter.filter(whole.substr(from, cut - from), inPieces);
        from = cut;
    }
    filter.filter(whole.substr(from), inPieces);
    filter.finish(inPieces);
    if (inPieces != filtered || !wellFormed(filtered) || characters(filtered) != characters(whole))
        std::abort();
    for (size_t i = 0; i < filtered.size(); ++i) {
        const uint8_t c = uint8_t(filtered[i]);
        const bool crlf = c == '\r' && i + 1 < filtered.size() && filtered[i + 1] == '\n';
        if ((c < 0x20 && c != '\n' && c != '\t' && !crlf) || c == 0x7f)
            std::abort();
        if (c == 0xc2 && i + 1 < filtered.size() && uint8_t(filtered[i + 1]) <= 0x9f)
            std::abort();
    }
    return 0;
}
