#include "DeltaMarkBar.h"

#include "PatientHistory.h"

namespace {

struct PendingMarks {
    QStringList marks;
    QString problem;
};
PendingMarks g_pending;

} // namespace

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

void DeltaMarkBar::setPending(const QStringList& marks, const QString& problem) {
    g_pending = PendingMarks{marks, problem};
}

DeltaMarkBar* DeltaMarkBar::takePending(QWidget* parent) {
    PendingMarks pending = std::move(g_pending);
    g_pending = PendingMarks();
    if (pending.marks.isEmpty() && pending.problem.isEmpty())
        return nullptr;
    return new DeltaMarkBar(pending.marks, pending.problem, parent);
}
