#pragma once

#include <QDialog>
#include <QString>

class DatabaseConnection;
class QLineEdit;
class QPushButton;
class QTableWidget;

// A new signatory's login (prefilled with the current user), full name and title. OK is refused
// with a message while a text is missing or too long for the table. Object names: "editLogin",
// "editFullName", "editTitle".
class SignatoryAddDialog : public QDialog {
    Q_OBJECT
public:
    explicit SignatoryAddDialog(const QString& login, QWidget* parent = nullptr);

    QString login() const;
    QString fullName() const;
    QString title() const;
    void accept() override;

private:
    QLineEdit* m_login;
    QLineEdit* m_fullName;
    QLineEdit* m_title;
};

// The laboratory's signatories: who may validate a bulletin. A table (login, name, title, active)
// with "Adauga...", "Dezactiveaza" and "Reactiveaza" for the selected row; rows are never deleted.
// On a server the program's role only reads the table: the buttons name the command the
// administrator runs instead. "Parola de semnare..." lets a signatory set their own signing
// password, on either database. Object names: "signatoryTable", "buttonAdd", "buttonDeactivate",
// "buttonReactivate", "buttonPassword".
class SignatoriesDialog : public QDialog {
    Q_OBJECT
public:
    // writable false: the database may not be written (its integrity check failed).
    SignatoriesDialog(DatabaseConnection* database, const QString& connectionString, bool writable,
                      QWidget* parent = nullptr);

    // The dialog over the open database, or a message when the database has no signatories'
    // table or it cannot be read.
    static void showFor(DatabaseConnection* database, const QString& connectionString, bool writable, QWidget* parent);

private:
    bool reload();
    void updateButtons();
    void onAdd();
    void onSetActive(bool active);
    void onPassword();
    // True (after a message) when the program must not change the table itself.
    bool refusedHere(const QString& toolArguments);

    DatabaseConnection* m_database;
    QString m_connection;
    bool m_writable;
    QTableWidget* m_table = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_deactivate = nullptr;
    QPushButton* m_reactivate = nullptr;
    QPushButton* m_password = nullptr;
};
