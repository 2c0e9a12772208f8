/* A flood of foreign datagrams for the flood benchmark (bench/flood/run.sh):
 * one sender, as fast as it goes (sendmmsg in batches), at a client of the
 * target protocol. It runs only inside the benchmark's private network: it
 * refuses the machine's own network namespace, an interface that is not a
 * veth and a destination that is not link-local.
 *
 * Run it with no arguments or --help for its options. */

#define _GNU_SOURCE

#include <arpa/inet.h>
#include <errno.h>
#include <linux/ethtool.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_BATCH 1024
#define POOL 64
#define JUNK_MAX 64
#define BIG_SIZE 1600
#define SNIFF_SNAP 64

static const char usage_text[] = "Usage: velmora-bench-flood [OPTIONS] ADDRESS%IF PORT\n"
                                 "\n"
                                 "Sends foreign datagrams from this namespace to ADDRESS%IF as fast as one\n"
                                 "sender can (sendmmsg), until SIGINT/SIGTERM or --seconds.\n"
                                 "\n"
                                 "  PORT             the port to flood, or a range LO-HI that the datagrams\n"
                                 "                   go to in turn; with --follow, 0 waits for the first\n"
                                 "                   datagram of the client\n"
                                 "  --follow         watch IF for UDP datagrams from ADDRESS (a packet\n"
                                 "                   socket) and flood the source port of the newest one:\n"
                                 "                   what a device on the link learns from the client's own\n"
                                 "                   traffic (its Hello to ff02::1 reaches every node)\n"
                                 "  --kinds LIST     what to send, in turn (default cmd99,junk):\n"
                                 "                     cmd99  well-formed 16-byte datagrams of the unknown\n"
                                 "                            command 99, parameters varying\n"
                                 "                     junk   1 to 64 random bytes\n"
                                 "                     big    1600 random bytes (beyond the client's\n"
                                 "                            1500-byte receive buffer)\n"
                                 "  --seconds S      stop after S seconds\n"
                                 "  --batch N        datagrams per sendmmsg call, 1..1024 (default 256)\n"
                                 "  --rate N         at most N datagrams/s (default 0: as fast as it goes)\n"
                                 "  --seed N         seed of the random bytes (default 1)\n"
                                 "\n"
                                 "Output: a line \"ready\" once the socket is open (with --follow: once the\n"
                                 "link is watched), \"port N\" each time --follow retargets, and at the\n"
                                 "end one line:\n"
                                 "  sent N datagrams in S s: R datagrams/s (send errors E)\n"
                                 "counted from the first datagram sent.\n"
                                 "Exit status: 0 after the run, 1 when it cannot start, 2 on a bad command\n"
                                 "line.\n";

static volatile sig_atomic_t stop_requested;

static void on_signal(int sig)
{
    (void)sig;
    stop_requested = 1;
}

static double now_seconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static uint64_t rng_state;

static uint64_t next_random(void)
{
    /* xorshift64 */
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 7;
    rng_state ^= rng_state << 17;
    return rng_state;
}

/* The same rule as the emulator's: this namespace must not be the one of
 * process 1 (or the one the scripts started in, where process 1's is hidden),
 * and not knowing counts as a refusal. */
static int check_private_namespace(void)
{
    char own[64] = {0}, init[64] = {0};
    const ssize_t a = readlink("/proc/self/ns/net", own, sizeof own - 1);
    ssize_t b = readlink("/proc/1/ns/net", init, sizeof init - 1);
    const char *hint = getenv("VELMORA_HOST_NETNS");
    if (b <= 0 && hint != NULL && hint[0] != '\0' && strlen(hint) < sizeof init) {
        strcpy(init, hint);
        b = (ssize_t)strlen(init);
    }
    if (a <= 0 || b <= 0) {
        fprintf(stderr, "flood: cannot tell whether this is a private network (/proc/1/ns/net unreadable "
                        "and VELMORA_HOST_NETNS unset): refused\n");
        return 0;
    }
    if (strcmp(own, init) == 0) {
        fprintf(stderr, "flood: this is the machine's own network namespace: the flood runs only inside a "
                        "private network (bench/flood/run.sh builds one)\n");
        return 0;
    }
    return 1;
}

