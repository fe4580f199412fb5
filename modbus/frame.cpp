#include "frame.h"

#include "crc16.h"
#include "numbers.h"

namespace modbus {
namespace {

constexpr std::uint8_t exceptionFlag = 0x80;
constexpr int exceptionLength = 5;

std::uint8_t byteAt(QByteArrayView b, qsizetype i) {
    return static_cast<std::uint8_t>(b[i]);
}

bool crcMatches(QByteArrayView frame) {
    const qsizetype n = frame.size();
    const CrcPair pair = crc16(frame.first(n - 2));
    return byteAt(frame, n - 2) == pair.hi && byteAt(frame, n - 1) == pair.lo;
}

} // namespace

std::optional<ReadRequest> readRequestFromTexts(QStringView slave, QStringView start,
                                                QStringView count) {
    const auto slaveNumber = strictNumber(slave);
    if (!slaveNumber)
        return std::nullopt;
    const auto s = roundToInt32(*slaveNumber);
    const auto a = roundToInt32(lenientNumber(start));
    const auto n = roundToInt32(lenientNumber(count));
    if (!s || !a || !n || *s < 0 || *s > 255 || *a < 0 || *a > 65535 || *n < 0 || *n > 255)
        return std::nullopt;
    return ReadRequest{static_cast<std::uint8_t>(*s), static_cast<std::uint16_t>(*a),
                       static_cast<std::uint8_t>(*n)};
}

QByteArray requestFrame(const ReadRequest &request) {
    QByteArray frame;
    frame.reserve(8);
    frame.append(char(request.slave));
    frame.append(char(request.function));
    frame.append(char(request.start >> 8));
    frame.append(char(request.start & 0xFF));
    frame.append(char(0));
    frame.append(char(request.count));
    const CrcPair pair = crc16(frame);
    frame.append(char(pair.hi));
    frame.append(char(pair.lo));
    return frame;
}

ReplyCheck checkReply(QByteArrayView received, const ReadRequest &request) {
    const int length = replyLength(request.count);
    const bool countFits = 2 * request.count <= 0xFF;
    for (qsizetype at = 0; at < received.size(); ++at) {
        const QByteArrayView rest = received.sliced(at);
        if (byteAt(rest, 0) != request.slave || rest.size() < 2)
            continue;
        const std::uint8_t function = byteAt(rest, 1);
        if (function == (request.function | exceptionFlag) && rest.size() >= exceptionLength &&
            crcMatches(rest.first(exceptionLength)))
            return {ReplyStatus::Exception, {}, byteAt(rest, 2), at, exceptionLength};
        if (function != request.function || !countFits || rest.size() < length ||
            byteAt(rest, 2) != 2 * request.count || !crcMatches(rest.first(length)))
            continue;
        ReplyCheck check{ReplyStatus::Valid, {}, 0, at, length};
        check.values.reserve(request.count);
        for (int r = 0; r < request.count; ++r)
            check.values.push_back(
                static_cast<std::uint16_t>(byteAt(rest, 3 + 2 * r) << 8 | byteAt(rest, 4 + 2 * r)));
        return check;
    }
    return {};
}

qsizetype echoLength(QByteArrayView received, QByteArrayView request) {
    return !request.isEmpty() && received.startsWith(request) ? request.size() : 0;
}

bool endsWithGarbledReply(QByteArrayView received, const ReadRequest &request) {
    const int length = replyLength(request.count);
    if (received.size() < length || 2 * request.count > 0xFF)
        return false;
    const QByteArrayView frame = received.last(length);
    return byteAt(frame, 0) == request.slave && byteAt(frame, 1) == request.function &&
           byteAt(frame, 2) == 2 * request.count && !crcMatches(frame);
}

bool endsWithReplyShape(QByteArrayView received, const ReadRequest &request) {
    const int length = replyLength(request.count);
    if (received.size() < length || 2 * request.count > 0xFF)
        return false;
    const QByteArrayView frame = received.last(length);
    return byteAt(frame, 1) == request.function && byteAt(frame, 2) == 2 * request.count;
}

RejectReason classifyRejected(QByteArrayView received, const ReadRequest &request) {
    if (received.isEmpty())
        return RejectReason::NoBytes;
    for (qsizetype at = 0; at + 1 < received.size(); ++at) {
        if (byteAt(received, at) != request.slave || byteAt(received, at + 1) != request.function)
            continue;
        const QByteArrayView frame = received.sliced(at);
        if (frame.size() < replyLength(request.count) || byteAt(frame, 2) != 2 * request.count)
            return RejectReason::WrongLength;
        return RejectReason::BadCrc;
    }
    if (received.size() >= 2 && byteAt(received, 1) == request.function)
        return RejectReason::WrongSlave;
    return RejectReason::Garbage;
}

} // namespace modbus
