// modbus-read: reads holding registers from one slave over a serial device with libmodbus,
// as an independent Modbus RTU master for tests and benchmarks.
//
// One line per read on stdout:
//   ok <elapsed_ms> <value> <value> ...
//   error <elapsed_ms> <message from modbus_strerror>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <modbus.h>

namespace {

void usage(std::FILE *to) {
    std::fprintf(to, "usage: modbus-read DEVICE SLAVE START COUNT [--repeat K] [--interval-ms MS]\n"
                     "                   [--timeout-ms MS] [--no-flush] [--debug]\n"
                     "\n"
                     "Reads COUNT holding registers from START (function 3) at 38400 8N1.\n"
                     "  --repeat K        read K times (default 1)\n"
                     "  --interval-ms MS  pause between reads (default 0)\n"
                     "  --timeout-ms MS   response time-out (default 500)\n"
                     "  --no-flush        do not discard pending input before each request\n"
                     "  --debug           libmodbus debug output on stderr\n"
                     "Exit status: 0 all reads succeeded, 1 some failed, 2 usage or open error.\n");
}

bool parseLong(const char *text, long min, long max, long &out) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (*text == '\0' || errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<const char *> positional;
    long repeat = 1;
    long intervalMs = 0;
    long timeoutMs = 500;
    bool flush = true;
    bool debug = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](long min, long max, long &out) {
            if (i + 1 >= argc || !parseLong(argv[i + 1], min, max, out)) {
                std::fprintf(stderr, "modbus-read: bad value for %s\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        if (arg == "--repeat")
            value(1, 1000000, repeat);
        else if (arg == "--interval-ms")
            value(0, 3600000, intervalMs);
        else if (arg == "--timeout-ms")
            value(1, 600000, timeoutMs);
        else if (arg == "--no-flush")
            flush = false;
        else if (arg == "--debug")
            debug = true;
        else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "modbus-read: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else
            positional.push_back(argv[i]);
    }
    long slave = 0;
    long start = 0;
    long count = 0;
    if (positional.size() != 4 || !parseLong(positional[1], 0, 247, slave) ||
        !parseLong(positional[2], 0, 65535, start) ||
        !parseLong(positional[3], 1, MODBUS_MAX_READ_REGISTERS, count)) {
        usage(stderr);
        return 2;
    }

    modbus_t *ctx = modbus_new_rtu(positional[0], 38400, 'N', 8, 1);
    if (!ctx) {
        std::fprintf(stderr, "modbus-read: %s\n", modbus_strerror(errno));
        return 2;
    }
    modbus_set_debug(ctx, debug ? TRUE : FALSE);
    modbus_set_slave(ctx, int(slave));
    modbus_set_response_timeout(ctx, uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "modbus-read: cannot open %s: %s\n", positional[0],
                     modbus_strerror(errno));
        modbus_free(ctx);
        return 2;
    }

    std::vector<uint16_t> regs(std::size_t(count), 0);
    bool allOk = true;
    for (long r = 0; r < repeat; ++r) {
        if (r > 0 && intervalMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        // RTU has no transaction id: a reply that arrived after an earlier time-out would
        // otherwise be taken as the answer to this request.
        if (flush)
            modbus_flush(ctx);
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = modbus_read_registers(ctx, int(start), int(count), regs.data());
        const int err = errno;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        if (rc == count) {
            std::printf("ok %.3f", ms);
            for (uint16_t v : regs)
                std::printf(" %u", unsigned(v));
            std::printf("\n");
        } else {
            allOk = false;
            std::printf("error %.3f %s\n", ms, rc < 0 ? modbus_strerror(err) : "short reply");
        }
        std::fflush(stdout);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return allOk ? 0 : 1;
}
