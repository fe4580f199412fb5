#include "arrivals.h"

#include <algorithm>

namespace modbus {

void Arrivals::clear(qint64 quietSince) {
    bytes_.clear();
    pieces_.clear();
    quietSince_ = quietSince;
}

void Arrivals::add(const QByteArray &piece, qint64 nanos) {
    bytes_ += piece;
    pieces_.push_back({bytes_.size(), nanos});
}

void Arrivals::keepLast(qsizetype limit) {
    const qsizetype drop = bytes_.size() - limit;
    if (drop <= 0)
        return;
    bytes_.remove(0, drop);
    for (Piece &p : pieces_)
        p.end -= drop;
    std::erase_if(pieces_, [](const Piece &p) { return p.end <= 0; });
    quietSince_ = -1; // what came before the first kept byte is gone
}

std::size_t Arrivals::pieceOf(qsizetype at) const {
    const auto it = std::upper_bound(pieces_.begin(), pieces_.end(), at,
                                     [](qsizetype a, const Piece &p) { return a < p.end; });
    return std::size_t(std::min(it - pieces_.begin(), std::ptrdiff_t(pieces_.size()) - 1));
}

int Arrivals::piecesIn(qsizetype from, qsizetype to) const {
    if (to <= from)
        return 0;
    return int(pieceOf(to - 1) - pieceOf(from)) + 1;
}

qint64 Arrivals::silenceBefore(qsizetype at) const {
    const std::size_t p = pieceOf(at);
    const qsizetype start = p == 0 ? 0 : pieces_[p - 1].end;
    if (at != start)
        return -1;
    const qint64 before = p == 0 ? quietSince_ : pieces_[p - 1].nanos;
    return before < 0 ? -1 : std::max<qint64>(0, pieces_[p].nanos - before);
}

} // namespace modbus
