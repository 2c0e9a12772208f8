#include "tools/sim/SimStorage.h"

#include "src/Network/Crc16.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

// The emulated target's storage. Each slot keeps one transfer at a time: the
// slot query starts it, data blocks are accepted strictly in order (the
// sequence number, the index within the window and the window number must
// be the next ones expected), every block with the last-of-burst bit is
// answered by an acknowledgement naming the last block accepted in order,
// the check compares the CRC of the bytes received, and a commit with
// action 0 "writes" the checked image over a configurable time.

namespace {

constexpr uint16_t kLastOfBurst = 0x8000;
constexpr uint16_t kCheckOnly = 0xFFFF;
constexpr uint16_t kNoBurstLimit = 0xFFFF;
// The write state counts down from this value to 0 while writing.
constexpr uint16_t kWriteStateStart = 100;
// The received image goes to its file in pieces of this size while it
// arrives, each after the reply that follows its last block: a whole image
// written at the check would hold the check's reply back beyond the
// client's 100 ms (16 MiB take 30-80 ms on a busy disk).
constexpr size_t kReceivedChunk = 1024 * 1024;
// A version text read from an image follows this marker.
constexpr char kVersionMarker[] = "VMVER:";
constexpr size_t kVersionMaxLength = 64;

using Clock = std::chrono::steady_clock;

// What one slot may hold: the emulator keeps a transfer in memory, so a
// geometry beyond this (up to 2^48 bytes could be asked for) is refused
// rather than letting a client make it grow without end.
constexpr uint64_t kMaxSlotCapacity = uint64_t(1) << 30;

struct Geometry {
    uint32_t blockSize = 1024;
    uint32_t window = 16;
    uint32_t windowCount = 1024;
    uint64_t capacity() const { return uint64_t(blockSize) * window * windowCount; }
};

struct Slot {
    Geometry geometry;
    bool geometrySet = false; // set by slot.N, not overridden by block/window/windows

    // The transfer in progress.
    std::vector<uint8_t> data;
    uint16_t crcRegister = kCrc16UsbStart; // of data, kept as blocks arrive
    size_t crcBytes = 0;                    // the bytes of data crcRegister covers
    uint16_t nextSequence = 0;
    uint16_t nextIndex = 0;
    uint16_t nextWindow = 0;
    bool ended = false;             // a short block was the image's last
    uint16_t lastAccepted = 0xFFFF; // sequence number of the last block accepted in order

    // The part of data already in the received file's part file.
    std::FILE *partFile = nullptr;
    size_t partWritten = 0;

    // Check and write.
    bool checked = false;
    uint16_t checkedCrc = 0;
    bool writing = false;
    bool written = false;
    Clock::time_point writeStart;
    std::vector<uint8_t> image; // the written image
    bool imagePartReady = false; // the image being written is in its part file

    void startTransfer()
    {
        data.clear();
        crcRegister = kCrc16UsbStart;
        crcBytes = 0;
        nextSequence = 0;
        nextIndex = 0;
        nextWindow = 0;
        ended = false;
        lastAccepted = 0xFFFF;
        checked = false;
        writing = false;
        closePart();
    }

    // The CRC of every byte received so far.
    uint16_t crc()
    {
        if (crcBytes < data.size()) {
            crcRegister = crc16UsbUpdate(crcRegister, data.data() + crcBytes, data.size() - crcBytes);
            crcBytes = data.size();
        }
        return crc16UsbFinish(crcRegister);
    }

    void closePart()
    {
        if (partFile != nullptr)
            std::fclose(partFile);
        partFile = nullptr;
        partWritten = 0;
    }
};

bool parseUnsigned(const std::string &text, uint64_t max, uint64_t &out)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    int base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v > max)
            return false;
    }
    out = v;
    return true;
}

bool parseFraction(const std::string &text, double &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return false;
    if (!(v >= 0.0 && v <= 1.0))
        return false;
    out = v;
    return true;
}

bool parseBool(const std::string &text, bool &out)
{
    if (text == "1" || text == "on" || text == "yes" || text == "true") {
        out = true;
        return true;
    }
    if (text == "0" || text == "off" || text == "no" || text == "false") {
        out = false;
        return true;
    }
    return false;
}

