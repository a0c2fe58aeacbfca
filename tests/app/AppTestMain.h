#pragma once

// main() for the shell's GUI suites: the settings go to a private folder (the recent-file
// list must not touch the user's own), and Qt WebEngine gets the shared OpenGL contexts it
// needs before the QApplication exists.

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#define LABROSA_GUI_TEST_MAIN(TestClass)                                                                               \
    int main(int argc, char* argv[]) {                                                                                 \
        QTemporaryDir configHome;                                                                                      \
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());                                                   \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                                    \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestClass test;                                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