static int is_veth(const char *name)
{
    struct ethtool_drvinfo info;
    struct ifreq req;
    int fd, ok = 0;
    memset(&info, 0, sizeof info);
    memset(&req, 0, sizeof req);
    info.cmd = ETHTOOL_GDRVINFO;
    strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    req.ifr_data = (char *)&info;
    fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    if (ioctl(fd, SIOCETHTOOL, &req) == 0)
        ok = strncmp(info.driver, "veth", sizeof info.driver) == 0;
    close(fd);
    return ok;
}

static int parse_number(const char *text, unsigned long max, unsigned long *value)
{
    char *end = NULL;
    if (text[0] < '0' || text[0] > '9')
        return 0;
    errno = 0;
    *value = strtoul(text, &end, 10);
    return errno == 0 && *end == '\0' && *value <= max;
}

static int bad_usage(const char *what)
{
    fprintf(stderr, "flood: %s (see --help)\n", what);
    return 2;
}

struct pool {
    unsigned char data[POOL][BIG_SIZE];
    size_t size[POOL];
};

static void fill_pool(struct pool *p, const char *kinds_text)
{
    enum { CMD99, JUNK, BIG };
    int kinds[8], nkinds = 0;
    char buf[64];
    char *save = NULL, *tok;
    int i;
    strncpy(buf, kinds_text, sizeof buf - 1);
    buf[sizeof buf - 1] = '\0';
    for (tok = strtok_r(buf, ",", &save); tok && nkinds < 8; tok = strtok_r(NULL, ",", &save)) {
        if (strcmp(tok, "cmd99") == 0)
            kinds[nkinds++] = CMD99;
        else if (strcmp(tok, "junk") == 0)
            kinds[nkinds++] = JUNK;
        else if (strcmp(tok, "big") == 0)
            kinds[nkinds++] = BIG;
    }
    for (i = 0; i < POOL; ++i) {
        unsigned char *d = p->data[i];
        size_t k;
        switch (kinds[i % nkinds]) {
        case CMD99:
            /* magic 100, lengthWord 16, command 99, flags 0 or OK, params */
            memset(d, 0, 16);
            d[0] = 100;
            d[2] = 16;
            d[4] = 99;
            d[6] = (unsigned char)(i & 1);
            for (k = 8; k < 16; ++k)
                d[k] = (unsigned char)next_random();
            p->size[i] = 16;
            break;
        case JUNK:
            p->size[i] = 1 + (size_t)(next_random() % JUNK_MAX);
            for (k = 0; k < p->size[i]; ++k)
                d[k] = (unsigned char)next_random();
            break;
        default:
            p->size[i] = BIG_SIZE;
            for (k = 0; k < BIG_SIZE; ++k)
                d[k] = (unsigned char)next_random();
            break;
        }
    }
}

static int kinds_valid(const char *text)
{
    char buf[64];
    char *save = NULL, *tok;
    int n = 0;
    if (strlen(text) >= sizeof buf)
        return 0;
    strcpy(buf, text);
    for (tok = strtok_r(buf, ",", &save); tok; tok = strtok_r(NULL, ",", &save)) {
        if (strcmp(tok, "cmd99") != 0 && strcmp(tok, "junk") != 0 && strcmp(tok, "big") != 0)
            return 0;
        if (++n > 8)
            return 0;
    }
    return n > 0;
}

/* A packet socket on the interface that passes only incoming (not sent by
 * this namespace) IPv6 datagrams whose next header is UDP and that are short
 * (requests, not image blocks), cut to the IPv6 and UDP headers. */
