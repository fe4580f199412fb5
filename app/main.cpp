#include "form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    // The browser pane's web engine shares OpenGL contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Form1 form;
    form.show();
    return app.exec();
}
