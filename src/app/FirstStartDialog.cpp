#include "FirstStartDialog.h"

#include "MessageBox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Labrosa - dosarul laboratorului";
const char* const kMsgNoFolderGiven = "Scrieti sau alegeti dosarul laboratorului.";
const char* const kMsgNoServerGiven = "Scrieti serverul si numele bazei de date.";
} // namespace

FirstStartDialog::FirstStartDialog(const QString& explanation, const LabChoice& start, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("firstStartDialog"));

    m_explanation = new QLabel(explanation, this);
    m_explanation->setObjectName(QStringLiteral("explanation"));
    m_explanation->setWordWrap(true);
    m_explanation->setTextFormat(Qt::PlainText);

    auto* folderLabel = new QLabel(QStringLiteral("&Dosarul laboratorului:"), this);
    m_folder = new QLineEdit(QDir::toNativeSeparators(start.folder), this);
    m_folder->setObjectName(QStringLiteral("editFolder"));
    m_folder->setMinimumWidth(360);
    folderLabel->setBuddy(m_folder);
    m_browse = new QPushButton(QStringLiteral("&Alege..."), this);
    m_browse->setObjectName(QStringLiteral("buttonBrowse"));
    m_browse->setAutoDefault(false);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);

    m_optionFolder = new QRadioButton(QStringLiteral("Baza de date &lab.db din acest dosar"), this);
    m_optionFolder->setObjectName(QStringLiteral("optionFolder"));
    m_optionServer = new QRadioButton(QStringLiteral("Baza de date pe un &server PostgreSQL:"), this);
    m_optionServer->setObjectName(QStringLiteral("optionServer"));
    m_optionDemo =
        new QRadioButton(QStringLiteral("Laborator de&monstrativ nou, facut in acest dosar (pentru proba)"), this);
    m_optionDemo->setObjectName(QStringLiteral("optionDemo"));
    m_optionEmpty = new QRadioButton(QStringLiteral("Laborator nou, &gol, facut in acest dosar"), this);
    m_optionEmpty->setObjectName(QStringLiteral("optionEmpty"));

    m_serverFields = new QWidget(this);
    auto* serverForm = new QFormLayout(m_serverFields);
    serverForm->setContentsMargins(24, 0, 0, 0);
    m_server = new QLineEdit(start.server.host, m_serverFields);
    m_server->setObjectName(QStringLiteral("editServer"));
    m_port = new QSpinBox(m_serverFields);
    m_port->setObjectName(QStringLiteral("spinPort"));
    m_port->setRange(1, 65535);
    m_port->setValue(start.server.port);
    m_database = new QLineEdit(start.server.database, m_serverFields);
    m_database->setObjectName(QStringLiteral("editDatabase"));
    m_user = new QLineEdit(start.server.user, m_serverFields);
    m_user->setObjectName(QStringLiteral("editUser"));
    m_password = new QLineEdit(start.server.password, m_serverFields);
    m_password->setObjectName(QStringLiteral("editPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    // addRow with a text makes each label the buddy of its field.
    serverForm->addRow(QStringLiteral("Se&rver:"), m_server);
    serverForm->addRow(QStringLiteral("P&ort:"), m_port);
    serverForm->addRow(QStringLiteral("&Baza de date:"), m_database);
    serverForm->addRow(QStringLiteral("&Utilizator:"), m_user);
    serverForm->addRow(QStringLiteral("&Parola:"), m_password);
    auto* passwordNote =
        new QLabel(QStringLiteral("Parola nu se pastreaza in setarile programului; se cere din nou la pornire "
                                  "(sau se ia din fisierul ~/.pgpass)."),
                   m_serverFields);
    passwordNote->setWordWrap(true);
    serverForm->addRow(passwordNote);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Deschide"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Renunta"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FirstStartDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FirstStartDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_explanation);
    layout->addSpacing(6);
    layout->addWidget(folderLabel);
    layout->addLayout(folderRow);
    layout->addWidget(m_optionFolder);
    layout->addWidget(m_optionServer);
    layout->addWidget(m_serverFields);
    layout->addWidget(m_optionDemo);
    layout->addWidget(m_optionEmpty);
    layout->addStretch(1);
    layout->addWidget(buttons);

    // Tab goes down the form as it reads.
    setTabOrder(m_folder, m_browse);
    setTabOrder(m_browse, m_optionFolder);
    setTabOrder(m_optionFolder, m_optionServer);
    setTabOrder(m_optionServer, m_server);
    setTabOrder(m_server, m_port);
    setTabOrder(m_port, m_database);
    setTabOrder(m_database, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_optionDemo);
    setTabOrder(m_optionDemo, m_optionEmpty);
    setTabOrder(m_optionEmpty, buttons);

    connect(m_browse, &QPushButton::clicked, this, &FirstStartDialog::browse);
    for (QRadioButton* option : {m_optionFolder, m_optionServer, m_optionDemo, m_optionEmpty})
        connect(option, &QRadioButton::toggled, this, &FirstStartDialog::updateFields);
    (start.onServer ? m_optionServer : m_optionFolder)->setChecked(true);
    updateFields();

    // A server that refused only for want of a password asks for just that.
    if (start.onServer && !start.server.host.isEmpty() && start.server.password.isEmpty())
        m_password->setFocus();
    else
        m_folder->setFocus();
}

void FirstStartDialog::chooseNewEmptyLaboratory() {
    m_optionEmpty->setChecked(true);
    m_folder->setFocus();
}

void FirstStartDialog::updateFields() {
    m_serverFields->setEnabled(m_optionServer->isChecked());
}

void FirstStartDialog::browse() {
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Dosarul laboratorului"),
                                                             QDir::fromNativeSeparators(m_folder->text().trimmed()));
    if (!chosen.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(chosen));
    m_folder->setFocus();
}

void FirstStartDialog::accept() {
    LabChoice choice;
    const QString typed = QDir::fromNativeSeparators(m_folder->text().trimmed());
    if (typed.isEmpty()) {
        labrosaMessageBox(QLatin1String(kMsgNoFolderGiven), this);
        m_folder->setFocus();
        return;
    }
    // "~" is what people type for their home folder.
    QString folder = typed;
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    choice.folder = QDir::cleanPath(QDir(folder).absolutePath());

    if (m_optionDemo->isChecked() || m_optionEmpty->isChecked()) {
        QString error;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool made = m_optionDemo->isChecked() ? LabFolder::createDemo(choice.folder, &error)
                                                    : LabFolder::createEmpty(choice.folder, &error);
        QApplication::restoreOverrideCursor();
        if (!made) {
            labrosaMessageBox(error, this);
            m_folder->setFocus();
            return;
        }
    }
    choice.onServer = m_optionServer->isChecked();
    if (choice.onServer) {
        choice.server.host = m_server->text().trimmed();
        choice.server.port = m_port->value();
        choice.server.database = m_database->text().trimmed();
        choice.server.user = m_user->text().trimmed();
        choice.server.password = m_password->text();
        if (choice.server.host.isEmpty() || choice.server.database.isEmpty()) {
            labrosaMessageBox(QLatin1String(kMsgNoServerGiven), this);
            (choice.server.host.isEmpty() ? m_server : m_database)->setFocus();
            return;
        }
    }
    const QString problem = LabFolder::problem(choice, LabFolder::FolderOrigin::Given);
    if (!problem.isEmpty()) {
        labrosaMessageBox(problem, this);
        m_folder->setFocus();
        return;
    }
    m_choice = choice;
    QDialog::accept();
}
