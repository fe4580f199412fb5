#pragma once

#include <QString>

class SerialTransport;

namespace links {

inline const QString connectCaption = QStringLiteral("Connect");
inline const QString disconnectCaption = QStringLiteral("DisConnect");

// A click on a link's connect button: opens the port on the port box's number when the caption
// offers "Connect" over a closed port, closes it when it offers "DisConnect" over an open one.
// Returns the caption that tells the port's state afterwards.
QString connectClick(const QString &caption, const QString &portText, SerialTransport &port);

} // namespace links
