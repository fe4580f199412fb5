#include "simulator.h"

#include "replyfaults.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A request that stays incomplete this long is thrown away, like a slave resynchronising on
// the inter-frame silence of a real line (ptys deliver whole frames, so this is generous).
constexpr std::chrono::milliseconds FrameGap{50};
// The station's line, and the same line sent with even parity by a misconfigured slave.
constexpr LineSettings wrongParityLine{stationLine.baud, stationLine.dataBits, true,
                                       stationLine.stopBits};

// Length of the RTU request at the start of buf, computed the way libmodbus does on the slave
// side; 0 while more bytes are needed to tell.
std::size_t requestLength(const std::vector<std::uint8_t> &buf) {
    if (buf.size() < 2)
        return 0;
    const int function = buf[1];
    std::size_t meta = 0;
    std::size_t data = 0;
    if (function <= MODBUS_FC_WRITE_SINGLE_REGISTER) {
        meta = 4;
    } else if (function == MODBUS_FC_WRITE_MULTIPLE_COILS ||
               function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        meta = 5;
        if (buf.size() < 7)
            return 0;
        data = buf[6];
    } else if (function == MODBUS_FC_MASK_WRITE_REGISTER) {
        meta = 6;
    } else if (function == MODBUS_FC_WRITE_AND_READ_REGISTERS) {
        meta = 9;
        if (buf.size() < 11)
            return 0;
        data = buf[10];
    }
    return 2 + meta + data + 2;
}

Micros micros(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

Clock::time_point timeOf(Micros us) {
    return Clock::time_point(std::chrono::microseconds(us));
}

long long epochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void drain(int fd) {
    std::uint8_t buf[512];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

bool publishSymlink(const std::string &linkPath, const std::string &target) {
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "plant-sim: %s exists and is not a symlink, not replacing it\n",
                     linkPath.c_str());
        return false;
    }
    // Build the link under a temporary name and rename it into place, so a stale link left
    // by an earlier run is replaced atomically.
    const std::string tmp = linkPath + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0) {
        std::fprintf(stderr, "plant-sim: symlink %s: %s\n", tmp.c_str(), std::strerror(errno));
        return false;
    }
    if (rename(tmp.c_str(), linkPath.c_str()) != 0) {
        std::fprintf(stderr, "plant-sim: rename to %s: %s\n", linkPath.c_str(),
                     std::strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

// Removes linkPath only if it still points at our pty, so a link someone else put there
// in the meantime survives.
void removeSymlink(const std::string &linkPath, const std::string &target) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(linkPath.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return;
    buf[n] = '\0';
    if (target == buf)
        unlink(linkPath.c_str());
}

} // namespace

bool Link::serves(int slave) const {
    return std::find(slaves.begin(), slaves.end(), slave) != slaves.end();
}

Simulator::Simulator(const Options &options)
    : options_(options)
    , model_(options.staticValues)
    , rng_(options.seed)
    , timingRng_(options.seed ^ 0x5eed)
    , started_(Clock::now()) {
    for (int i = 0; i < 2; ++i) {
        links_[i].index = i;
        links_[i].port = options_.ports[i];
        links_[i].linkPath = options_.dir + "/COM" + std::to_string(options_.ports[i]);
        links_[i].slaves = options_.slaves[i];
        if (options_.bus) {
            WireSettings wire = WireSettings::atBaud(options_.baud);
            wire.echo = options_.echo;
            wire.chunkBytes = options_.chunkBytes;
            wire.latencyMicros = Micros(options_.latencyMs) * 1000;
            wire.latencyFreeRunning = options_.latencyFreeRunning;
            links_[i].wire.emplace(wire, options_.seed + std::uint64_t(i));
        }
    }
}

Simulator::~Simulator() {
    for (Link &link : links_)
        closeLink(link);
    if (mapping_)
        modbus_mapping_free(mapping_);
    if (ctx_)
        modbus_free(ctx_);
    if (libmodbusSide_ >= 0)
        close(libmodbusSide_);
    if (ourSide_ >= 0)
        close(ourSide_);
    if (record_)
        std::fclose(record_);
}

bool Simulator::start() {
    if (!options_.recordPath.empty()) {
        record_ = std::fopen(options_.recordPath.c_str(), "a");
        if (!record_) {
            std::fprintf(stderr, "plant-sim: %s: %s\n", options_.recordPath.c_str(),
                         std::strerror(errno));
            return false;
        }
    }

    // libmodbus never touches the ptys. Each complete request is pushed through a local
    // socket pair: libmodbus receives it (length and CRC checks) and writes its reply back
    // into the pair, where we pick it up. That leaves timing, corruption and the choice of
    // slave address to us, and a delayed reply never blocks the other link.
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        std::fprintf(stderr, "plant-sim: socketpair: %s\n", std::strerror(errno));
        return false;
    }
    libmodbusSide_ = pair[0];
    ourSide_ = pair[1];
    fcntl(ourSide_, F_SETFL, fcntl(ourSide_, F_GETFL) | O_NONBLOCK);

    ctx_ = modbus_new_rtu("/dev/null", 38400, 'N', 8, 1);
    mapping_ = modbus_mapping_new(0, 0, 65536, 65536);
    if (!ctx_ || !mapping_) {
        std::fprintf(stderr, "plant-sim: libmodbus setup failed: %s\n", modbus_strerror(errno));
        return false;
    }
    modbus_set_socket(ctx_, libmodbusSide_);
    // The whole frame is already in the socket when libmodbus reads it; short time-outs
    // keep a disagreement about the frame length from stalling the loop.
    modbus_set_indication_timeout(ctx_, 0, 50000);
    modbus_set_byte_timeout(ctx_, 0, 50000);
    // modbus_reply() answers a bad register count only after sleeping the response time-out
    // (0.5 s by default) to flush the line; the socket pair has nothing to flush.
    modbus_set_response_timeout(ctx_, 0, 1);

    for (Link &link : links_) {
        if (!openLink(link))
            return false;
    }
    emit("ready " + links_[0].linkPath + " " + links_[1].linkPath);
    return true;
}

