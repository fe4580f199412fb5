// libFuzzer target for the reply reader: checkReply, classifyRejected and requestFrame against
// frames found and built here with a CRC routine of our own (bitwise, not the station's table).
//
// Input: slave, register count, start hi, start lo, then the received bytes.
#include "frame.h"
#include "frames.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

using modbus::ReadRequest;
using modbus::ReplyCheck;
using modbus::ReplyStatus;

namespace {

[[noreturn]] void fail(const char *what, const ReadRequest &request, QByteArrayView bytes) {
    std::fprintf(stderr, "property violated: %s\nrequest slave=%u start=%u count=%u\nbytes=%s\n",
                 what, unsigned(request.slave), unsigned(request.start), unsigned(request.count),
                 bytes.toByteArray().toHex(' ').constData());
    std::abort();
}

std::uint8_t at(QByteArrayView b, qsizetype i) {
    return static_cast<std::uint8_t>(b[i]);
}

QByteArray bytesOf(std::initializer_list<std::uint8_t> list) {
    QByteArray bytes;
    for (std::uint8_t b : list)
        bytes += char(b);
    return bytes;
}

// Every place in `bytes` where an acceptable answer to `request` starts.
struct Found {
    std::vector<std::vector<std::uint16_t>> replies; // register values of each normal reply
    std::vector<std::uint8_t> exceptionCodes;        // code of each exception reply
};

Found findAnswers(QByteArrayView bytes, const ReadRequest &request) {
    Found found;
    const int count = request.count;
    const qsizetype length = 5 + 2 * count;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (at(bytes, i) != request.slave || i + 1 >= bytes.size())
            continue;
        const QByteArrayView rest = bytes.sliced(i);
        if (at(rest, 1) == 0x83 && rest.size() >= 5 && crcHolds(rest.first(5)))
            found.exceptionCodes.push_back(at(rest, 2));
        if (at(rest, 1) == 0x03 && 2 * count <= 0xFF && rest.size() >= length &&
            at(rest, 2) == 2 * count && crcHolds(rest.first(length))) {
            std::vector<std::uint16_t> values;
            for (int r = 0; r < count; ++r)
                values.push_back(
                    static_cast<std::uint16_t>(at(rest, 3 + 2 * r) << 8 | at(rest, 4 + 2 * r)));
            found.replies.push_back(std::move(values));
        }
    }
    return found;
}

template <typename T> bool contains(const std::vector<T> &list, const T &item) {
    for (const T &x : list)
        if (x == item)
            return true;
    return false;
}

// What checkReply said must be backed by a frame in the bytes, and a frame in the bytes must not
// be missed.
void checkAgainstFrames(QByteArrayView bytes, const ReadRequest &request) {
    const ReplyCheck check = modbus::checkReply(bytes, request);
    const Found found = findAnswers(bytes, request);
    switch (check.status) {
    case ReplyStatus::Valid:
        if (check.values.size() != request.count)
            fail("Valid with a register count other than the request's", request, bytes);
        if (!contains(found.replies, check.values))
            fail("Valid without a frame carrying exactly these values", request, bytes);
        break;
    case ReplyStatus::Exception:
        if (!contains(found.exceptionCodes, check.exceptionCode))
            fail("Exception without an exception frame of this code", request, bytes);
        break;
    case ReplyStatus::Incomplete:
        if (!found.replies.empty() || !found.exceptionCodes.empty())
            fail("Incomplete although an answer is there", request, bytes);
        break;
    }
    if (check.status != ReplyStatus::Incomplete &&
        (check.at < 0 || check.at + check.length > bytes.size() ||
         !crcHolds(bytes.sliced(check.at, check.length))))
        fail("the frame's place does not hold a whole frame", request, bytes);
    if (modbus::endsWithGarbledReply(bytes, request)) {
        const QByteArrayView last = bytes.last(5 + 2 * request.count);
        if (crcHolds(last) || at(last, 0) != request.slave || at(last, 1) != 0x03 ||
            at(last, 2) != 2 * request.count)
            fail("a garbled reply claimed where the bytes end in none", request, bytes);
    }
    const modbus::RejectReason reason = modbus::classifyRejected(bytes, request);
    if (bytes.isEmpty() != (reason == modbus::RejectReason::NoBytes))
        fail("NoBytes must be given exactly for no bytes", request, bytes);
}

