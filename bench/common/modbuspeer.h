#pragma once

#include <QString>
#include <cstdint>

struct _modbus;

namespace bench {

// The peer the station's figures are set beside: a plain libmodbus RTU master on one device,
// 38400 8N1, 500 ms response time-out. It blocks; it is never the station.
class ModbusPeer {
public:
    explicit ModbusPeer(const QString &device);
    ~ModbusPeer();
    ModbusPeer(const ModbusPeer &) = delete;
    ModbusPeer &operator=(const ModbusPeer &) = delete;

    bool isOpen() const { return open_; }
    // One modbus_read_registers call, timed alone (pending input is flushed before the clock
    // starts). Milliseconds, or -1 when the read failed.
    double read(int slave, int start, int count, std::uint16_t *values);

private:
    _modbus *ctx_ = nullptr;
    bool open_ = false;
};

} // namespace bench