// "S,W,K": block size, window, window count, each 1..65536.
bool parseGeometry(const std::string &text, Geometry &out)
{
    uint64_t v[3];
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        size_t comma = text.find(',', pos);
        if ((i < 2) != (comma != std::string::npos))
            return false;
        std::string part = text.substr(pos, i < 2 ? comma - pos : std::string::npos);
        if (!parseUnsigned(part, 65536, v[i]) || v[i] == 0)
            return false;
        pos = comma + 1;
    }
    out.blockSize = uint32_t(v[0]);
    out.window = uint32_t(v[1]);
    out.windowCount = uint32_t(v[2]);
    return true;
}

} // namespace

struct SimStorage::State {
    // Target.
    uint32_t slotCount = 1;
    uint16_t burstLimit = kNoBurstLimit;
    Geometry defaultGeometry;
    std::vector<Slot> slots = std::vector<Slot>(1);

    // Results.
    std::string imagePath;
    std::string receivedPath; // every checked image, before it is written
    std::string newVersion;   // empty: read from the image
    uint32_t writeMillis = 2000;
    std::optional<std::string> pendingVersion;

    // Faults.
    double loseBlocks = 0.0;
    double loseAcks = 0.0;
    uint64_t seed = 1;
    std::mt19937_64 random{1};
    uint64_t staleAcks = 0; // this many acknowledgements name an older block
    bool ackNotOk = false;
    bool ackOtherSlot = false;
    bool crcEchoWrong = false;
    uint16_t checkState = kCheckOnly; // p2 of the check reply
    bool writeStuck = false;
    bool writeFail = false; // write requests refused (OK flag clear)
    bool verbose = false;
    uint64_t blocksLost = 0; // dropped by lose-blocks, for the log
    uint64_t acksLost = 0;

    // File work done after the reply has gone out (afterReplies).
    std::vector<size_t> partsDue;   // slots whose received bytes are due in the part file
    std::vector<size_t> imagesDue;  // slots whose image being written is due in its part file
    bool crcDue = false;            // received bytes the slots' CRCs do not cover yet

