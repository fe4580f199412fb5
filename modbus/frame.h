#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace modbus {

// What one slot asks of its slave: function 3 over a block of holding registers (or, for a
// question asked by hand, function 4 over input registers).
struct ReadRequest {
    std::uint8_t slave = 0;
    std::uint16_t start = 0;
    std::uint8_t count = 0;
    std::uint8_t function = 3;
    friend bool operator==(const ReadRequest &, const ReadRequest &) = default;
};

// Reads a request from the operator's texts: the slave address as a whole strict number 0..255,
// start address and register count as lenient numbers 0..65535 and 0..255. Nothing when any of
// them is out of range or not a number, so that nothing goes on the bus.
std::optional<ReadRequest> readRequestFromTexts(QStringView slave, QStringView start,
                                                QStringView count);

// The 8-byte request: address, function, start hi, start lo, 00, count, CRC.
QByteArray requestFrame(const ReadRequest &request);

constexpr int replyLength(int count) {
    return 5 + 2 * count;
}

enum class ReplyStatus {
    Incomplete, // no frame for this request yet: keep waiting
    Valid,      // a frame with the right slave, function, byte count and CRC
    Exception,  // a well-formed exception reply from the right slave
};

// Why received bytes held no usable reply, for a wait that ended without one.
enum class RejectReason { None, NoBytes, WrongSlave, BadCrc, WrongLength, Garbage };

struct ReplyCheck {
    ReplyStatus status = ReplyStatus::Incomplete;
    std::vector<std::uint16_t> values; // Valid: the registers in order
    std::uint8_t exceptionCode = 0;    // Exception: its code
    qsizetype at = 0;                  // Valid, Exception: where the frame starts
    qsizetype length = 0;              // Valid, Exception: its length
};

// Looks for the reply to `request` among the received bytes. Bytes ahead of it (a late reply to an
// earlier request, line noise) are passed over; a frame is taken only when every check holds.
ReplyCheck checkReply(QByteArrayView received, const ReadRequest &request);

// The station's own request read back at the start of the received bytes (two-wire adapters echo
// what they send): its length, else 0.
qsizetype echoLength(QByteArrayView received, QByteArrayView request);

// The bytes end in a frame of the reply's shape (the polled slave, function 3, the right byte count
// and length) whose check bytes are wrong: the reply, garbled, once the line stays quiet.
bool endsWithGarbledReply(QByteArrayView received, const ReadRequest &request);

// The bytes end in a frame of the reply's shape (function 3, the right byte count and length),
// whatever its slave and check bytes: where such a frame ends is known.
bool endsWithReplyShape(QByteArrayView received, const ReadRequest &request);

// For a wait that ended without a reply: what the received bytes looked like.
RejectReason classifyRejected(QByteArrayView received, const ReadRequest &request);

} // namespace modbus