bool Simulator::openLink(Link &link) {
    struct termios tio {};
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;

    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, &tio, nullptr) != 0) {
        std::fprintf(stderr, "plant-sim: openpty: %s\n", std::strerror(errno));
        return false;
    }
    char name[128];
    if (ttyname_r(slave, name, sizeof name) != 0) {
        std::fprintf(stderr, "plant-sim: ttyname: %s\n", std::strerror(errno));
        close(master);
        close(slave);
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!publishSymlink(link.linkPath, name)) {
        close(master);
        close(slave);
        return false;
    }
    link.master = master;
    // We keep our own descriptor on the slave side for the life of the link. Without it, as
    // long as the station has the port closed (before it first opens it, or between a close
    // and a reopen) the master reports POLLHUP on every poll and read() fails with EIO, so
    // the loop would spin. We never read from this descriptor, so the station still gets
    // every byte we write to the master.
    link.heldSlave = slave;
    link.ptsPath = name;
    link.rx.clear();
    link.out.clear();
    if (options_.babbleMs > 0 && link.index == options_.babbleLink)
        queueBabble(link, Clock::now());
    return true;
}

void Simulator::closeLink(Link &link) {
    if (!link.up())
        return;
    removeSymlink(link.linkPath, link.ptsPath);
    // Closing the master hangs up the slave: the station's reads return 0 (end of file) and
    // its writes fail with EIO. The /dev/pts node goes away at once.
    close(link.master);
    close(link.heldSlave);
    link.master = -1;
    link.heldSlave = -1;
    link.ptsPath.clear();
    link.rx.clear();
    link.out.clear();
}

bool Simulator::readLink(Link &link, Clock::time_point now) {
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(link.master, buf, sizeof buf);
        if (n > 0 && link.wire) {
            // A pty has no bit timing: the request goes on the wire when we read it, so read
            // promptly and take the clock right after the read.
            const Micros at = micros(Clock::now());
            advanceWire(link, at);
            link.wire->fromStation(at, buf, std::size_t(n));
            continue;
        }
        if (n > 0) {
            link.rx.insert(link.rx.end(), buf, buf + n);
            link.rxLast = now;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        return false;
    }
}