    ~State()
    {
        flushDeferred();
        for (size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].imagePartReady && !imagePath.empty())
                std::remove((slotFile(i) + ".part").c_str());
            if (slots[i].partFile != nullptr) {
                slots[i].closePart();
                std::remove(partPath(i).c_str());
            }
        }
    }

    std::string partPath(size_t index) const { return receivedPath + ".part" + std::to_string(index); }

    // Appends what arrived since the last piece to the slot's part file.
    bool writePart(size_t index)
    {
        Slot &s = slots[index];
        if (receivedPath.empty())
            return true;
        if (s.partFile == nullptr) {
            s.partFile = std::fopen(partPath(index).c_str(), "wb");
            if (s.partFile == nullptr) {
                std::cerr << "velmora-target-sim: cannot write the received image to " << partPath(index)
                          << ": " << std::strerror(errno) << "\n";
                return false;
            }
            std::setvbuf(s.partFile, nullptr, _IONBF, 0);
            s.partWritten = 0;
        }
        const size_t n = s.data.size() - s.partWritten;
        if (n > 0 && std::fwrite(s.data.data() + s.partWritten, 1, n, s.partFile) != n) {
            std::cerr << "velmora-target-sim: cannot write the received image to " << partPath(index) << "\n";
            return false;
        }
        s.partWritten = s.data.size();
        return true;
    }

    // The checked image: the rest of its bytes, then the part file takes
    // the received file's name.
    void finishReceived(size_t index)
    {
        Slot &s = slots[index];
        if (receivedPath.empty())
            return;
        if (!writePart(index)) {
            s.closePart();
            return;
        }
        s.closePart();
        std::remove(receivedPath.c_str()); // rename does not replace a file everywhere
        if (std::rename(partPath(index).c_str(), receivedPath.c_str()) != 0)
            std::cerr << "velmora-target-sim: cannot write the received image to " << receivedPath << "\n";
    }

    static bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        f.close();
        if (!f)
            std::cerr << "velmora-target-sim: cannot write the image to " << path << "\n";
        return bool(f);
    }

    // Writing has begun: the image goes to a part file now, after the
    // reply, so that the reply that ends the write only renames it.
    void writeImagePart(size_t index)
    {
        Slot &s = slots[index];
        if (s.writing && !s.written && !s.imagePartReady)
            s.imagePartReady = writeFile(slotFile(index) + ".part", s.data);
    }

    void flushDeferred()
    {
        if (crcDue) {
            for (Slot &s : slots)
                s.crc();
            crcDue = false;
        }
        for (size_t i : partsDue) {
            if (i < slots.size() && slots[i].partWritten < slots[i].data.size())
                writePart(i);
        }
        partsDue.clear();
        for (size_t i : imagesDue) {
            if (i < slots.size())
                writeImagePart(i);
        }
        imagesDue.clear();
    }

    Slot *slot(uint16_t number)
    {
        if (number == 0 || number > slots.size())
            return nullptr;
        return &slots[number - 1];
    }

    void resizeSlots()
    {
        slots.resize(slotCount);
        for (auto &s : slots) {
            if (!s.geometrySet)
                s.geometry = defaultGeometry;
        }
    }

    bool chance(double fraction)
    {
        if (fraction <= 0.0)
            return false;
        return std::uniform_real_distribution<double>(0.0, 1.0)(random) < fraction;
    }

    std::string slotFile(size_t index) const
    {
        if (index == 0)
            return imagePath;
        return imagePath + "." + std::to_string(index);
    }

    static std::string versionFromImage(const std::vector<uint8_t> &image)
    {
        const size_t markerLength = sizeof(kVersionMarker) - 1;
        auto it = std::search(image.begin(), image.end(), kVersionMarker, kVersionMarker + markerLength);
        if (it != image.end()) {
            std::string text;
            for (it += markerLength; it != image.end() && text.size() < kVersionMaxLength; ++it) {
                if (*it < 0x20 || *it > 0x7e)
                    break;
                text.push_back(char(*it));
            }
            if (!text.empty())
                return text;
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "image-%04x", crc16Usb(image.data(), image.size()));
        return buf;
    }

    // Called on every commit with action 0 and by onReboot: finishes a write
    // whose time has passed.
    uint16_t writeState(size_t index)
    {
        Slot &s = slots[index];
        if (!s.writing)
            return 0;
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.writeStart).count();
        if (writeStuck) {
            if (writeMillis == 0 || uint64_t(elapsed) >= writeMillis)
                return 1;
        }
        if (writeMillis == 0 || uint64_t(elapsed) >= writeMillis) {
            if (!s.written)
                finishWrite(index);
            return 0;
        }
        uint64_t left = writeMillis - uint64_t(elapsed);
        uint64_t state = (left * kWriteStateStart + writeMillis - 1) / writeMillis;
        return uint16_t(std::max<uint64_t>(state, 1));
    }

    void finishWrite(size_t index)
    {
        Slot &s = slots[index];
        s.written = true;
        s.image = s.data;
        if (!imagePath.empty()) {
            const std::string path = slotFile(index);
            if (s.imagePartReady) {
                std::remove(path.c_str()); // rename does not replace a file everywhere
                if (std::rename((path + ".part").c_str(), path.c_str()) != 0)
                    std::cerr << "velmora-target-sim: cannot write the image to " << path << "\n";
            } else {
                // Writing took no time (write-ms=0): the file is complete
                // before the reply that reports the end.
                writeFile(path, s.image);
            }
            s.imagePartReady = false;
        }
        pendingVersion = newVersion.empty() ? versionFromImage(s.image) : newVersion;
        if (verbose)
            std::cerr << "velmora-target-sim: slot " << index << ": image of " << s.image.size()
                      << " bytes written\n";
    }
};

SimStorage::SimStorage() : state_(new State) {}

SimStorage::~SimStorage()
{
    delete state_;
}

