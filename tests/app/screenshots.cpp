// Pictures of the Laborator menu's windows for the documentation, made off screen:
//   labrosa-screenshots <laboratory folder with lab.db and Labrosa.ini> <file.mdb> <mapping> <output folder>
// Each window is shown at 1280 x 800 and written as a PNG file.

#include "AccessImportWindow.h"
#include "FirstStartDialog.h"
#include "LabFolder.h"
#include "LabHeaderDialog.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTest>

#include <cstdio>

#include "../common/Screenshot.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: labrosa-screenshots LABFOLDER FILE.mdb MAPPING OUTDIR\n");
        return 2;
    }
    const QString lab = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[4]));
    QDir::setCurrent(lab);
    bool ok = true;
    {
        LabHeaderDialog dialog(QDir(lab).filePath(QStringLiteral("Labrosa.ini")));
        ok = shootWindow(dialog, out.filePath(QStringLiteral("laborator-antetul-buletinului.png"))) && ok;
    }
    LabChoice current;
    current.folder = lab;
    {
        FirstStartDialog dialog(QStringLiteral("Alegeti laboratorul pe care sa-l deschida programul in locul celui "
                                               "de acum."),
                                current);
        ok = shootWindow(dialog, out.filePath(QStringLiteral("laborator-schimba-laboratorul.png"))) && ok;
    }
    {
        FirstStartDialog dialog(QStringLiteral("Scrieti sau alegeti dosarul laboratorului nou: in el se fac baza de "
                                               "date lab.db (goala), Labrosa.ini si buletin_files."),
                                LabChoice());
        dialog.chooseNewEmptyLaboratory();
        ok = shootWindow(dialog, out.filePath(QStringLiteral("laborator-laborator-nou.png"))) && ok;
    }
    {
        AccessImportWindow window(QStringLiteral("Provider=SQLite;Data Source=%1").arg(QDir(lab).filePath("lab.db")));
        ok = window.openFile(QString::fromLocal8Bit(argv[2])) && ok;
        ok = shootWindow(window, out.filePath(QStringLiteral("laborator-import-din-access.png"))) && ok;
        ok = window.loadMapping(QString::fromLocal8Bit(argv[3])) && ok;
        window.startImport();
        QEventLoop loop;
        QObject::connect(&window, &AccessImportWindow::importFinished, &loop, &QEventLoop::quit);
        if (window.isRunning())
            loop.exec();
        ok = shootWindow(window, out.filePath(QStringLiteral("laborator-import-din-access-rezultat.png"))) && ok;
    }
    return ok ? 0 : 1;
}
