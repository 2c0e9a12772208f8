// How many debug datagrams a second the debug monitor absorbs without losing
// one, and what its pane costs in memory. A sender thread plays the driver on
// ::1 at increasing rates, each for a fixed time; the monitor runs as in use
// (shown, on the offscreen platform unless QT_QPA_PLATFORM says otherwise).
//
//   debugmon-bench [--seconds S] [--rates R1,R2,...] [--lines N]

#include "debugmon/Debug.h"
#include "debugmon/logpane/LogView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Sends `count` datagrams, or for `seconds` at `rate` a second, evenly paced.
// Returns the number sent.
long sendPaced(quint16 port, double rate, double seconds, long count)
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("socket");
        std::exit(2);
    }
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(port);
    const long total = count > 0 ? count : long(rate * seconds);
    const auto start = Clock::now();
    char payload[128];
    long sent = 0;
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long due = std::min(total, long(elapsed * rate) + 1);
        for (; sent < due; ++sent) {
            // A header of 31 characters and a typical driver line.
            const int n = std::snprintf(payload, sizeof payload,
                                        "[%12.6f] velmora-drv %04ld: info rcv seq=%ld fs=512 po=3", elapsed,
                                        sent % 10000, sent);
            if (::sendto(fd, payload, size_t(n), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) != n) {
                std::perror("sendto");
                std::exit(2);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::close(fd);
    return sent;
}

// Times every event the application delivers, to tell a slow window from a
// busy machine: a long stall with short events means the process waited
// for a CPU.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (depth++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --depth;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const int type = event->type();
        const bool result = QApplication::notify(receiver, event);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (ms > longestMs) {
            longestMs = ms;
            longestType = type;
            longestReceiver = receiver->metaObject()->className();
        }
        --depth;
        return result;
    }
    void reset() { longestMs = 0; }
    double longestMs = 0;
    int longestType = 0;
    const char *longestReceiver = "";

private:
    int depth = 0;
};

struct Run {
    long sent = 0;
    long shown = 0;
    double maxStallMs = 0; // longest time the event loop did not come round
};

int paneLines(LogView *pane)
{
    return pane->document()->blockCount() - 1; // the last block follows the last line feed
}

// Lets the window run while `work` sends, then until the pane stops growing.
Run runWhile(LogView *pane, const std::function<long()> &work)
{
    Run run;
    std::atomic<bool> done{false};
    std::thread sender([&] {
        run.sent = work();
        done = true;
    });

    QEventLoop loop;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    tick.setInterval(5);
    int lastLines = -1;
    QElapsedTimer quiet;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        run.maxStallMs = std::max(run.maxStallMs, double(sinceTick.nsecsElapsed()) / 1e6 - 5);
        sinceTick.restart();
        if (!done)
            return;
        const int lines = paneLines(pane);
        if (lines != lastLines) {
            lastLines = lines;
            quiet.start();
        } else if (lines >= run.sent || quiet.elapsed() > 1000) {
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    sender.join();
    run.shown = paneLines(pane);
    return run;
}

long heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return long(info.uordblks + info.hblkhd);
}

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    double seconds = 10;
    long memoryLines = 100000;
    std::vector<double> rates = {5000, 10000, 20000, 30000, 40000, 60000, 80000, 100000, 140000, 200000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--lines" && i + 1 < argc) {
            memoryLines = std::atol(argv[++i]);
        } else if (arg == "--rates" && i + 1 < argc) {
            rates.clear();
            for (char *p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
                rates.push_back(std::atof(p));
        } else {
            std::fprintf(stderr,
                         "usage: debugmon-bench [--seconds S] [--rates R1,R2,...] [--lines N]\n"
                         "  Sends debug datagrams to a debug monitor on ::1 at each rate for S seconds\n"
                         "  (default 10) until one is lost, then measures the pane's memory for N lines\n"
                         "  (default 100000).\n");
            return arg == "--help" ? 0 : 1;
        }
    }

    TimedApplication app(argc, argv);
    Debug window(quint16(0), nullptr);
    window.show();
    auto *pane = window.findChild<LogView *>(QStringLiteral("debugText"));
    auto *clear = window.findChild<QPushButton *>(QStringLiteral("clearButton"));
    const quint16 port = window.findChild<QUdpSocket *>()->localPort();
    std::printf("debug monitor on [::1]:%u (receive buffer %d bytes), %.0f s per rate\n", port,
                window.findChild<QUdpSocket *>()
                    ->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption)
                    .toInt(),
                seconds);

    double best = 0;
    for (double rate : rates) {
        clear->click();
        app.reset();
        const Run run = runWhile(pane, [&] { return sendPaced(port, rate, seconds, 0); });
        std::printf("rate %7.0f/s: sent %8ld, shown %8ld, lost %6ld, longest stall %6.1f ms, "
                    "longest event %6.1f ms (type %d to %s)\n",
                    rate, run.sent, run.shown, run.sent - run.shown, run.maxStallMs, app.longestMs,
                    app.longestType, app.longestReceiver);
        std::fflush(stdout);
        if (run.shown != run.sent)
            break;
        best = rate;
    }
    std::printf("highest rate without loss: %.0f datagrams/s for %.0f s\n", best, seconds);

    clear->click();
    QCoreApplication::processEvents();
    malloc_trim(0);
    const long heapBefore = heapInUse();
    const long rssBefore = residentKiB();
    const double fillRate = best > 0 ? best / 2 : 5000;
    const Run fill = runWhile(pane, [&] { return sendPaced(port, fillRate, 0, memoryLines); });
    malloc_trim(0);
    const long heapAfter = heapInUse();
    const long rssAfter = residentKiB();
    if (fill.shown != fill.sent)
        std::printf("memory run lost %ld datagrams; the figures below are for %ld lines\n",
                    fill.sent - fill.shown, fill.shown);
    const double per100k = fill.shown > 0 ? 100000.0 / double(fill.shown) : 0;
    std::printf("pane memory per 100000 lines: heap %.1f MiB, resident %.1f MiB (%.0f bytes a line of %d "
                "characters)\n",
                double(heapAfter - heapBefore) * per100k / 1048576.0,
                double(rssAfter - rssBefore) * per100k / 1024.0,
                double(heapAfter - heapBefore) / std::max<long>(1, fill.shown),
                pane->document()->firstBlock().length() - 1);
    return 0;
}