bool SimStorage::setOption(const std::string &key, const std::string &value, std::string &err)
{
    State &st = *state_;
    uint64_t n = 0;
    auto bad = [&](const char *what) {
        err = "bad value for " + key + ": \"" + value + "\" (" + what + ")";
        return true;
    };
    if (key == "slots") {
        if (!parseUnsigned(value, 65535, n))
            return bad("a number of slots 0..65535");
        st.slotCount = uint32_t(n);
        st.resizeSlots();
    } else if (key == "burst") {
        if (value == "none") {
            st.burstLimit = kNoBurstLimit;
        } else {
            if (!parseUnsigned(value, 0xFFFF, n))
                return bad("a byte count 0..65535, 65535 or none for no limit");
            st.burstLimit = uint16_t(n);
        }
    } else if (key == "block" || key == "window" || key == "windows") {
        if (!parseUnsigned(value, 65536, n) || n == 0)
            return bad("1..65536");
        uint32_t &field = key == "block"    ? st.defaultGeometry.blockSize
                          : key == "window" ? st.defaultGeometry.window
                                            : st.defaultGeometry.windowCount;
        const uint32_t before = field;
        field = uint32_t(n);
        if (st.defaultGeometry.capacity() > kMaxSlotCapacity) {
            field = before;
            return bad("block x window x windows must stay within 1 GiB");
        }
        st.resizeSlots();
    } else if (key.compare(0, 5, "slot.") == 0) {
        uint64_t index = 0;
        if (!parseUnsigned(key.substr(5), 65534, index)) {
            err = "bad slot index in " + key + " (slot.N with N from 0)";
            return true;
        }
        Geometry g;
        if (!parseGeometry(value, g))
            return bad("BLOCK,WINDOW,WINDOWCOUNT, each 1..65536");
        if (g.capacity() > kMaxSlotCapacity)
            return bad("BLOCK x WINDOW x WINDOWCOUNT must stay within 1 GiB");
        if (index >= st.slots.size()) {
            err = key + ": the target has only " + std::to_string(st.slots.size()) +
                  " slots; give slots= first";
            return true;
        }
        st.slots[index].geometry = g;
        st.slots[index].geometrySet = true;
    } else if (key == "image") {
        st.imagePath = value;
    } else if (key == "received") {
        st.receivedPath = value;
    } else if (key == "new-version") {
        st.newVersion = value;
    } else if (key == "write-ms") {
        if (!parseUnsigned(value, 3600000, n))
            return bad("milliseconds 0..3600000");
        st.writeMillis = uint32_t(n);
    } else if (key == "seed") {
        if (!parseUnsigned(value, ~uint64_t(0), n))
            return bad("a number");
        st.seed = n;
        st.random.seed(n);
    } else if (key == "lose-blocks" || key == "lose-acks") {
        double f = 0;
        if (!parseFraction(value, f))
            return bad("a fraction 0..1, e.g. 0.01");
        (key == "lose-blocks" ? st.loseBlocks : st.loseAcks) = f;
    } else if (key == "stale-acks") {
        if (!parseUnsigned(value, ~uint64_t(0), n))
            return bad("a count");
        st.staleAcks = n;
    } else if (key == "check-state") {
        if (!parseUnsigned(value, 0xFFFF, n))
            return bad("0..65535");
        st.checkState = uint16_t(n);
    } else if (key == "ack-not-ok" || key == "ack-other-slot" || key == "crc-echo-wrong" ||
               key == "write-stuck" || key == "write-fail" || key == "storage-log") {
        bool b = false;
        if (!parseBool(value, b))
            return bad("0 or 1");
        (key == "ack-not-ok"       ? st.ackNotOk
         : key == "ack-other-slot" ? st.ackOtherSlot
         : key == "crc-echo-wrong" ? st.crcEchoWrong
         : key == "write-stuck"    ? st.writeStuck
         : key == "write-fail"     ? st.writeFail
                                   : st.verbose) = b;
    } else {
        return false;
    }
    return true;
}

