#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <set>

namespace {

bool parseInt(const char *text, long min, long max, long &out) {
    if (text == nullptr || *text == '\0')
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseSlaveList(const std::string &text, std::vector<int> &out) {
    out.clear();
    std::set<int> seen;
    std::size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        const std::size_t comma = text.find(',', pos);
        const std::string item =
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        long v = 0;
        if (!parseInt(item.c_str(), 1, 247, v) || !seen.insert(int(v)).second)
            return false;
        out.push_back(int(v));
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return true;
}

// "N" or "N-M" (N <= M), both within min..max.
bool parseRange(const char *text, long min, long max, long &low, long &high) {
    const std::string t = text ? text : "";
    const std::size_t dash = t.find('-', 1);
    if (!parseInt(t.substr(0, dash).c_str(), min, max, low))
        return false;
    if (dash == std::string::npos) {
        high = low;
        return true;
    }
    return parseInt(t.substr(dash + 1).c_str(), low, max, high);
}

enum OptionId {
    OptDir = 1000,
    OptPort0,
    OptPort1,
    OptSlaves0,
    OptSlaves1,
    OptStatic,
    OptWireSpeed,
    OptTurnaround,
    OptSilent,
    OptLate,
    OptLateMs,
    OptCorrupt,
    OptException,
    OptExceptionCode,
    OptGarbage,
    OptGarbageMode,
    OptWrongParity,
    OptWrongId,
    OptSeed,
    OptRecord,
    OptStdinControl,
    OptFaultSlaves,
    OptBus,
    OptBaud,
    OptEcho,
    OptChunkBytes,
    OptLatencyMs,
    OptLatencyFree,
    OptBabbleMs,
    OptBabbleLink,
    OptHelp,
};

} // namespace

std::optional<FaultRule> FaultRule::parse(const std::string &text) {
    FaultRule rule;
    static const std::string everyPrefix = "every:";
    if (text.compare(0, everyPrefix.size(), everyPrefix) == 0) {
        const std::string k = text.substr(everyPrefix.size());
        char *end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(k.c_str(), &end, 10);
        if (k.empty() || k[0] == '-' || errno != 0 || *end != '\0' || v == 0)
            return std::nullopt;
        rule.mode = Mode::Every;
        rule.every = v;
        return rule;
    }
    char *end = nullptr;
    errno = 0;
    const double r = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(r >= 0.0 && r <= 1.0))
        return std::nullopt;
    rule.mode = r > 0.0 ? Mode::Rate : Mode::Off;
    rule.rate = r;
    return rule;
}

bool FaultRule::fires(std::uint64_t requestNumber, std::mt19937_64 &rng) const {
    switch (mode) {
    case Mode::Off:
        return false;
    case Mode::Every:
        return requestNumber % every == 0;
    case Mode::Rate: {
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        return uniform(rng) < rate;
    }
    }
    return false;
}

void printUsage(std::FILE *to) {
    std::fprintf(
        to, "usage: plant-sim --dir DIR [options]\n"
            "\n"
            "Simulates the plant's two RS-485 links as pseudo-terminals DIR/COM<port0> and\n"
            "DIR/COM<port1>, answering Modbus RTU requests for the configured slaves.\n"
            "\n"
            "  --dir DIR              directory for the COM<N> symlinks (required)\n"
            "  --port0 N, --port1 N   port numbers of link 0 and 1 (default 5 and 10)\n"
            "  --slaves0 LIST         slaves served on link 0 (default 2,60,5,6)\n"
            "  --slaves1 LIST         slaves served on link 1 (default 9,10)\n"
            "  --static               register a of slave s holds (s*1000+a) & 0xFFFF, constant\n"
            "  --wire-speed           pace replies as a 38400 8N1 line would\n"
            "  --turnaround-ms MS     slave turnaround with --wire-speed (default 5)\n"
            "  --silent F             no reply\n"
            "  --late F               reply after --late-ms MS or MIN-MAX (default 600)\n"
            "  --corrupt F            one data byte changed, CRC of the original kept\n"
            "  --exception F          exception reply, code --exception-code C (default 2)\n"
            "  --garbage F            1..40 random bytes, see --garbage-mode before|instead\n"
            "                         (default before: the burst precedes the valid reply)\n"
            "  --wrong-parity F       reply sent 8E1: the 8N1 station gets it garbled\n"
            "  --wrong-id F           reply with another slave's address\n"
            "  --seed N               random seed (default 1)\n"
            "  --record FILE          append one line per register value sent\n"
            "  --fault-slaves LIST    faults hit only these slaves (default: all)\n"
            "  --stdin-control        accept 'drop L', 'restore L', 'counts', 'stats', 'quit'\n"
            "  --babble-ms MS[-MAX]   a device on --babble-link L (default 0) sends one random\n"
            "                         byte every MS..MAX ms, forever\n"
            "\n"
            "  --bus                  each link is one wire at 38400 8N1: frames found by\n"
            "                         silence, overlapping frames garbled (implies --wire-speed)\n"
            "  --baud B               with --bus: the wire's speed (default 38400)\n"
            "  --echo                 with --bus: the station hears its own request\n"
            "  --chunk-bytes N        with --bus: adapter hands over N bytes at once when full\n"
            "  --latency-ms MS        with --bus: adapter holds bytes up to MS ms (default 0)\n"
            "  --latency-free-running with --bus: the latency timer ticks every MS ms on its\n"
            "                         own; held bytes go at the next tick\n"
            "\n"
            "F is a probability per request (0..1) or every:K for every K-th request.\n");
}

