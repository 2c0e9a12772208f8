// Round-trip time of one UDP datagram on a path, for the transfer benchmark:
//   velmora-bench-rtt echo ADDRESS%IF PORT          answer every datagram
//   velmora-bench-rtt ping ADDRESS%IF PORT COUNT SIZE
// ping prints the median, minimum and maximum round trip in microseconds.
// Run it only inside the benchmark's private network.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool endpoint(const std::string &text, const char *port, sockaddr_in6 &sa)
{
    std::memset(&sa, 0, sizeof sa);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(uint16_t(std::atoi(port)));
    const size_t percent = text.find('%');
    if (inet_pton(AF_INET6, text.substr(0, percent).c_str(), &sa.sin6_addr) != 1)
        return false;
    if (percent != std::string::npos) {
        sa.sin6_scope_id = if_nametoindex(text.substr(percent + 1).c_str());
        if (sa.sin6_scope_id == 0)
            return false;
    }
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: velmora-bench-rtt echo ADDRESS%%IF PORT\n"
                         "       velmora-bench-rtt ping ADDRESS%%IF PORT COUNT SIZE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        return usage();
    const std::string mode = argv[1];
    sockaddr_in6 sa;
    if (!endpoint(argv[2], argv[3], sa)) {
        std::fprintf(stderr, "velmora-bench-rtt: bad endpoint %s port %s\n", argv[2], argv[3]);
        return 2;
    }
    const int fd = socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    std::vector<uint8_t> buf(65536);
    if (mode == "echo" && argc == 4) {
        if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            std::perror("bind");
            return 1;
        }
        for (;;) {
            sockaddr_in6 from;
            socklen_t len = sizeof from;
            const ssize_t n =
                recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n >= 0)
                sendto(fd, buf.data(), size_t(n), 0, reinterpret_cast<sockaddr *>(&from), len);
        }
    }
    if (mode != "ping" || argc != 6)
        return usage();
    const int count = std::atoi(argv[4]);
    const size_t size = size_t(std::atoi(argv[5]));
    if (count <= 0 || size == 0 || size > 65000)
        return usage();
    std::vector<double> rtt;
    int lost = 0;
    for (int i = 0; i < count + 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (sendto(fd, buf.data(), size, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != ssize_t(size)) {
            std::perror("sendto");
            return 1;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1) {
            ++lost;
            continue;
        }
        recv(fd, buf.data(), buf.size(), 0);
        const double us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        if (i >= 50) // the first ones warm up caches and the path
            rtt.push_back(us);
    }
    if (rtt.empty()) {
        std::fprintf(stderr, "velmora-bench-rtt: no answer\n");
        return 1;
    }
    std::sort(rtt.begin(), rtt.end());
    std::printf("%.2f %.2f %.2f %d\n", rtt[rtt.size() / 2], rtt.front(), rtt.back(), lost);
    return 0;
}
