// Pictures of the Evolutie window for the documentation, made off screen as the Laborator
// menu's are, in the light and the dark palette:
//   labrosa-evolution-screenshots <lab.db> <result set ID> <patient name> <parameter name> <output folder>
// Each window is shown at 1280 x 800 and written as a PNG file.

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTest>

#include <cstdio>

#include "../common/Screenshot.h"

#include "DatabaseConnection.h"
#include "EvolutionWindow.h"

namespace {

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(50, 50, 54));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(55, 55, 60));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(30, 30, 32));
    dark.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
    return dark;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: labrosa-evolution-screenshots LAB.DB RESULT_ID PATIENT PARAMETER OUTDIR\n");
        return 2;
    }
    DatabaseConnection database;
    if (!database.open(QStringLiteral("Provider=SQLite;Data Source=%1").arg(QString::fromLocal8Bit(argv[1])))) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const qint64 resultId = QByteArray(argv[2]).toLongLong();
    const QString patient = QString::fromLocal8Bit(argv[3]);
    const QString parameter = QString::fromLocal8Bit(argv[4]);
    const QDir out(QString::fromLocal8Bit(argv[5]));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QPalette light = QApplication::style()->standardPalette();
    bool ok = true;
    for (const auto& [palette, name] :
         {std::make_pair(light, "evolutie-light.png"), std::make_pair(darkPalette(), "evolutie-dark.png")}) {
        QApplication::setPalette(palette);
        EvolutionWindow window(&database, resultId, patient);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        if (!window.load()) {
            std::fprintf(stderr, "%s\n", qPrintable(window.errorText()));
            return 1;
        }
        QTableWidget* table = window.table();
        for (int row = 0; row < table->rowCount(); ++row)
            if (table->item(row, 1) && table->item(row, 1)->text().startsWith(parameter))
                table->setCurrentCell(row, 1);
        ok = shootWindow(window, out.filePath(QString::fromLatin1(name))) && ok;
    }
    return ok ? 0 : 1;
}
