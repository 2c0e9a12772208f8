// velmora-scripted-target: a stand-in target for tests that knows nothing of
// the protocol. It answers datagrams by a table of rules given on its
// command line, each a byte pattern and the literal bytes to send back, so
// that tests can reach what a well-behaved emulator never does (silence, a
// refusal from another port, a wrong echo, malformed datagrams, replies
// after a delay) over real sockets. It shares no code with the client.
//
//   velmora-scripted-target [--port P] [--other-port P] [--discovery] --rule RULE...
//
// --port       the command port (default 19650), bound on [::]
// --other-port a second port the rules can answer from (default 19700)
// --discovery  also listen on the discovery port 19642 (replies still go
//              out from the command port, as a target's do)
// --rule       PATTERN [times=N] => ACTION [| ACTION...]
//   PATTERN: byte tokens "HH" (hex) or ".." (any byte), and a final "*"
//            for any further bytes; without "*" the length must match.
//   times=N: the rule takes only its first N matching datagrams; later ones
//            fall through to the next rule.
//   ACTION:  "silent", or [+MS] [other] BYTES: the bytes, sent MS
//            milliseconds after the request arrived, from the other port
//            when "other" is given. Byte tokens: "HH", "HH*N" (the byte N
//            times), "rNN" (byte NN of the request, 00 beyond its end).
// The first rule that matches decides; a datagram no rule matches gets no
// answer. Every datagram received is logged on standard output:
//   got cmd|disc|other LENGTH HEX (the first 48 bytes) rule N|none
// It prints "ready" when its ports are bound and ends with status 0 on
// SIGTERM or SIGINT.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

struct Token {
    int byte = -1; // a literal byte, or -1
    int copy = -1; // the request offset to copy, or -1
    size_t count = 1;
};

struct Action {
    long delayMs = 0;
    bool fromOther = false;
    std::vector<Token> bytes;
};

struct Rule {
    std::vector<int> pattern; // -1 = any byte
    bool anyRest = false;
    long times = -1;
    std::vector<Action> actions;
};

struct Pending {
    int64_t due;
    int fd;
    std::vector<uint8_t> bytes;
    sockaddr_in6 to;
};

int64_t nowMillis()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        size_t j = i;
        while (j < text.size() && text[j] != ' ')
            ++j;
        if (j > i)
            out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

bool hexByte(const std::string &w, int &value)
{
    if (w.size() != 2)
        return false;
    char *end = nullptr;
    const long v = std::strtol(w.c_str(), &end, 16);
    if (*end != '\0' || v < 0 || v > 255)
        return false;
    value = int(v);
    return true;
}

bool parseRule(const std::string &text, Rule &rule, std::string &error)
{
    const size_t arrow = text.find("=>");
    if (arrow == std::string::npos) {
        error = "no \"=>\"";
        return false;
    }
    for (const std::string &w : words(text.substr(0, arrow))) {
        int v = 0;
        if (rule.anyRest) {
            error = "\"*\" must end the pattern";
            return false;
        }
        if (w == "..")
            rule.pattern.push_back(-1);
        else if (w == "*")
            rule.anyRest = true;
        else if (w.compare(0, 6, "times=") == 0)
            rule.times = std::atol(w.c_str() + 6);
        else if (hexByte(w, v))
            rule.pattern.push_back(v);
        else {
            error = "bad pattern token \"" + w + "\"";
            return false;
        }
    }
    std::string rest = text.substr(arrow + 2);
    for (;;) {
        const size_t bar = rest.find('|');
        const std::string part = rest.substr(0, bar);
        Action action;
        bool silent = false;
        for (const std::string &w : words(part)) {
            int v = 0;
            if (w == "silent")
                silent = true;
            else if (w == "other")
                action.fromOther = true;
            else if (w[0] == '+')
                action.delayMs = std::atol(w.c_str() + 1);
            else if (w[0] == 'r') {
                Token t;
                t.copy = std::atoi(w.c_str() + 1);
                action.bytes.push_back(t);
            } else if (w.size() > 3 && w[2] == '*' && hexByte(w.substr(0, 2), v)) {
                Token t;
                t.byte = v;
                t.count = size_t(std::atol(w.c_str() + 3));
                action.bytes.push_back(t);
            } else if (hexByte(w, v)) {
                Token t;
                t.byte = v;
                action.bytes.push_back(t);
            } else {
                error = "bad action token \"" + w + "\"";
                return false;
            }
        }
        if (!silent)
            rule.actions.push_back(action);
        if (bar == std::string::npos)
            break;
        rest = rest.substr(bar + 1);
    }
    return true;
}

