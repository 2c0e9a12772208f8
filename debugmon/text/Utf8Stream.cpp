#include "debugmon/text/Utf8Stream.h"

namespace debugtext {

namespace {

// The length of the character a lead byte begins; 0 for a byte that
// begins none (a continuation byte, C0, C1 and F5 to FF never appear as
// leads in well-formed UTF-8).
size_t characterLength(unsigned char lead)
{
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

// Whether b may stand at position (1, 2 or 3) of a character begun by lead.
// The second byte carries the limits that rule out overlong forms (E0, F0),
// surrogates (ED) and values beyond U+10FFFF (F4).
bool continues(unsigned char lead, size_t position, unsigned char b)
{
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (position == 1) {
        switch (lead) {
        case 0xe0:
            low = 0xa0;
            break;
        case 0xed:
            high = 0x9f;
            break;
        case 0xf0:
            low = 0x90;
            break;
        case 0xf4:
            high = 0x8f;
            break;
        default:
            break;
        }
    }
    return b >= low && b <= high;
}

} // namespace

void Utf8StreamDecoder::decode(const char *data, size_t size, std::string &out)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    size_t i = 0;
    while (i < size) {
        const unsigned char b = bytes[i];
        if (pendingSize_ == 0) {
            if (b < 0x80) {
                // A run of ASCII goes in one piece.
                size_t end = i + 1;
                while (end < size && bytes[end] < 0x80)
                    ++end;
                out.append(data + i, end - i);
                i = end;
                continue;
            }
            expected_ = characterLength(b);
            if (expected_ == 0)
                out += kReplacement;
            else
                pending_[pendingSize_++] = b;
            ++i;
            continue;
        }
        if (!continues(pending_[0], pendingSize_, b)) {
            // The begun character ends here: one replacement for it, and b
            // is looked at again as the start of the next one.
            out += kReplacement;
            pendingSize_ = 0;
            continue;
        }
        pending_[pendingSize_++] = b;
        ++i;
        if (pendingSize_ == expected_) {
            out.append(reinterpret_cast<const char *>(pending_), pendingSize_);
            pendingSize_ = 0;
        }
    }
}

void Utf8StreamDecoder::finish(std::string &out)
{
    if (pendingSize_ != 0)
        out += kReplacement;
    pendingSize_ = 0;
}

std::string decodeUtf8(const char *data, size_t size)
{
    Utf8StreamDecoder decoder;
    std::string out;
    out.reserve(size);
    decoder.decode(data, size, out);
    decoder.finish(out);
    return out;
}

size_t countCharacters(const std::string &utf8)
{
    size_t n = 0;
    for (const char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xc0) != 0x80)
            ++n;
    }
    return n;
}

size_t offsetAfterCharacters(const std::string &utf8, size_t n)
{
    size_t i = 0;
    while (i < utf8.size()) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xc0) != 0x80) {
            if (n == 0)
                return i;
            --n;
        }
        ++i;
    }
    return utf8.size();
}

} // namespace debugtext
