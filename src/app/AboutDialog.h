#pragma once

#include <QDialog>

// Help > About: the program's icon, name and version.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};
