// The trend store at its cap: eight slots of 14 registers each read twice a second, for two
// simulated hours. Prints the store's sample storage and the process's VmRSS after each
// quarter hour (flat after the first hour), and the CPU time one slot's reading costs.
#include "seriesstore.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {
long rssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
} // namespace

int main() {
    trend::SeriesStore store;
    constexpr int slots = 8, registers = 14, perSecond = 2;
    std::uint16_t values[registers] = {};
    std::int64_t calls = 0;
    std::chrono::nanoseconds spent{};
    const long rssStart = rssKb();
    std::printf("trend store: %d slots x %d registers, %d readings/s, ring of %zu samples of %zu "
                "bytes\n",
                slots, registers, perSecond, store.limits().samplesPerSeries,
                sizeof(trend::Sample));
    std::printf("%8s %10s %12s %12s\n", "minute", "series", "store MB", "VmRSS MB");
    for (std::int64_t tick = 0; tick < 2 * 3600 * perSecond; ++tick) {
        const std::int64_t ms = tick * 1000 / perSecond;
        for (int slot = 0; slot < slots; ++slot) {
            for (int r = 0; r < registers; ++r)
                values[r] = std::uint16_t(tick + r);
            const auto t0 = std::chrono::steady_clock::now();
            if (tick % 97 == 0 && slot == 3)
                store.recordGap(slot / 4, slot % 4, ms); // now and then a failed turn
            else
                store.recordValues(slot / 4, slot % 4, ms, 2 + slot, 1139, values);
            spent += std::chrono::steady_clock::now() - t0;
            ++calls;
        }
        if ((tick + 1) % (15 * 60 * perSecond) == 0)
            std::printf("%8lld %10zu %12.1f %12.1f\n", (long long)((tick + 1) / perSecond / 60),
                        store.seriesCount(), store.bytes() / 1048576.0,
                        (rssKb() - rssStart) / 1024.0 + rssStart / 1024.0);
    }
    std::printf("one slot's reading recorded in %.2f us on average (%lld calls)\n",
                double(spent.count()) / 1000.0 / double(calls), (long long)calls);
    std::printf("VmRSS at start %.1f MB\n", rssStart / 1024.0);
}
