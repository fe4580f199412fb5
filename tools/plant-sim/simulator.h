#pragma once

#include "options.h"
#include "plant_model.h"
#include "wire.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <modbus.h>

using Clock = std::chrono::steady_clock;

// Bytes waiting to be written to a link at a given time.
struct Outgoing {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    bool isReply = false;        // counts as a reply when written
    std::size_t replyOffset = 0; // start of the Modbus frame inside bytes (after a garbage burst)
    int firstRegister = -1;      // first register of a read, for the record file
    const char *kind = nullptr;  // record kind ("ok", "late", "corrupt"); nullptr: not recorded
    double charMicros = 0;       // one character on the wire; 0: the line's
    bool babble = false;         // a babbling device's byte: the next one follows it
};

struct Link {
    int index = 0;
    int port = 0;
    std::string linkPath; // DIR/COM<port>
    std::vector<int> slaves;

    int master = -1;
    int heldSlave = -1;
    std::string ptsPath;

    std::vector<std::uint8_t> rx;
    Clock::time_point rxLast;
    std::deque<Outgoing> out; // ordered by due time
    std::optional<Wire> wire; // shared-wire mode; outlives drop and restore like a real cable

    bool up() const { return master >= 0; }
    bool serves(int slave) const;
};

struct Counts {
    std::uint64_t requests = 0; // well-formed requests to served slaves
    std::uint64_t replies = 0;  // reply frames written (exceptions and late ones included)
    std::uint64_t silent = 0;
    std::uint64_t late = 0;
    std::uint64_t corrupt = 0;
    std::uint64_t exception = 0;
    std::uint64_t garbage = 0;
    std::uint64_t wrongParity = 0;
    std::uint64_t wrongId = 0;
    std::uint64_t ignored = 0;   // requests to slaves not served on that link
    std::uint64_t bad = 0;       // frames with a bad CRC and incomplete frames discarded
    std::uint64_t faultable = 0; // requests to the slaves faults may hit, numbering the rules
};

class Simulator {
public:
    explicit Simulator(const Options &options);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Creates both links and the libmodbus context; prints "ready ..." on success.
    bool start();
    // Runs until SIGINT/SIGTERM/SIGHUP, "quit" or stdin EOF (with --stdin-control).
    // signalFd must deliver the terminating signals.
    int run(int signalFd);

private:
    enum class Fault { None, Silent, Late, Corrupt, Exception, Garbage, WrongParity, WrongId };

    bool openLink(Link &link);
    void closeLink(Link &link);
    bool readLink(Link &link, Clock::time_point now);
    void processFrames(Link &link, Clock::time_point now);
    void handleFrame(Link &link, const std::uint8_t *frame, std::size_t length,
                     Clock::time_point now);
    // A reply as libmodbus gave it, and the first register when the request was a read.
    struct Answer {
        std::vector<std::uint8_t> bytes;
        int firstRegister = -1;
    };
    std::optional<int> takeRequest(Link &link, int slave, const std::uint8_t *frame,
                                   std::size_t length, std::uint8_t *request);
    std::optional<Answer> answerRequest(int slave, const std::uint8_t *request, int received,
                                        bool exception, Clock::time_point now);
    std::chrono::microseconds applyFault(Fault fault, int slave, std::vector<std::uint8_t> reply,
                                         Outgoing &item);
    std::chrono::microseconds replyDelay(const Link &link, std::size_t requestBytes,
                                         const Outgoing &item, bool late,
                                         std::chrono::microseconds lateBy) const;
    Fault pickFault(int slave);
    void queue(Link &link, Outgoing item);
    void queueBabble(Link &link, Clock::time_point after);
    void writeDue(Clock::time_point now);
    void writeOut(Link &link, const Outgoing &item);
    void record(const Link &link, const Outgoing &item);
    void expirePartialFrames(Clock::time_point now);
    void advanceWire(Link &link, Micros until);
    void handleWireFrame(Link &link, const WireFrame &frame);
    void startOnWire(Link &link, Micros at, const Outgoing &item);
    void writeToStation(Link &link, const std::vector<std::uint8_t> &bytes);
    std::string statsLine(const Link &link) const;
    Clock::time_point nextDeadline(Clock::time_point now) const;
    void readStdin();
    void handleCommand(const std::string &line);
    void shutdown();
    std::string countsLine() const;
    std::string wireCounts() const;
    void emit(const std::string &line);

    Options options_;
    PlantModel model_;
    Link links_[2];
    Counts counts_;
    std::mt19937_64 rng_;
    std::mt19937_64 timingRng_; // late-reply delays and babble, apart from the fault draws
    Clock::time_point started_;

    modbus_t *ctx_ = nullptr;
    modbus_mapping_t *mapping_ = nullptr;
    int libmodbusSide_ = -1; // libmodbus reads requests from and writes replies to this end
    int ourSide_ = -1;       // we feed requests into and collect replies from this end

    std::FILE *record_ = nullptr;
    std::string stdinBuffer_;
    bool stdinOpen_ = false;
    bool stopping_ = false;
};