void Simulator::processFrames(Link &link, Clock::time_point now) {
    while (!link.rx.empty()) {
        const std::size_t need = requestLength(link.rx);
        if (need == 0 || link.rx.size() < need)
            return;
        if (need > MODBUS_RTU_MAX_ADU_LENGTH) {
            ++counts_.bad;
            link.rx.clear();
            return;
        }
        const std::vector<std::uint8_t> frame(link.rx.begin(), link.rx.begin() + need);
        link.rx.erase(link.rx.begin(), link.rx.begin() + need);
        handleFrame(link, frame.data(), frame.size(), now);
    }
}

Simulator::Fault Simulator::pickFault(int slave) {
    const std::vector<int> &only = options_.faultSlaves;
    if (!only.empty() && std::find(only.begin(), only.end(), slave) == only.end())
        return Fault::None;
    const std::uint64_t n = ++counts_.faultable;
    // Every rule is evaluated so rate rules always consume their draw; the first one that
    // fires wins, in this order.
    const bool silent = options_.silent.fires(n, rng_);
    const bool exception = options_.exception.fires(n, rng_);
    const bool late = options_.late.fires(n, rng_);
    const bool corrupt = options_.corrupt.fires(n, rng_);
    const bool garbage = options_.garbage.fires(n, rng_);
    const bool wrongParity = options_.wrongParity.fires(n, rng_);
    const bool wrongId = options_.wrongId.fires(n, rng_);
    if (silent)
        return Fault::Silent;
    if (exception)
        return Fault::Exception;
    if (late)
        return Fault::Late;
    if (corrupt)
        return Fault::Corrupt;
    if (garbage)
        return Fault::Garbage;
    if (wrongParity)
        return Fault::WrongParity;
    if (wrongId)
        return Fault::WrongId;
    return Fault::None;
}

void Simulator::handleFrame(Link &link, const std::uint8_t *frame, std::size_t length,
                            Clock::time_point now) {
    const int slave = frame[0];
    if (!link.serves(slave)) {
        ++counts_.ignored;
        return;
    }
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    const auto received = takeRequest(link, slave, frame, length, request);
    if (!received)
        return;

    ++counts_.requests;
    const Fault fault = pickFault(slave);
    if (fault == Fault::Silent) {
        ++counts_.silent;
        return;
    }
    auto answer = answerRequest(slave, request, *received, fault == Fault::Exception, now);
    if (!answer)
        return;

    Outgoing item;
    item.isReply = true;
    item.firstRegister = answer->firstRegister;
    item.kind = "ok";
    const auto lateBy = applyFault(fault, slave, std::move(answer->bytes), item);
    item.due = now + replyDelay(link, length, item, fault == Fault::Late, lateBy);
    queue(link, std::move(item));
}

// The libmodbus bridge: the frame goes in at our end of the socket pair, and libmodbus takes it
// as a request to `slave` when its CRC and form are right.
std::optional<int> Simulator::takeRequest(Link &link, int slave, const std::uint8_t *frame,
                                          std::size_t length, std::uint8_t *request) {
    drain(ourSide_);
    drain(libmodbusSide_);
    if (write(ourSide_, frame, length) != ssize_t(length)) {
        std::fprintf(stderr, "plant-sim: cannot hand request to libmodbus: %s\n",
                     std::strerror(errno));
        return std::nullopt;
    }
    modbus_set_slave(ctx_, slave);
    const int received = modbus_receive(ctx_, request);
    if (received <= 0) {
        // Bad CRC or a frame libmodbus does not accept: drop whatever else is buffered too,
        // the next request starts clean.
        ++counts_.bad;
        link.rx.clear();
        return std::nullopt;
    }
    return received;
}

