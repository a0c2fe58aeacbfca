#include "SignatoriesDialog.h"

#include "ConnectionString.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "MessageBox.h"
#include "SignatoryList.h"
#include "SignatoryRegister.h"
#include "SigningPasswordDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Semnatarii laboratorului";
const char* const kAddTitle = "Semnatar nou";
const char* const kTableLabel = "&Semnatarii care pot valida buletine:";
const char* const kNoTable = "Baza de date nu are tabela semnatarilor. Adaugati intai jurnalul corecturilor din meniul "
                             "Laborator, Adauga jurnalul corecturilor; apoi semnatarii se pot adauga aici.";
const char* const kUnreadable = "Semnatarii nu au putut fi cititi; nu s-a schimbat nimic.\n%1";
const char* const kReadOnly = "Baza de date nu a trecut verificarea integritatii si programul o foloseste doar pentru "
                              "citire; semnatarii nu se pot schimba.";
// %1 database, %2 server, %3 port, %4 the tool's arguments.
const char* const kOnServer =
    "Pe serverul %2 programul doar citeste semnatarii bazei de date \"%1\": ii schimba administratorul bazei de date "
    "(proprietarul tabelelor ei), de pe un calculator cu Labrosa, cu comanda:\n\n"
    "labrosa-dbtool --signatory %4 \"Provider=PostgreSQL;Server=%2;Port=%3;Database=%1;User ID=<administratorul>\"";
const char* const kIncomplete = "Numele de utilizator (1 - %1 caractere) si numele complet (1 - %2 caractere) sunt "
                                "obligatorii, titlul are cel mult %3 caractere. Semnatarul nu a fost adaugat.";
const char* const kAlreadyActive = "%1 este deja semnatar activ; nu s-a schimbat nimic.";
const char* const kChangedMeanwhile = "%1 a fost schimbat intre timp de pe alt calculator; nu s-a schimbat nimic. "
                                      "Lista arata acum semnatarii asa cum sunt.";
const char* const kFailed = "Semnatarii nu au fost schimbati; baza de date a ramas cum era.\n%1";
const char* const kNoActive = "Laboratorul nu are niciun semnatar activ, asa ca nu are cine sa-si puna o parola de "
                              "semnare.";

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}
} // namespace

SignatoryAddDialog::SignatoryAddDialog(const QString& login, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QLatin1String(kAddTitle));
    setObjectName(QStringLiteral("signatoryAddDialog"));
    m_login = new QLineEdit(login, this);
    m_login->setObjectName(QStringLiteral("editLogin"));
    m_fullName = new QLineEdit(this);
    m_fullName->setObjectName(QStringLiteral("editFullName"));
    m_fullName->setMinimumWidth(320);
    m_title = new QLineEdit(this);
    m_title->setObjectName(QStringLiteral("editTitle"));
    m_title->setPlaceholderText(QStringLiteral("de exemplu Dr. med. vet."));
    auto* form = new QFormLayout;
    // addRow with a text makes the label the buddy of its field, so Alt+letter reaches it.
    form->addRow(QStringLiteral("&Utilizator (login):"), m_login);
    form->addRow(QStringLiteral("&Nume complet:"), m_fullName);
    form->addRow(QStringLiteral("&Titlu:"), m_title);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Adauga"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Renunta"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SignatoryAddDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SignatoryAddDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_fullName->setFocus();
}

QString SignatoryAddDialog::login() const {
    return m_login->text().trimmed();
}

QString SignatoryAddDialog::fullName() const {
    return m_fullName->text().trimmed();
}

QString SignatoryAddDialog::title() const {
    return m_title->text().trimmed();
}

void SignatoryAddDialog::accept() {
    if (!SignatoryRegister::acceptable(login(), fullName(), title())) {
        labrosaMessageBox(QString::fromLatin1(kIncomplete)
                              .arg(SignatoryRegister::kMaxLogin)
                              .arg(SignatoryRegister::kMaxFullName)
                              .arg(SignatoryRegister::kMaxTitle),
                          this);
        // The focus goes to the field to put right.
        if (login().isEmpty() || login().size() > SignatoryRegister::kMaxLogin)
            m_login->setFocus();
        else if (!fullName().isEmpty() && fullName().size() <= SignatoryRegister::kMaxFullName)
            m_title->setFocus();
        else
            m_fullName->setFocus();
        return;
    }
    QDialog::accept();
}

