#include "csvexport.h"

#include <QDateTime>

namespace trend {

QString trendCsv(const std::vector<ShownSeries> &series) {
    QString csv = QStringLiteral("time,link,slave,register,value\r\n");
    for (const auto &shown : series) {
        const QString prefix = QStringLiteral(",%1,%2,%3,")
                                   .arg(shown.key.link)
                                   .arg(shown.key.slave)
                                   .arg(shown.key.address);
        for (const Sample &sample : shown.samples) {
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(sample.wallMs());
            csv += local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
            csv += prefix;
            if (!sample.isGap())
                csv += QString::number(qint64(sample.value));
            csv += QStringLiteral("\r\n");
        }
    }
    return csv;
}

} // namespace trend