// libmodbus's reply to the request, a read served with the plant model's values of now, or its
// exception reply. None when it gives no frame.
std::optional<Simulator::Answer> Simulator::answerRequest(int slave, const std::uint8_t *request,
                                                          int received, bool exception,
                                                          Clock::time_point now) {
    const int function = request[1];
    const int start = (request[2] << 8) | request[3];
    const int count = (request[4] << 8) | request[5];
    const bool isRead = function == MODBUS_FC_READ_HOLDING_REGISTERS ||
                        function == MODBUS_FC_WRITE_AND_READ_REGISTERS;
    if (isRead) {
        const double seconds = std::chrono::duration<double>(now - started_).count();
        const int end = std::min(start + std::min(count, int(MODBUS_MAX_READ_REGISTERS)), 65536);
        for (int a = start; a < end; ++a)
            mapping_->tab_registers[a] = model_.value(slave, a, seconds);
    } else if (function == MODBUS_FC_READ_INPUT_REGISTERS) {
        const int end = std::min(start + std::min(count, int(MODBUS_MAX_READ_REGISTERS)), 65536);
        for (int a = start; a < end; ++a)
            mapping_->tab_input_registers[a] = PlantModel::inputValue(slave, a);
    }

    const int rc = exception
                       ? modbus_reply_exception(ctx_, request, unsigned(options_.exceptionCode))
                       : modbus_reply(ctx_, request, received, mapping_);
    if (rc < 0) {
        std::fprintf(stderr, "plant-sim: libmodbus reply failed: %s\n", modbus_strerror(errno));
        return std::nullopt;
    }
    Answer answer;
    answer.firstRegister = isRead ? start : -1;
    std::uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
    for (ssize_t n; (n = recv(ourSide_, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
        answer.bytes.insert(answer.bytes.end(), buf, buf + n);
    if (answer.bytes.size() < 5)
        return std::nullopt;
    return answer;
}

// What the fault makes of the reply on its way out: the bytes `item` carries, how it is recorded,
// and how much later than a sound reply it goes.
std::chrono::microseconds Simulator::applyFault(Fault fault, int slave,
                                                std::vector<std::uint8_t> reply, Outgoing &item) {
    auto delay = std::chrono::microseconds(0);
    switch (fault) {
    case Fault::None:
    case Fault::Silent:
        break;
    case Fault::Exception:
        ++counts_.exception;
        break;
    case Fault::Late:
        ++counts_.late;
        item.kind = "late";
        delay += std::chrono::milliseconds(
            std::uniform_int_distribution<int>(options_.lateMs, options_.lateMsMax)(timingRng_));
        break;
    case Fault::Corrupt: {
        ++counts_.corrupt;
        item.kind = "corrupt";
        // A data byte: after the byte count of a normal reply, the code of an exception.
        const bool normal = (reply[1] & 0x80) == 0 && reply.size() > 5;
        std::uniform_int_distribution<std::size_t> pos(normal ? 3 : 2, reply.size() - 3);
        std::uniform_int_distribution<int> flip(1, 255);
        reply[pos(rng_)] ^= std::uint8_t(flip(rng_));
        break;
    }
    case Fault::Garbage: {
        ++counts_.garbage;
        std::uniform_int_distribution<int> len(1, 40);
        std::uniform_int_distribution<int> byte(0, 255);
        std::vector<std::uint8_t> burst(std::size_t(len(rng_)));
        for (auto &b : burst)
            b = std::uint8_t(byte(rng_));
        if (options_.garbageMode == GarbageMode::Instead) {
            item.bytes = std::move(burst);
            item.isReply = false;
            item.kind = nullptr;
        } else {
            item.replyOffset = burst.size();
            item.bytes = std::move(burst);
        }
        break;
    }
    case Fault::WrongParity:
        ++counts_.wrongParity;
        item.kind = nullptr; // no values reach the station
        item.charMicros = characterMicros(wrongParityLine);
        reply = seenAs8N1(reply);
        break;
    case Fault::WrongId:
        ++counts_.wrongId;
        item.kind = nullptr;
        readdress(reply, std::uint8_t(slave % 247 + 1));
        break;
    }
    if (item.isReply)
        item.bytes.insert(item.bytes.end(), reply.begin(), reply.end());
    return delay;
}

// Pacing: how long after the request's end the reply goes out, `lateBy` included.
std::chrono::microseconds Simulator::replyDelay(const Link &link, std::size_t requestBytes,
                                                const Outgoing &item, bool late,
                                                std::chrono::microseconds lateBy) const {
    auto delay = lateBy;
    if (link.wire) {
        // The wire paces the characters. The slave answers after its turnaround (a late one
        // after --late-ms instead), never inside the silence that ends the request.
        if (!late)
            delay += std::chrono::milliseconds(options_.turnaroundMs);
        delay =
            std::max<std::chrono::microseconds>(delay, std::chrono::microseconds(link.wire->gap()));
    } else if (options_.wireSpeed) {
        // The request took its time on the wire too before the slave could start answering.
        const double line = characterMicros(stationLine);
        const double micros =
            double(requestBytes) * line +
            double(item.bytes.size()) * (item.charMicros > 0 ? item.charMicros : line);
        delay += std::chrono::milliseconds(options_.turnaroundMs) +
                 std::chrono::microseconds(std::llround(micros));
    }
    return delay;
}

void Simulator::queue(Link &link, Outgoing item) {
    auto pos = std::upper_bound(
        link.out.begin(), link.out.end(), item.due,
        [](Clock::time_point due, const Outgoing &other) { return due < other.due; });
    link.out.insert(pos, std::move(item));
}

// The babbling device's next byte, a random 2..3 ms (--babble-ms) after the last.
void Simulator::queueBabble(Link &link, Clock::time_point after) {
    Outgoing item;
    item.babble = true;
    item.bytes = {std::uint8_t(std::uniform_int_distribution<int>(0, 255)(timingRng_))};
    const double ms =
        std::uniform_real_distribution<double>(options_.babbleMs, options_.babbleMsMax)(timingRng_);
    item.due = after + std::chrono::microseconds(std::llround(ms * 1000));
    queue(link, std::move(item));
}

void Simulator::writeDue(Clock::time_point now) {
    for (Link &link : links_) {
        while (link.up() && !link.wire && !link.out.empty() && link.out.front().due <= now) {
            const Outgoing item = std::move(link.out.front());
            link.out.pop_front();
            writeOut(link, item);
            if (item.babble)
                queueBabble(link, item.due);
        }
    }
}

void Simulator::writeOut(Link &link, const Outgoing &item) {
    std::size_t done = 0;
    while (done < item.bytes.size()) {
        const ssize_t n = write(link.master, item.bytes.data() + done, item.bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // The pty buffer is full because nobody reads the port; a real line would not
            // store the bytes either.
            break;
        }
    }
    if (item.isReply)
        ++counts_.replies;
    record(link, item);
}

// Plays the link's wire and its slaves' replies in time order up to `until`: a reply that goes out
// meanwhile may run into a frame that ends later.
void Simulator::advanceWire(Link &link, Micros until) {
    for (;;) {
        const Micros wireNext = link.wire->nextEvent();
        const Micros replyNext = link.out.empty() ? NoTime : micros(link.out.front().due);
        if (std::min(wireNext, replyNext) > until)
            return;
        if (replyNext <= wireNext) {
            const Outgoing item = std::move(link.out.front());
            link.out.pop_front();
            startOnWire(link, replyNext, item);
            continue;
        }
        const Wire::Output out = link.wire->advance(wireNext);
        writeToStation(link, out.toStation);
        for (const WireFrame &frame : out.requests)
            handleWireFrame(link, frame);
    }
}

// A frame the slaves took in whole: one request, or something they drop.
void Simulator::handleWireFrame(Link &link, const WireFrame &frame) {
    const std::size_t need = requestLength(frame.bytes);
    if (need == 0 || need != frame.bytes.size() || need > MODBUS_RTU_MAX_ADU_LENGTH) {
        ++counts_.bad;
        return;
    }
    handleFrame(link, frame.bytes.data(), frame.bytes.size(), timeOf(frame.end));
}

void Simulator::startOnWire(Link &link, Micros at, const Outgoing &item) {
    link.wire->fromSlave(at, item.bytes, item.charMicros);
    if (item.babble)
        queueBabble(link, item.due);
    if (item.isReply)
        ++counts_.replies;
    record(link, item);
}

void Simulator::writeToStation(Link &link, const std::vector<std::uint8_t> &bytes) {
    std::size_t done = 0;
    while (link.up() && done < bytes.size()) {
        const ssize_t n = write(link.master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (!(n < 0 && errno == EINTR))
            break; // nobody reads the port: a real line would not store the bytes either
    }
}

void Simulator::record(const Link &link, const Outgoing &item) {
    if (!record_ || !item.kind || item.firstRegister < 0)
        return;
    const std::size_t off = item.replyOffset;
    const std::vector<std::uint8_t> &b = item.bytes;
    if (b.size() < off + 5 || (b[off + 1] & 0x80) != 0)
        return;
    const std::size_t byteCount = b[off + 2];
    if (off + 3 + byteCount + 2 > b.size())
        return;
    const long long ms = epochMs();
    for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
        const unsigned value = (unsigned(b[off + 3 + i]) << 8) | b[off + 4 + i];
        std::fprintf(record_, "%lld %d %d %d %u %s\n", ms, link.index, int(b[off]),
                     item.firstRegister + int(i / 2), value, item.kind);
    }
    std::fflush(record_);
}

void Simulator::expirePartialFrames(Clock::time_point now) {
    for (Link &link : links_) {
        if (!link.rx.empty() && now - link.rxLast >= FrameGap) {
            ++counts_.bad;
            link.rx.clear();
        }
    }
}

Clock::time_point Simulator::nextDeadline(Clock::time_point) const {
    Clock::time_point next = Clock::time_point::max();
    for (const Link &link : links_) {
        if (!link.out.empty())
            next = std::min(next, link.out.front().due);
        if (!link.rx.empty())
            next = std::min(next, link.rxLast + FrameGap);
        if (link.wire && link.wire->nextEvent() != NoTime)
            next = std::min(next, timeOf(link.wire->nextEvent()));
    }
    return next;
}

int Simulator::run(int signalFd) {
    stdinOpen_ = options_.stdinControl;
    while (!stopping_) {
        pollfd fds[4];
        int linkOf[4] = {-1, -1, -1, -1};
        nfds_t n = 0;
        fds[n++] = {signalFd, POLLIN, 0};
        const nfds_t stdinIndex = stdinOpen_ ? n : nfds_t(-1);
        if (stdinOpen_)
            fds[n++] = {STDIN_FILENO, POLLIN, 0};
        for (Link &link : links_) {
            if (link.up()) {
                linkOf[n] = link.index;
                fds[n++] = {link.master, POLLIN, 0};
            }
        }

        Clock::time_point now = Clock::now();
        const Clock::time_point deadline = nextDeadline(now);
        timespec ts{};
        timespec *timeout = nullptr;
        if (deadline != Clock::time_point::max()) {
            const auto ns = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count());
            ts.tv_sec = time_t(ns / 1000000000LL);
            ts.tv_nsec = long(ns % 1000000000LL);
            timeout = &ts;
        }
        if (ppoll(fds, n, timeout, nullptr) < 0 && errno != EINTR) {
            std::fprintf(stderr, "plant-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        now = Clock::now();

        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) > 0)
                stopping_ = true;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (linkOf[i] < 0 || fds[i].revents == 0)
                continue;
            Link &link = links_[linkOf[i]];
            if (!readLink(link, now)) {
                // Not expected while we hold the slave side; start the link afresh rather
                // than spin on a dead pty.
                std::fprintf(stderr, "plant-sim: link %d: pty failed (%s), recreating it\n",
                             link.index, std::strerror(errno));
                closeLink(link);
                if (!openLink(link))
                    std::fprintf(stderr, "plant-sim: link %d stays down\n", link.index);
                continue;
            }
            if (!link.wire)
                processFrames(link, now);
        }
        if (stdinIndex != nfds_t(-1) && fds[stdinIndex].revents != 0)
            readStdin();

        expirePartialFrames(now);
        writeDue(Clock::now());
        for (Link &link : links_) {
            if (link.wire)
                advanceWire(link, micros(Clock::now()));
        }
    }
    shutdown();
    return 0;
}

void Simulator::readStdin() {
    char buf[1024];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        stdinOpen_ = false;
        stopping_ = true;
        return;
    }
    stdinBuffer_.append(buf, std::size_t(n));
    std::size_t eol;
    while (!stopping_ && (eol = stdinBuffer_.find('\n')) != std::string::npos) {
        const std::string line = stdinBuffer_.substr(0, eol);
        stdinBuffer_.erase(0, eol + 1);
        handleCommand(line);
    }
}