std::string SimStorage::optionsHelp()
{
    return "Storage (per target):\n"
           "  slots=N             number of storage slots (default 1; 0 = none)\n"
           "  burst=BYTES|none    burst limit the target reports (default none = 65535)\n"
           "  block=S window=W windows=K\n"
           "                      geometry of every slot: block size, blocks per window,\n"
           "                      window count, each 1..65536 (default 1024, 16, 1024);\n"
           "                      a slot holds at most 1 GiB (S x W x K)\n"
           "  slot.N=S,W,K        geometry of slot index N (0-based, after slots=)\n"
           "  image=PATH          file that receives a written image (slot index N > 0:\n"
           "                      PATH.N)\n"
           "  received=PATH       file that receives every image whose CRC was checked\n"
           "  write-ms=MS         time writing an image takes (default 2000); the write\n"
           "                      state counts down from 100 to 0 meanwhile\n"
           "  new-version=TEXT    version after the reboot that follows a write (default:\n"
           "                      the text after \"VMVER:\" in the image, else image-CRC)\n"
           "Storage faults:\n"
           "  seed=N              seed of the loss choices (default 1)\n"
           "  lose-blocks=F       drop this fraction of data blocks (e.g. 0.01)\n"
           "  lose-acks=F         drop this fraction of acknowledgements\n"
           "  stale-acks=N        the first N acknowledgements name an older block\n"
           "  ack-not-ok=1        acknowledgements with the OK flag clear\n"
           "  ack-other-slot=1    acknowledgements naming another slot\n"
           "  crc-echo-wrong=1    commit replies echo a wrong CRC\n"
           "  check-state=N       p2 of the check reply (default 65535)\n"
           "  write-stuck=1       the write state never reaches 0\n"
           "  write-fail=1        write requests are refused (OK flag clear): the\n"
           "                      image is checked but never written\n"
           "  storage-log=1       log transfers and writes to standard error\n";
}

void SimStorage::afterReplies()
{
    state_->flushDeferred();
}

