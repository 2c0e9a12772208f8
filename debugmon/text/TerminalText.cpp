#include "debugmon/text/TerminalText.h"

namespace debugtext {

void TerminalFilter::filter(const std::string &piece, std::string &out)
{
    const size_t n = piece.size();
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(piece[i]);
        if (pendingCr_) {
            pendingCr_ = false;
            out += c == '\n' ? '\r' : '?';
        }
        if (c == '\r') {
            pendingCr_ = true;
        } else if (c == '\n' || c == '\t') {
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += '?';
        } else if (c == 0xc2 && i + 1 < n && static_cast<unsigned char>(piece[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(piece[i + 1]) <= 0x9f) {
            // U+0080 to U+009F: C2 80 to C2 9F.
            out += '?';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
}

void TerminalFilter::finish(std::string &out)
{
    if (pendingCr_)
        out += '?';
    pendingCr_ = false;
}

} // namespace debugtext
