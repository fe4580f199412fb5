#pragma once

#include <QObject>
#include <functional>

class Diagnostics;
class QPoint;
class QWidget;
class ReadingGrid;

namespace trend {
class Trends;
}

// The reading grid's menus (right click): on a slot's header "Reset statistics" and
// "Traffic…", on a value cell of a slot "Trend…", which a double-click opens as well.
class GridMenus : public QObject {
    Q_OBJECT
public:
    using ShowTraffic = std::function<void(int link, int slot)>;

    // The menus pop up over `window`, whose child the object becomes.
    GridMenus(ReadingGrid &grid, Diagnostics &diagnostics, trend::Trends &trends,
              ShowTraffic showTraffic, QWidget *window);

private:
    void offer(const QPoint &pos);

    ReadingGrid &grid_;
    Diagnostics &diagnostics_;
    trend::Trends &trends_;
    ShowTraffic showTraffic_;
    QWidget *window_;
};
