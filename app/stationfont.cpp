#include "stationfont.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

QFont stationFont() {
    // The face is drawn from its pixel strikes, which do not grow with a scaled screen (a scale
    // factor, high-resolution displays): its letters would stand apart in grown controls. There
    // the window takes a scalable face, which scales with them.
    if (qGuiApp && qGuiApp->devicePixelRatio() != 1.0)
        return fallbackFont();
    // Once per run, from the package's own file rather than whatever the font set-up offers
    // under that name.
    static const QStringList families = QFontDatabase::applicationFontFamilies(
        QFontDatabase::addApplicationFont(QString::fromLatin1(dialogFaceFile)));
    if (families.isEmpty())
        return fallbackFont();
    QFont font(families.first());
    // In pixels, like the controls, so that text and controls keep their proportions on any
    // screen. The face is a bitmap one: its 11-pixel em is the strike 13 pixels high.
    font.setPixelSize(11);
    // The face joins "TM" into one trademark glyph; "SWD9TM" is a name, drawn letter by letter.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QFont fallbackFont() {
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPixelSize(10);
    return font;
}
