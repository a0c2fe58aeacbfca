#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

// Laborator > Restaureaza din copie: the copies of the backup folder with what their manifests
// say, the good ones first to choose; another folder can be read as well. The chosen copy's
// folder is then put in place by the application, which closes and reopens the database.
class RestoreDialog : public QDialog {
    Q_OBJECT

public:
    RestoreDialog(const QString& folder, const QString& databaseFile, QWidget* parent = nullptr);

    // The folder of the copy chosen; empty before a choice.
    QString chosenCopy() const { return m_chosen; }

private:
    void load(const QString& folder);
    void chooseFolder();
    void updateButton();

    QString m_folder;
    QString m_chosen;
    QLabel* m_where;
    QTreeWidget* m_list;
    QPushButton* m_restore;
};