SignatoriesDialog::SignatoriesDialog(DatabaseConnection* database, const QString& connectionString, bool writable,
                                     QWidget* parent)
    : QDialog(parent), m_database(database), m_connection(connectionString), m_writable(writable) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("signatoriesDialog"));
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("signatoryTable"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Utilizator"), QStringLiteral("Nume"), QStringLiteral("Titlu"), QStringLiteral("Activ")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false); // Tab leaves the table for the buttons
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setMinimumWidth(560);
    auto* label = new QLabel(QLatin1String(kTableLabel), this);
    label->setBuddy(m_table);

    m_add = new QPushButton(QStringLiteral("A&dauga..."), this);
    m_add->setObjectName(QStringLiteral("buttonAdd"));
    m_deactivate = new QPushButton(QStringLiteral("D&ezactiveaza"), this);
    m_deactivate->setObjectName(QStringLiteral("buttonDeactivate"));
    m_reactivate = new QPushButton(QStringLiteral("&Reactiveaza"), this);
    m_reactivate->setObjectName(QStringLiteral("buttonReactivate"));
    m_password = new QPushButton(QStringLiteral("&Parola de semnare..."), this);
    m_password->setObjectName(QStringLiteral("buttonPassword"));
    auto* close = new QPushButton(QStringLiteral("&Inchide"), this);
    for (QPushButton* button : {m_add, m_deactivate, m_reactivate, m_password, close})
        button->setAutoDefault(false);
    connect(m_add, &QPushButton::clicked, this, &SignatoriesDialog::onAdd);
    connect(m_deactivate, &QPushButton::clicked, this, [this] { onSetActive(false); });
    connect(m_reactivate, &QPushButton::clicked, this, [this] { onSetActive(true); });
    connect(m_password, &QPushButton::clicked, this, &SignatoriesDialog::onPassword);
    connect(close, &QPushButton::clicked, this, &SignatoriesDialog::accept);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &SignatoriesDialog::updateButtons);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_deactivate);
    buttons->addWidget(m_reactivate);
    buttons->addWidget(m_password);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    reload();
    m_table->setFocus();
}

void SignatoriesDialog::showFor(DatabaseConnection* database, const QString& connectionString, bool writable,
                                QWidget* parent) {
    QString error;
    const int exists = tableExists(database, QStringLiteral("SIGNATORIES"), &error);
    if (exists != 1) {
        labrosaMessageBox(exists == 0 ? QString::fromLatin1(kNoTable) : QString::fromLatin1(kUnreadable).arg(error),
                          parent);
        return;
    }
    SignatoriesDialog dialog(database, connectionString, writable, parent);
    dialog.exec();
}

bool SignatoriesDialog::reload() {
    const QString selected = m_table->currentRow() >= 0 ? m_table->item(m_table->currentRow(), 0)->text() : QString();
    SignatoryList list(m_database);
    const bool read = list.load();
    m_table->setRowCount(0);
    if (!read) {
        // An incomplete list would offer to add someone who is there already.
        labrosaMessageBox(QString::fromLatin1(kUnreadable).arg(list.errorText()), this);
    } else {
        const std::vector<Signatory>& all = list.all();
        m_table->setRowCount(int(all.size()));
        for (int row = 0; row < int(all.size()); ++row) {
            const Signatory& s = all.at(std::size_t(row));
            const QString cells[] = {s.login, s.fullName, s.title,
                                     s.active ? QStringLiteral("da") : QStringLiteral("nu")};
            for (int column = 0; column < 4; ++column)
                m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
            if (s.login == selected)
                m_table->selectRow(row);
        }
        m_table->resizeColumnsToContents();
    }
    if (m_table->currentRow() < 0 && m_table->rowCount() > 0)
        m_table->selectRow(0);
    updateButtons();
    return read;
}

