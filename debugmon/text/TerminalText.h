#pragma once

#include <string>

// Text from outside (a target's log stream) written to a terminal: a
// target must not be able to move the cursor, rewrite what is shown or send
// the terminal commands. The line structure stays: LF, TAB and CR LF pass;
// a CR not followed by LF, the other C0 controls, DEL and the C1 controls
// (U+0080 to U+009F) become '?'. Everything else passes unchanged.
//
// Works on a stream of well-formed UTF-8 cut anywhere between characters
// (the UTF-8 stream decoder's output): a CR at the end of one piece is
// decided by the first byte of the next. Any cut gives the same text as
// filtering the whole stream at once.
namespace debugtext {

class TerminalFilter {
public:
    // Appends the filtered form of the next piece to out.
    void filter(const std::string &piece, std::string &out);
    // The end of the stream: a CR still waiting becomes '?'.
    void finish(std::string &out);

private:
    bool pendingCr_ = false;
};

} // namespace debugtext
