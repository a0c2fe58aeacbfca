#include "DeltaMarkBar.h"

#include "PatientHistory.h"

DeltaMarkBar::DeltaMarkBar(const QStringList& marks, const QString& problem, QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("deltaMarkBar"));
    setWordWrap(true);
    setContentsMargins(6, 4, 6, 4);
    setTextFormat(Qt::PlainText);
    // A frame in the palette's own colours reads in light and dark themes alike.
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    QStringList lines;
    if (!marks.isEmpty())
        lines << QStringLiteral("Schimbari mari fata de valorile anterioare ale pacientului (%1):")
                     .arg(QLatin1String(kSamePatientRule))
              << marks;
    if (!problem.isEmpty())
        lines << problem;
    const QString text = lines.join(QLatin1Char('\n'));
    setText(text);
    setToolTip(text);
    setAccessibleName(QStringLiteral("Schimbari mari fata de valorile anterioare"));
    setAccessibleDescription(text);
}
