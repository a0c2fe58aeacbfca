#include "DesktopIntegration.h"
#include "LabrosaApp.h"
#include "ProgramOptions.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The bulletin view (Qt WebEngine) needs shared OpenGL contexts from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    {
        // --help and --version are answered before QApplication, which needs a display.
        QCoreApplication plain(argc, argv);
        const int answer = ProgramOptions::answer(QCoreApplication::arguments(), false);
        if (answer != ProgramOptions::kStart)
            return answer;
    }
    QApplication application(argc, argv);
    DesktopIntegration::apply();
    const int answer = ProgramOptions::answer(QCoreApplication::arguments(), true);
    if (answer != ProgramOptions::kStart)
        return answer;
    LabrosaApp app;
    if (!app.initInstance(QCoreApplication::arguments()))
        return 1;
    return QApplication::exec();
}
