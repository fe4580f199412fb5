// The memory peer: a plain Qt window with a few controls and nothing behind them, to set the
// station's resident memory beside.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("plain window"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLineEdit(QStringLiteral("1139")));
    layout->addWidget(new QPushButton(QStringLiteral("Scan ON")));
    window.resize(888, 621);
    window.show();
    return app.exec();
}