static int open_sniffer(unsigned ifindex)
{
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, (uint32_t)(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 4, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 600, 2, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, SNIFF_SNAP),
    };
    struct sock_fprog prog = {sizeof code / sizeof code[0], code};
    struct sockaddr_ll sll;
    int size = 16384;
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_IPV6));
    if (fd < 0)
        return -1;
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) != 0) {
        close(fd);
        return -1;
    }
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    memset(&sll, 0, sizeof sll);
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_IPV6);
    sll.sll_ifindex = (int)ifindex;
    if (bind(fd, (struct sockaddr *)&sll, sizeof sll) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Reads what the sniffer holds; returns the UDP source port of the newest
 * datagram from the client's address, or 0 when none. */
static unsigned drain_sniffer(int fd, const struct in6_addr *client)
{
    unsigned char pkt[SNIFF_SNAP];
    unsigned port = 0;
    int n;
    for (n = 0; n < 256; ++n) {
        const ssize_t got = recv(fd, pkt, sizeof pkt, MSG_DONTWAIT);
        if (got < 0)
            break;
        if (got < 48 || (pkt[0] >> 4) != 6 || pkt[6] != IPPROTO_UDP)
            continue;
        if (memcmp(pkt + 8, client, 16) != 0)
            continue;
        port = ((unsigned)pkt[40] << 8) | pkt[41];
    }
    return port;
}

int main(int argc, char **argv)
{
    const char *kinds = "cmd99,junk";
    const char *positional[2];
    int npos = 0, follow = 0, i;
    unsigned long seconds = 0, batch = 256, seed = 1, lo = 0, hi = 0, rate = 0;
    char host[128];
    char *percent, *dash;
    unsigned ifindex;
    struct in6_addr addr;
    int fd, sniff = -1;
    static struct pool pool;
    static struct mmsghdr msgs[MAX_BATCH];
    static struct iovec iovs[MAX_BATCH];
    static struct sockaddr_in6 dests[MAX_BATCH];
    unsigned long long sent = 0, errors = 0;
    double start = 0, begin, end;
    unsigned port_now = 0, next_port;
    struct sigaction sa;

    for (i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(usage_text, stdout);
            return 0;
        } else if (strcmp(a, "--follow") == 0) {
            follow = 1;
        } else if (strcmp(a, "--kinds") == 0 || strcmp(a, "--seconds") == 0 || strcmp(a, "--batch") == 0 ||
                   strcmp(a, "--seed") == 0 || strcmp(a, "--rate") == 0) {
            if (i + 1 >= argc)
                return bad_usage("an option lacks its value");
            const char *v = argv[++i];
            if (strcmp(a, "--kinds") == 0) {
                if (!kinds_valid(v))
                    return bad_usage("bad --kinds: a list of cmd99, junk, big");
                kinds = v;
            } else if (strcmp(a, "--seconds") == 0) {
                if (!parse_number(v, 86400, &seconds) || seconds == 0)
                    return bad_usage("bad --seconds: 1..86400");
            } else if (strcmp(a, "--batch") == 0) {
                if (!parse_number(v, MAX_BATCH, &batch) || batch == 0)
                    return bad_usage("bad --batch: 1..1024");
            } else if (strcmp(a, "--rate") == 0) {
                if (!parse_number(v, 100000000UL, &rate))
                    return bad_usage("bad --rate: 0..100000000");
            } else if (!parse_number(v, 0xffffffffUL, &seed)) {
                return bad_usage("bad --seed");
            }
        } else if (a[0] == '-' && a[1] == '-') {
            return bad_usage("unknown option");
        } else if (npos < 2) {
            positional[npos++] = a;
        } else {
            return bad_usage("too many arguments");
        }
    }
    if (npos != 2) {
        fputs(usage_text, stderr);
        return 2;
    }

    if (strlen(positional[0]) >= sizeof host)
        return bad_usage("address too long");
    strcpy(host, positional[0]);
    percent = strchr(host, '%');
    if (percent == NULL)
        return bad_usage("the address needs its interface: ADDRESS%IF");
    *percent = '\0';
    if (inet_pton(AF_INET6, host, &addr) != 1)
        return bad_usage("bad IPv6 address");
    if (!(addr.s6_addr[0] == 0xfe && (addr.s6_addr[1] & 0xc0) == 0x80))
        return bad_usage("the destination must be a link-local address (fe80::/10)");
    dash = strchr(positional[1], '-');
    if (dash != NULL) {
        char lotext[16];
        const size_t len = (size_t)(dash - positional[1]);
        if (len == 0 || len >= sizeof lotext)
            return bad_usage("bad port range");
        memcpy(lotext, positional[1], len);
        lotext[len] = '\0';
        if (!parse_number(lotext, 65535, &lo) || !parse_number(dash + 1, 65535, &hi) || lo == 0 || hi < lo)
            return bad_usage("bad port range: LO-HI with 1 <= LO <= HI <= 65535");
        if (follow)
            return bad_usage("--follow takes one port");
    } else {
        if (!parse_number(positional[1], 65535, &lo) || (lo == 0 && !follow))
            return bad_usage("bad port: 1..65535");
        hi = lo;
    }

    /* A paced flood goes out in batches of about a millisecond. */
    if (rate != 0 && batch > rate / 1000)
        batch = rate / 1000 > 0 ? rate / 1000 : 1;

    if (!check_private_namespace())
        return 1;
    ifindex = if_nametoindex(percent + 1);
    if (ifindex == 0) {
        fprintf(stderr, "flood: no interface %s in this namespace\n", percent + 1);
        return 1;
    }
    if (!is_veth(percent + 1)) {
        fprintf(stderr, "flood: interface %s is not a veth of a private network: refused\n", percent + 1);
        return 1;
    }

    fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        perror("flood: socket");
        return 1;
    }
    {
        int size = 4 << 20;
        (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);
    }
    if (follow) {
        sniff = open_sniffer(ifindex);
        if (sniff < 0) {
            perror("flood: packet socket on the interface (needs CAP_NET_RAW)");
            return 1;
        }
    }

    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);

    rng_state = 0x9e3779b97f4a7c15ULL ^ seed;
    fill_pool(&pool, kinds);
    for (i = 0; i < (int)batch; ++i) {
        memset(&dests[i], 0, sizeof dests[i]);
        dests[i].sin6_family = AF_INET6;
        dests[i].sin6_addr = addr;
        dests[i].sin6_scope_id = ifindex;
        msgs[i].msg_hdr.msg_name = &dests[i];
        msgs[i].msg_hdr.msg_namelen = sizeof dests[i];
        msgs[i].msg_hdr.msg_iov = &iovs[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    next_port = (unsigned)lo;
    port_now = (unsigned)lo;
    printf("ready\n");
    fflush(stdout);

    begin = now_seconds();
    while (!stop_requested) {
        int k, got;
        if (seconds != 0 && now_seconds() - begin >= (double)seconds)
            break;
        if (follow) {
            const unsigned seen = drain_sniffer(sniff, &addr);
            if (seen != 0 && seen != port_now) {
                port_now = seen;
                printf("port %u\n", port_now);
                fflush(stdout);
            }
            if (port_now == 0) {
                struct pollfd p = {sniff, POLLIN, 0};
                (void)poll(&p, 1, 100);
                continue;
            }
        }
        for (k = 0; k < (int)batch; ++k) {
            const uint64_t r = next_random();
            const int which = (int)(r % POOL);
            iovs[k].iov_base = pool.data[which];
            iovs[k].iov_len = pool.size[which];
            if (follow) {
                dests[k].sin6_port = htons((uint16_t)port_now);
            } else {
                dests[k].sin6_port = htons((uint16_t)next_port);
                next_port = next_port >= hi ? (unsigned)lo : next_port + 1;
            }
        }
        if (start == 0)
            start = now_seconds();
        if (rate != 0) {
            /* Paced: the batch goes out when the datagrams sent so far are
             * due at the rate asked for. */
            const double due = start + (double)sent / (double)rate;
            const double wait = due - now_seconds();
            if (wait > 0) {
                struct timespec ts;
                ts.tv_sec = (time_t)wait;
                ts.tv_nsec = (long)((wait - (double)ts.tv_sec) * 1e9);
                nanosleep(&ts, NULL);
                continue;
            }
        }
        got = sendmmsg(fd, msgs, (unsigned)batch, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            /* A port-unreachable report from the client's side comes back
             * as an error of the next send: count it and go on. */
            ++errors;
            continue;
        }
        sent += (unsigned long long)got;
    }
    end = now_seconds();
    if (start == 0)
        start = end;
    printf("sent %llu datagrams in %.3f s: %.0f datagrams/s (send errors %llu)\n", sent, end - start,
           end > start ? (double)sent / (end - start) : 0.0, errors);
    fflush(stdout);
    close(fd);
    if (sniff >= 0)
        close(sniff);
    return 0;
}
