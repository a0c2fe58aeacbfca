#include "LabrosaApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The bulletin view (Qt WebEngine) needs shared OpenGL contexts from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    LabrosaApp app;
    if (!app.InitInstance(QCoreApplication::arguments()))
        return 1;
    return QApplication::exec();
}