ParseResult parseOptions(int argc, char **argv, Options &out) {
    static const struct option longOptions[] = {
        {"dir", required_argument, nullptr, OptDir},
        {"port0", required_argument, nullptr, OptPort0},
        {"port1", required_argument, nullptr, OptPort1},
        {"slaves0", required_argument, nullptr, OptSlaves0},
        {"slaves1", required_argument, nullptr, OptSlaves1},
        {"static", no_argument, nullptr, OptStatic},
        {"wire-speed", no_argument, nullptr, OptWireSpeed},
        {"turnaround-ms", required_argument, nullptr, OptTurnaround},
        {"silent", required_argument, nullptr, OptSilent},
        {"late", required_argument, nullptr, OptLate},
        {"late-ms", required_argument, nullptr, OptLateMs},
        {"corrupt", required_argument, nullptr, OptCorrupt},
        {"exception", required_argument, nullptr, OptException},
        {"exception-code", required_argument, nullptr, OptExceptionCode},
        {"garbage", required_argument, nullptr, OptGarbage},
        {"garbage-mode", required_argument, nullptr, OptGarbageMode},
        {"wrong-parity", required_argument, nullptr, OptWrongParity},
        {"wrong-id", required_argument, nullptr, OptWrongId},
        {"seed", required_argument, nullptr, OptSeed},
        {"record", required_argument, nullptr, OptRecord},
        {"stdin-control", no_argument, nullptr, OptStdinControl},
        {"fault-slaves", required_argument, nullptr, OptFaultSlaves},
        {"bus", no_argument, nullptr, OptBus},
        {"baud", required_argument, nullptr, OptBaud},
        {"echo", no_argument, nullptr, OptEcho},
        {"chunk-bytes", required_argument, nullptr, OptChunkBytes},
        {"latency-ms", required_argument, nullptr, OptLatencyMs},
        {"latency-free-running", no_argument, nullptr, OptLatencyFree},
        {"babble-ms", required_argument, nullptr, OptBabbleMs},
        {"babble-link", required_argument, nullptr, OptBabbleLink},
        {"help", no_argument, nullptr, OptHelp},
        {nullptr, 0, nullptr, 0},
    };

    auto fail = [](const char *option, const char *value) {
        std::fprintf(stderr, "plant-sim: invalid value '%s' for --%s\n", value ? value : "",
                     option);
        return ParseResult::Error;
    };

    opterr = 1;
    optind = 1;
    int c = 0;
    while ((c = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1) {
        long v = 0;
        long high = 0;
        switch (c) {
        case OptDir:
            out.dir = optarg;
            break;
        case OptPort0:
        case OptPort1:
            if (!parseInt(optarg, 0, 9999, v))
                return fail(c == OptPort0 ? "port0" : "port1", optarg);
            out.ports[c == OptPort0 ? 0 : 1] = int(v);
            break;
        case OptSlaves0:
        case OptSlaves1:
            if (!parseSlaveList(optarg, out.slaves[c == OptSlaves0 ? 0 : 1]))
                return fail(c == OptSlaves0 ? "slaves0" : "slaves1", optarg);
            break;
        case OptStatic:
            out.staticValues = true;
            break;
        case OptWireSpeed:
            out.wireSpeed = true;
            break;
        case OptTurnaround:
            if (!parseInt(optarg, 0, 60000, v))
                return fail("turnaround-ms", optarg);
            out.turnaroundMs = int(v);
            break;
        case OptLateMs:
            if (!parseRange(optarg, 0, 600000, v, high))
                return fail("late-ms", optarg);
            out.lateMs = int(v);
            out.lateMsMax = int(high);
            break;
        case OptExceptionCode:
            // libmodbus builds exception replies for codes 1..11 only.
            if (!parseInt(optarg, 1, 11, v))
                return fail("exception-code", optarg);
            out.exceptionCode = int(v);
            break;
        case OptSilent:
        case OptLate:
        case OptCorrupt:
        case OptException:
        case OptGarbage:
        case OptWrongParity:
        case OptWrongId: {
            const auto rule = FaultRule::parse(optarg);
            const char *name = c == OptSilent        ? "silent"
                               : c == OptLate        ? "late"
                               : c == OptCorrupt     ? "corrupt"
                               : c == OptException   ? "exception"
                               : c == OptWrongParity ? "wrong-parity"
                               : c == OptWrongId     ? "wrong-id"
                                                     : "garbage";
            if (!rule)
                return fail(name, optarg);
            FaultRule &target = c == OptSilent        ? out.silent
                                : c == OptLate        ? out.late
                                : c == OptCorrupt     ? out.corrupt
                                : c == OptException   ? out.exception
                                : c == OptWrongParity ? out.wrongParity
                                : c == OptWrongId     ? out.wrongId
                                                      : out.garbage;
            target = *rule;
            break;
        }
        case OptGarbageMode:
            if (std::strcmp(optarg, "before") == 0)
                out.garbageMode = GarbageMode::Before;
            else if (std::strcmp(optarg, "instead") == 0)
                out.garbageMode = GarbageMode::Instead;
            else
                return fail("garbage-mode", optarg);
            break;
        case OptSeed: {
            char *end = nullptr;
            errno = 0;
            const unsigned long long s = std::strtoull(optarg, &end, 10);
            if (*optarg == '\0' || *optarg == '-' || errno != 0 || *end != '\0')
                return fail("seed", optarg);
            out.seed = s;
            break;
        }
        case OptRecord:
            out.recordPath = optarg;
            break;
        case OptStdinControl:
            out.stdinControl = true;
            break;
        case OptFaultSlaves:
            if (!parseSlaveList(optarg, out.faultSlaves))
                return fail("fault-slaves", optarg);
            break;
        case OptBus:
            out.bus = true;
            break;
        case OptBaud:
            if (!parseInt(optarg, 300, 1000000, v))
                return fail("baud", optarg);
            out.baud = int(v);
            break;
        case OptEcho:
            out.echo = true;
            break;
        case OptChunkBytes:
            if (!parseInt(optarg, 1, 4096, v))
                return fail("chunk-bytes", optarg);
            out.chunkBytes = int(v);
            break;
        case OptLatencyMs:
            if (!parseInt(optarg, 0, 1000, v))
                return fail("latency-ms", optarg);
            out.latencyMs = int(v);
            break;
        case OptLatencyFree:
            out.latencyFreeRunning = true;
            break;
        case OptBabbleMs:
            if (!parseRange(optarg, 1, 60000, v, high))
                return fail("babble-ms", optarg);
            out.babbleMs = double(v);
            out.babbleMsMax = double(high);
            break;
        case OptBabbleLink:
            if (!parseInt(optarg, 0, 1, v))
                return fail("babble-link", optarg);
            out.babbleLink = int(v);
            break;
        case OptHelp:
        case 'h':
            return ParseResult::Help;
        default:
            return ParseResult::Error;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "plant-sim: unexpected argument '%s'\n", argv[optind]);
        return ParseResult::Error;
    }
    if (out.dir.empty()) {
        std::fprintf(stderr, "plant-sim: --dir is required\n");
        return ParseResult::Error;
    }
    if (!out.bus && (out.echo || out.chunkBytes > 0 || out.latencyMs > 0 ||
                     out.baud != stationLine.baud || out.latencyFreeRunning)) {
        std::fprintf(stderr, "plant-sim: --baud, --echo, --chunk-bytes, --latency-ms and "
                             "--latency-free-running need --bus\n");
        return ParseResult::Error;
    }
    if (out.latencyFreeRunning && out.latencyMs == 0) {
        std::fprintf(stderr, "plant-sim: --latency-free-running needs --latency-ms\n");
        return ParseResult::Error;
    }
    if (out.ports[0] == out.ports[1]) {
        std::fprintf(stderr, "plant-sim: --port0 and --port1 must differ\n");
        return ParseResult::Error;
    }
    return ParseResult::Ok;
}
