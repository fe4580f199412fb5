#include "modbuspeer.h"

#include <chrono>
#include <modbus.h>

namespace bench {

ModbusPeer::ModbusPeer(const QString &device) {
    ctx_ = modbus_new_rtu(device.toLocal8Bit().constData(), 38400, 'N', 8, 1);
    if (!ctx_)
        return;
    modbus_set_response_timeout(ctx_, 0, 500000);
    open_ = modbus_connect(ctx_) == 0;
}

ModbusPeer::~ModbusPeer() {
    if (!ctx_)
        return;
    if (open_)
        modbus_close(ctx_);
    modbus_free(ctx_);
}

double ModbusPeer::read(int slave, int start, int count, std::uint16_t *values) {
    if (!open_)
        return -1;
    modbus_set_slave(ctx_, slave);
    modbus_flush(ctx_); // the station too discards stale input before each request
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = modbus_read_registers(ctx_, start, count, values);
    const auto t1 = std::chrono::steady_clock::now();
    if (rc != count)
        return -1;
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

} // namespace bench
