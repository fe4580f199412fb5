#pragma once

#include <QByteArray>
#include <vector>

namespace modbus {

// Bytes as they came in from a link, with when each piece of them arrived (monotonic nanoseconds).
class Arrivals {
public:
    // Starts afresh; the line was last busy at `quietSince` (-1 when unknown).
    void clear(qint64 quietSince);
    void add(const QByteArray &piece, qint64 nanos);
    // Keeps only the newest `limit` bytes.
    void keepLast(qsizetype limit);

    const QByteArray &bytes() const { return bytes_; }
    bool isEmpty() const { return bytes_.isEmpty(); }
    // When the piece holding byte `at` arrived.
    qint64 arrival(qsizetype at) const { return pieces_[pieceOf(at)].nanos; }
    // Pieces that carried bytes from..to (to excluded).
    int piecesIn(qsizetype from, qsizetype to) const;
    // Quiet line before byte `at`: from the previous piece to its own, or -1 when it came in the
    // middle of a piece or nothing is known of the line before.
    qint64 silenceBefore(qsizetype at) const;

private:
    struct Piece {
        qsizetype end; // one past its last byte
        qint64 nanos;
    };
    std::size_t pieceOf(qsizetype at) const;

    QByteArray bytes_;
    std::vector<Piece> pieces_;
    qint64 quietSince_ = -1;
};

} // namespace modbus
