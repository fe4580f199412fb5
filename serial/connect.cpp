#include "connect.h"

#include "numbers.h"
#include "transport.h"

namespace links {

QString connectClick(const QString &caption, const QString &portText, SerialTransport &port) {
    if (caption == connectCaption && !port.isOpen()) {
        // A text that is not a whole 16-bit number leaves the previous port number in place.
        if (const auto number = modbus::strictNumber(portText)) {
            if (const auto whole = modbus::roundToInt32(*number); whole && *whole <= 32767)
                port.setPortNumber(*whole);
        }
        port.open();
    } else if (caption == disconnectCaption && port.isOpen()) {
        port.close();
    }
    return port.isOpen() ? disconnectCaption : connectCaption;
}

} // namespace links