void Simulator::handleCommand(const std::string &raw) {
    const auto first = raw.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return;
    const auto last = raw.find_last_not_of(" \t\r");
    const std::string line = raw.substr(first, last - first + 1);

    if (line == "quit") {
        emit("ok");
        stopping_ = true;
        return;
    }
    if (line == "counts") {
        emit(countsLine());
        emit("ok");
        return;
    }
    if (line == "stats") {
        if (!options_.bus) {
            emit("error no shared wire without --bus");
            return;
        }
        for (const Link &link : links_)
            emit(statsLine(link));
        emit("ok");
        return;
    }
    const bool drop = line.rfind("drop ", 0) == 0;
    const bool restore = line.rfind("restore ", 0) == 0;
    if (drop || restore) {
        const std::string arg = line.substr(line.find(' ') + 1);
        if (arg != "0" && arg != "1") {
            emit("error no link '" + arg + "'");
            return;
        }
        Link &link = links_[arg[0] - '0'];
        if (drop) {
            if (!link.up()) {
                emit("error link " + arg + " is already down");
                return;
            }
            closeLink(link);
        } else {
            if (link.up()) {
                emit("error link " + arg + " is up");
                return;
            }
            if (!openLink(link)) {
                emit("error link " + arg + " could not be restored");
                return;
            }
        }
        emit("ok");
        return;
    }
    emit("error unknown command '" + line + "'");
}

