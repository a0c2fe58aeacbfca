#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;

// File > New with more than one kind of document: the user picks the kind from a list.
class NewDocumentDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewDocumentDialog(const QStringList& names, QWidget* parent = nullptr);

    // The chosen row, or -1.
    int selectedIndex() const;
    QListWidget* list() const { return m_list; }

private:
    QListWidget* m_list;
};