void SignatoriesDialog::updateButtons() {
    const int row = m_table->currentRow();
    const bool active = row >= 0 && m_table->item(row, 3)->text() == QLatin1String("da");
    m_deactivate->setEnabled(row >= 0 && active);
    m_reactivate->setEnabled(row >= 0 && !active);
}

bool SignatoriesDialog::refusedHere(const QString& toolArguments) {
    if (m_database->databaseFile().isEmpty()) {
        // The server as the connection names it, whichever way it was chosen.
        const ConnectionString server = ConnectionString::parse(m_connection);
        const QString port = server.value(QStringLiteral("Port"));
        labrosaMessageBox(QString::fromLatin1(kOnServer).arg(
                              server.value(QStringLiteral("Database")), server.value(QStringLiteral("Server")),
                              port.isEmpty() ? QStringLiteral("5432") : port, toolArguments),
                          this);
        return true;
    }
    if (!m_writable) {
        labrosaMessageBox(QLatin1String(kReadOnly), this);
        return true;
    }
    return false;
}

void SignatoriesDialog::onAdd() {
    if (refusedHere(QStringLiteral("add LOGIN \"NUME\" \"TITLU\"")))
        return;
    SignatoryAddDialog ask(CorrectionJournal::currentUser(), this);
    if (ask.exec() != QDialog::Accepted)
        return;
    SignatoryRegister signatories(m_database);
    const SignatoryRegister::Outcome outcome = signatories.add(ask.login(), ask.fullName(), ask.title());
    if (outcome == SignatoryRegister::Outcome::alreadyActive)
        labrosaMessageBox(QString::fromLatin1(kAlreadyActive).arg(ask.login()), this);
    else if (outcome != SignatoryRegister::Outcome::done)
        labrosaMessageBox(QString::fromLatin1(kFailed).arg(signatories.errorText()), this);
    reload();
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (m_table->item(row, 0)->text() == ask.login())
            m_table->selectRow(row);
}

void SignatoriesDialog::onSetActive(bool active) {
    const int row = m_table->currentRow();
    if (row < 0)
        return;
    const QString login = m_table->item(row, 0)->text();
    const QString arguments =
        active ? QStringLiteral("add %1 %2 %3")
                     .arg(login, quoted(m_table->item(row, 1)->text()), quoted(m_table->item(row, 2)->text()))
               : QStringLiteral("remove %1").arg(login);
    if (refusedHere(arguments))
        return;
    SignatoryRegister signatories(m_database);
    const SignatoryRegister::Outcome outcome = active ? signatories.reactivate(login) : signatories.deactivate(login);
    if (outcome == SignatoryRegister::Outcome::failed)
        labrosaMessageBox(QString::fromLatin1(kFailed).arg(signatories.errorText()), this);
    else if (outcome != SignatoryRegister::Outcome::done)
        labrosaMessageBox(QString::fromLatin1(kChangedMeanwhile).arg(login), this);
    reload();
}

void SignatoriesDialog::onPassword() {
    // On a server the program's role sets a password through the server's function, which checks
    // the current one; only a file that failed its integrity check is left as it is.
    if (!m_database->databaseFile().isEmpty() && !m_writable) {
        labrosaMessageBox(QLatin1String(kReadOnly), this);
        return;
    }
    SignatoryList list(m_database);
    if (!list.load()) {
        labrosaMessageBox(QString::fromLatin1(kUnreadable).arg(list.errorText()), this);
        return;
    }
    std::vector<Signatory> active;
    for (const Signatory& s : list.all())
        if (s.active)
            active.push_back(s);
    if (active.empty()) {
        labrosaMessageBox(QLatin1String(kNoActive), this);
        return;
    }
    // The selected row's signatory first, else the user's own.
    const int row = m_table->currentRow();
    const QString login = row >= 0 ? m_table->item(row, 0)->text() : CorrectionJournal::currentUser();
    SigningPasswordDialog dialog(m_database, active, login, this);
    dialog.exec();
}
