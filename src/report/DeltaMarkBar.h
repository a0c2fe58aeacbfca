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
};