void SimStorage::handle(const MessageHeader &header, const uint8_t *datagram, size_t size, const Reply &reply)
{
    State &st = *state_;
    (void)size;
    // Work a caller left for after its last replies.
    st.flushDeferred();
    switch (header.command) {
    case msg::SlotInfo: {
        if (header.param0 == 0) {
            reply(buildMessage(msg::SlotInfoReply, msg::kFlagOk, uint16_t(st.slots.size()), st.burstLimit));
            return;
        }
        Slot *s = st.slot(header.param0);
        if (!s) {
            reply(buildMessage(msg::SlotInfoReply, 0, header.param0));
            return;
        }
        s->startTransfer();
        const Geometry &g = s->geometry;
        reply(buildMessage(msg::SlotInfoReply, msg::kFlagOk, header.param0, uint16_t(g.blockSize - 1),
                           uint16_t(g.window - 1), uint16_t(g.windowCount - 1)));
        return;
    }
    case msg::DataBlock: {
        if (st.chance(st.loseBlocks)) {
            ++st.blocksLost;
            return;
        }
        const uint16_t number = header.param0 & ~kLastOfBurst;
        const bool last = (header.param0 & kLastOfBurst) != 0;
        Slot *s = st.slot(number);
        if (!s) {
            reply(buildMessage(msg::BlockAck, 0, number, 0xFFFF));
            return;
        }
        const size_t n = payloadLength(header);
        const Geometry &g = s->geometry;
        bool violation = false;
        if (header.param1 == s->nextSequence) {
            // The next block: every counter and its size must fit.
            if (header.param2 != s->nextIndex || header.param3 != s->nextWindow || s->ended || n == 0 ||
                n > g.blockSize || s->data.size() + n > g.capacity()) {
                violation = true;
                std::cerr << "velmora-target-sim: slot " << number - 1 << ": bad data block seq "
                          << header.param1 << " index " << header.param2 << " window " << header.param3
                          << " size " << n << " (expected index " << s->nextIndex << " window "
                          << s->nextWindow << ", block size " << g.blockSize << ")\n";
            } else {
                const uint8_t *payload = datagram + msg::kHeaderSize;
                s->data.insert(s->data.end(), payload, payload + n);
                // A target checks a large image within the 100 ms of the
                // check request only with a CRC kept up to date: it follows
                // the acknowledgement (afterReplies), off the client's wait.
                st.crcDue = true;
                s->lastAccepted = s->nextSequence;
                ++s->nextSequence;
                if (++s->nextIndex == g.window) {
                    s->nextIndex = 0;
                    ++s->nextWindow;
                }
                if (n < g.blockSize)
                    s->ended = true;
                if (!st.receivedPath.empty() && s->data.size() - s->partWritten >= kReceivedChunk)
                    st.partsDue.push_back(size_t(number - 1));
                s->checked = false;
                s->writing = false;
            }
        }
        // Anything else is a resent block already accepted or one after a
        // lost block: its data is dropped, and the acknowledgement tells the
        // client where the target stands.
        if (!last && !violation)
            return;
        if (st.chance(st.loseAcks)) {
            ++st.acksLost;
            return;
        }
        uint16_t acked = s->lastAccepted;
        if (st.staleAcks > 0 && !violation) {
            --st.staleAcks;
            acked = uint16_t(acked - 1);
        }
        uint16_t flags = (st.ackNotOk || violation) ? 0 : msg::kFlagOk;
        uint16_t slotNumber = st.ackOtherSlot ? uint16_t(number + 1) : number;
        reply(buildMessage(msg::BlockAck, flags, slotNumber, acked));
        return;
    }
    case msg::ImageCommit: {
        Slot *s = st.slot(header.param0);
        if (!s) {
            reply(buildMessage(msg::ImageCommitReply, 0, header.param0, header.param1));
            return;
        }
        const size_t index = size_t(header.param0 - 1);
        const uint16_t crcEcho = st.crcEchoWrong ? uint16_t(header.param1 ^ 0x5A5A) : header.param1;
        if (header.param2 == kCheckOnly) {
            uint16_t crc = s->crc();
            if (crc != header.param1) {
                if (st.verbose)
                    std::cerr << "velmora-target-sim: slot " << index << ": check failed, image CRC " << crc
                              << ", asked " << header.param1 << "\n";
                reply(buildMessage(msg::ImageCommitReply, 0, header.param0, crcEcho, kCheckOnly));
                return;
            }
            const bool checkedBefore = s->checked && s->checkedCrc == crc;
            s->checked = true;
            s->checkedCrc = crc;
            if (st.verbose)
                std::cerr << "velmora-target-sim: slot " << index << ": " << s->data.size()
                          << " bytes checked; data blocks lost " << st.blocksLost
                          << ", acknowledgements lost " << st.acksLost << "\n";
            st.blocksLost = st.acksLost = 0;
            // Most of the image is in the part file already: what is left
            // is at most one piece, so the reply is not held back.
            if (!checkedBefore)
                st.finishReceived(index);
            reply(buildMessage(msg::ImageCommitReply, msg::kFlagOk, header.param0, crcEcho, st.checkState));
            return;
        }
        if (header.param2 == 0) {
            if (st.writeFail) {
                reply(buildMessage(msg::ImageCommitReply, 0, header.param0, crcEcho));
                return;
            }
            if (!s->writing) {
                if (!s->checked || s->checkedCrc != header.param1) {
                    reply(buildMessage(msg::ImageCommitReply, 0, header.param0, crcEcho));
                    return;
                }
                s->writing = true;
                s->written = false;
                s->writeStart = Clock::now();
                s->imagePartReady = false;
                if (!st.imagePath.empty() && st.writeMillis > 0)
                    st.imagesDue.push_back(index);
                if (st.verbose)
                    std::cerr << "velmora-target-sim: slot " << index << ": writing " << s->data.size()
                              << " bytes\n";
            } else if (s->checkedCrc != header.param1) {
                reply(buildMessage(msg::ImageCommitReply, 0, header.param0, crcEcho));
                return;
            }
            reply(buildMessage(msg::ImageCommitReply, msg::kFlagOk, header.param0, crcEcho,
                               st.writeState(index)));
            return;
        }
        // No other action is known.
        reply(buildMessage(msg::ImageCommitReply, 0, header.param0, crcEcho, header.param2));
        return;
    }
    default:
        return;
    }
}

std::optional<std::string> SimStorage::onReboot()
{
    State &st = *state_;
    // A write whose time has passed is finished; one still running when the
    // target reboots is cut short and lost.
    for (size_t i = 0; i < st.slots.size(); ++i) {
        if (st.slots[i].writing && !st.slots[i].written)
            st.writeState(i);
        st.slots[i].startTransfer();
    }
    std::optional<std::string> version = st.pendingVersion;
    st.pendingVersion.reset();
    return version;
}
