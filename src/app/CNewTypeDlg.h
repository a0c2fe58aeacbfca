#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;

// File > New with more than one kind of document: the user picks the kind from a list.
class CNewTypeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNewTypeDlg(const QStringList& names, QWidget* parent = nullptr);

    // The chosen row, or -1.
    int selectedIndex() const;
    QListWidget* list() const { return m_pList; }

private:
    QListWidget* m_pList;
};