void Simulator::shutdown() {
    for (Link &link : links_)
        closeLink(link);
    emit(countsLine());
}

std::string Simulator::countsLine() const {
    const Counts &c = counts_;
    return "counts requests=" + std::to_string(c.requests) +
           " replies=" + std::to_string(c.replies) + " silent=" + std::to_string(c.silent) +
           " late=" + std::to_string(c.late) + " corrupt=" + std::to_string(c.corrupt) +
           " exception=" + std::to_string(c.exception) + " garbage=" + std::to_string(c.garbage) +
           " wrong_parity=" + std::to_string(c.wrongParity) +
           " wrong_id=" + std::to_string(c.wrongId) + " ignored=" + std::to_string(c.ignored) +
           " bad=" + std::to_string(c.bad) + (options_.bus ? wireCounts() : std::string());
}

// Both links' wires together: " merged=M collisions=C silence_min_us=S".
std::string Simulator::wireCounts() const {
    std::uint64_t merged = 0;
    std::uint64_t collisions = 0;
    Micros shortest = -1;
    for (const Link &link : links_) {
        const WireStats &s = link.wire->stats();
        merged += s.merged;
        collisions += s.collisions;
        if (s.silenceMin >= 0)
            shortest = shortest < 0 ? s.silenceMin : std::min(shortest, s.silenceMin);
    }
    return " merged=" + std::to_string(merged) + " collisions=" + std::to_string(collisions) +
           " silence_min_us=" + std::to_string(shortest);
}

std::string Simulator::statsLine(const Link &link) const {
    const WireStats &s = link.wire->stats();
    return "stats link=" + std::to_string(link.index) + " frames=" + std::to_string(s.frames) +
           " merged=" + std::to_string(s.merged) + " collisions=" + std::to_string(s.collisions) +
           " silence_min_us=" + std::to_string(s.silenceMin) +
           " silence_median_us=" + std::to_string(s.silenceMedian());
}

void Simulator::emit(const std::string &line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
