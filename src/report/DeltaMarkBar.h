#pragma once

#include <QLabel>
#include <QStringList>

// The line above a bulletin page naming its values whose change from the patient's previous
// set is beyond the parameter's delta limit. The page itself is never changed: it is printed
// and archived as written.
class DeltaMarkBar : public QLabel {
    Q_OBJECT
public:
    // marks: one text per value (the parameter, the value and why); problem: why the values
    // could not be checked, empty when they were.
    DeltaMarkBar(const QStringList& marks, const QString& problem, QWidget* parent = nullptr);

    // What the last bulletin made leaves for the window about to show it; taken once.
    static void setPending(const QStringList& marks, const QString& problem);
    // A bar for the pending marks, or null when there is nothing to say.
    static DeltaMarkBar* takePending(QWidget* parent);
};