bool matches(const Rule &rule, const uint8_t *data, size_t size)
{
    if (rule.times == 0)
        return false;
    if (size < rule.pattern.size() || (!rule.anyRest && size != rule.pattern.size()))
        return false;
    for (size_t i = 0; i < rule.pattern.size(); ++i) {
        if (rule.pattern[i] >= 0 && data[i] != rule.pattern[i])
            return false;
    }
    return true;
}

int openBound(uint16_t port, std::string &error)
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    const int buffer = 4 << 20;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    sa.sin6_addr = in6addr_any;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        error = "port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    uint16_t port = 19650;
    uint16_t otherPort = 19700;
    bool discovery = false;
    std::vector<Rule> rules;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--port" && hasValue)
            port = uint16_t(std::atoi(argv[++i]));
        else if (a == "--other-port" && hasValue)
            otherPort = uint16_t(std::atoi(argv[++i]));
        else if (a == "--discovery")
            discovery = true;
        else if (a == "--rule" && hasValue) {
            Rule rule;
            std::string error;
            if (!parseRule(argv[++i], rule, error)) {
                std::fprintf(stderr, "velmora-scripted-target: rule %zu: %s\n", rules.size(), error.c_str());
                return 2;
            }
            rules.push_back(rule);
        } else {
            std::fprintf(stderr, "velmora-scripted-target: unknown argument \"%s\"\n", a.c_str());
            return 2;
        }
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    std::string error;
    const int cmd = openBound(port, error);
    const int other = cmd >= 0 ? openBound(otherPort, error) : -1;
    const int disc = other >= 0 && discovery ? openBound(19642, error) : -1;
    if (cmd < 0 || other < 0 || (discovery && disc < 0)) {
        std::fprintf(stderr, "velmora-scripted-target: cannot bind: %s\n", error.c_str());
        return 1;
    }
    std::printf("ready\n");

    std::vector<pollfd> fds = {{cmd, POLLIN, 0}, {other, POLLIN, 0}};
    if (disc >= 0)
        fds.push_back({disc, POLLIN, 0});
    std::vector<Pending> pending;
    std::vector<uint8_t> buffer(65536);
    while (stopRequested == 0) {
        int64_t wait = 20;
        const int64_t now = nowMillis();
        for (const Pending &p : pending)
            wait = std::min(wait, std::max<int64_t>(0, p.due - now));
        const int r = ::poll(fds.data(), fds.size(), int(wait));
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "velmora-scripted-target: poll: %s\n", std::strerror(errno));
            return 1;
        }
        for (const pollfd &p : fds) {
            if (r <= 0 || (p.revents & POLLIN) == 0)
                continue;
            sockaddr_in6 from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(p.fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                         reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                continue;
            const size_t size = std::min(size_t(n), buffer.size());
            std::string line = std::string("got ") +
                               (p.fd == cmd     ? "cmd"
                                : p.fd == other ? "other"
                                                : "disc") +
                               " " + std::to_string(n) + " ";
            char hex[4];
            for (size_t i = 0; i < size && i < 48; ++i) {
                std::snprintf(hex, sizeof hex, "%02x", buffer[i]);
                line += hex;
            }
            size_t matched = rules.size();
            for (size_t k = 0; k < rules.size(); ++k) {
                if (matches(rules[k], buffer.data(), size)) {
                    matched = k;
                    break;
                }
            }
            line += matched < rules.size() ? " rule " + std::to_string(matched) : std::string(" rule none");
            std::printf("%s\n", line.c_str());
            if (matched == rules.size())
                continue;
            Rule &rule = rules[matched];
            if (rule.times > 0)
                --rule.times;
            for (const Action &a : rule.actions) {
                Pending out{nowMillis() + a.delayMs, a.fromOther ? other : cmd, {}, from};
                for (const Token &t : a.bytes) {
                    const int v = t.copy >= 0 ? (size_t(t.copy) < size ? buffer[size_t(t.copy)] : 0) : t.byte;
                    out.bytes.insert(out.bytes.end(), t.count, uint8_t(v));
                }
                pending.push_back(std::move(out));
            }
        }
        // Due sends, in the order they were scripted.
        const int64_t t = nowMillis();
        for (size_t i = 0; i < pending.size();) {
            if (pending[i].due > t) {
                ++i;
                continue;
            }
            const Pending &p = pending[i];
            if (::sendto(p.fd, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr *>(&p.to),
                         sizeof p.to) < 0)
                std::printf("send failed: %s\n", std::strerror(errno));
            pending.erase(pending.begin() + long(i));
        }
    }
    ::close(cmd);
    ::close(other);
    if (disc >= 0)
        ::close(disc);
    std::printf("stopped\n");
    return 0;
}