void checkRequestFrame(const ReadRequest &request) {
    const QByteArray frame = modbus::requestFrame(request);
    const QByteArray head = bytesOf({request.slave, 0x03, std::uint8_t(request.start >> 8),
                                     std::uint8_t(request.start & 0xFF), 0, request.count});
    if (frame.size() != 8 || frame.first(6) != head || !crcHolds(frame))
        fail("request frame malformed", request, frame);
}

// Bytes that can never start a frame for `slave`.
QByteArray noiseWithout(QByteArrayView bytes, std::uint8_t slave) {
    QByteArray noise = bytes.toByteArray();
    for (char &c : noise)
        if (static_cast<std::uint8_t>(c) == slave)
            c = char(slave ^ 0x01);
    return noise;
}

// Frames built here from the input: a reply behind noise that holds no frame start, with
// anything after it, is always taken with its own values; the same goes for an exception; a
// reply with one byte changed is never taken.
void checkRoundTrip(const ReadRequest &asked, QByteArrayView input) {
    const ReadRequest request{asked.slave, asked.start, std::uint8_t(asked.count & 0x7F)};
    const qsizetype prefixLength = std::min<qsizetype>(input.size(), asked.start & 0x1F);
    const QByteArray prefix = noiseWithout(input.first(prefixLength), request.slave);
    const QByteArrayView tail = input.sliced(prefixLength);

    std::vector<std::uint16_t> values;
    QByteArray frame = bytesOf({request.slave, 0x03, std::uint8_t(2 * request.count)});
    for (int r = 0; r < request.count; ++r) {
        const std::uint8_t hi = r * 2 < tail.size() ? at(tail, r * 2) : std::uint8_t(r);
        const std::uint8_t lo = r * 2 + 1 < tail.size() ? at(tail, r * 2 + 1) : std::uint8_t(~r);
        values.push_back(static_cast<std::uint16_t>(hi << 8 | lo));
        frame += char(hi);
        frame += char(lo);
    }
    frame = withCrc(frame);

    const QByteArray received = prefix + frame + tail.toByteArray();
    const ReplyCheck check = modbus::checkReply(received, request);
    if (check.status != ReplyStatus::Valid || check.values != values)
        fail("a well-formed reply was not taken with its values", request, received);

    const std::uint8_t code = asked.count;
    const QByteArray exception = withCrc(bytesOf({request.slave, 0x83, code}));
    const QByteArray withException = prefix + exception + tail.toByteArray();
    const ReplyCheck refused = modbus::checkReply(withException, request);
    if (refused.status != ReplyStatus::Exception || refused.exceptionCode != code)
        fail("a well-formed exception reply was not taken with its code", request, withException);

    if (!tail.isEmpty()) {
        QByteArray damaged = frame;
        const qsizetype pos = at(tail, 0) % damaged.size();
        const std::uint8_t flip = tail.size() > 1 && at(tail, 1) != 0 ? at(tail, 1) : 0x01;
        damaged[pos] = char(at(damaged, pos) ^ flip);
        if (modbus::checkReply(damaged, request).status == ReplyStatus::Valid)
            fail("a reply with a changed byte was taken", request, damaged);
        if (pos >= 3 && !modbus::endsWithGarbledReply(damaged, request))
            fail("a reply with a changed value or check byte was not seen as garbled", request,
                 damaged);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 4)
        return 0;
    const ReadRequest request{data[0], static_cast<std::uint16_t>(data[2] << 8 | data[3]), data[1]};
    const QByteArrayView received(reinterpret_cast<const char *>(data) + 4, qsizetype(size - 4));
    checkRequestFrame(request);
    checkAgainstFrames(received, request);
    checkRoundTrip(request, received);
    return 0;
}
