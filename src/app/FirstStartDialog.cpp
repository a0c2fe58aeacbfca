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

    m_pExplanation = new QLabel(explanation, this);
    m_pExplanation->setObjectName(QStringLiteral("explanation"));
    m_pExplanation->setWordWrap(true);
    m_pExplanation->setTextFormat(Qt::PlainText);

    auto* folderLabel = new QLabel(QStringLiteral("&Dosarul laboratorului:"), this);
    m_pFolder = new QLineEdit(QDir::toNativeSeparators(start.folder), this);
    m_pFolder->setObjectName(QStringLiteral("editFolder"));
    m_pFolder->setMinimumWidth(360);
    folderLabel->setBuddy(m_pFolder);
    m_pBrowse = new QPushButton(QStringLiteral("&Alege..."), this);
    m_pBrowse->setObjectName(QStringLiteral("buttonBrowse"));
    m_pBrowse->setAutoDefault(false);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_pFolder, 1);
    folderRow->addWidget(m_pBrowse);

    m_pOptionFolder = new QRadioButton(QStringLiteral("Baza de date &lab.db din acest dosar"), this);
    m_pOptionFolder->setObjectName(QStringLiteral("optionFolder"));
    m_pOptionServer = new QRadioButton(QStringLiteral("Baza de date pe un &server PostgreSQL:"), this);
    m_pOptionServer->setObjectName(QStringLiteral("optionServer"));
    m_pOptionDemo =
        new QRadioButton(QStringLiteral("Laborator de&monstrativ nou, facut in acest dosar (pentru proba)"), this);
    m_pOptionDemo->setObjectName(QStringLiteral("optionDemo"));

    m_pServerFields = new QWidget(this);
    auto* serverForm = new QFormLayout(m_pServerFields);
    serverForm->setContentsMargins(24, 0, 0, 0);
    m_pServer = new QLineEdit(start.server.host, m_pServerFields);
    m_pServer->setObjectName(QStringLiteral("editServer"));
    m_pPort = new QSpinBox(m_pServerFields);
    m_pPort->setObjectName(QStringLiteral("spinPort"));
    m_pPort->setRange(1, 65535);
    m_pPort->setValue(start.server.port);
    m_pDatabase = new QLineEdit(start.server.database, m_pServerFields);
    m_pDatabase->setObjectName(QStringLiteral("editDatabase"));
    m_pUser = new QLineEdit(start.server.user, m_pServerFields);
    m_pUser->setObjectName(QStringLiteral("editUser"));
    m_pPassword = new QLineEdit(start.server.password, m_pServerFields);
    m_pPassword->setObjectName(QStringLiteral("editPassword"));
    m_pPassword->setEchoMode(QLineEdit::Password);
    // addRow with a text makes each label the buddy of its field.
    serverForm->addRow(QStringLiteral("Se&rver:"), m_pServer);
    serverForm->addRow(QStringLiteral("P&ort:"), m_pPort);
    serverForm->addRow(QStringLiteral("&Baza de date:"), m_pDatabase);
    serverForm->addRow(QStringLiteral("&Utilizator:"), m_pUser);
    serverForm->addRow(QStringLiteral("&Parola:"), m_pPassword);
    auto* passwordNote =
        new QLabel(QStringLiteral("Parola nu se pastreaza in setarile programului; se cere din nou la pornire "
                                  "(sau se ia din fisierul ~/.pgpass)."),
                   m_pServerFields);
    passwordNote->setWordWrap(true);
    serverForm->addRow(passwordNote);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Deschide"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Renunta"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FirstStartDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FirstStartDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pExplanation);
    layout->addSpacing(6);
    layout->addWidget(folderLabel);
    layout->addLayout(folderRow);
    layout->addWidget(m_pOptionFolder);
    layout->addWidget(m_pOptionServer);
    layout->addWidget(m_pServerFields);
    layout->addWidget(m_pOptionDemo);
    layout->addStretch(1);
    layout->addWidget(buttons);

    // Tab goes down the form as it reads.
    setTabOrder(m_pFolder, m_pBrowse);
    setTabOrder(m_pBrowse, m_pOptionFolder);
    setTabOrder(m_pOptionFolder, m_pOptionServer);
    setTabOrder(m_pOptionServer, m_pServer);
    setTabOrder(m_pServer, m_pPort);
    setTabOrder(m_pPort, m_pDatabase);
    setTabOrder(m_pDatabase, m_pUser);
    setTabOrder(m_pUser, m_pPassword);
    setTabOrder(m_pPassword, m_pOptionDemo);
    setTabOrder(m_pOptionDemo, buttons);

    connect(m_pBrowse, &QPushButton::clicked, this, &FirstStartDialog::Browse);
    for (QRadioButton* option : {m_pOptionFolder, m_pOptionServer, m_pOptionDemo})
        connect(option, &QRadioButton::toggled, this, &FirstStartDialog::UpdateFields);
    (start.onServer ? m_pOptionServer : m_pOptionFolder)->setChecked(true);
    UpdateFields();

    // A server that refused only for want of a password asks for just that.
    if (start.onServer && !start.server.host.isEmpty() && start.server.password.isEmpty())
        m_pPassword->setFocus();
    else
        m_pFolder->setFocus();
}

void FirstStartDialog::UpdateFields() {
    m_pServerFields->setEnabled(m_pOptionServer->isChecked());
}

void FirstStartDialog::Browse() {
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Dosarul laboratorului"),
                                                             QDir::fromNativeSeparators(m_pFolder->text().trimmed()));
    if (!chosen.isEmpty())
        m_pFolder->setText(QDir::toNativeSeparators(chosen));
    m_pFolder->setFocus();
}

void FirstStartDialog::accept() {
    LabChoice choice;
    const QString typed = QDir::fromNativeSeparators(m_pFolder->text().trimmed());
    if (typed.isEmpty()) {
        LabrosaMessageBox(QLatin1String(kMsgNoFolderGiven), this);
        m_pFolder->setFocus();
        return;
    }
    // "~" is what people type for their home folder.
    QString folder = typed;
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    choice.folder = QDir::cleanPath(QDir(folder).absolutePath());

    if (m_pOptionDemo->isChecked()) {
        QString error;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool made = LabFolder::CreateDemo(choice.folder, &error);
        QApplication::restoreOverrideCursor();
        if (!made) {
            LabrosaMessageBox(error, this);
            m_pFolder->setFocus();
            return;
        }
    }
    choice.onServer = m_pOptionServer->isChecked();
    if (choice.onServer) {
        choice.server.host = m_pServer->text().trimmed();
        choice.server.port = m_pPort->value();
        choice.server.database = m_pDatabase->text().trimmed();
        choice.server.user = m_pUser->text().trimmed();
        choice.server.password = m_pPassword->text();
        if (choice.server.host.isEmpty() || choice.server.database.isEmpty()) {
            LabrosaMessageBox(QLatin1String(kMsgNoServerGiven), this);
            (choice.server.host.isEmpty() ? m_pServer : m_pDatabase)->setFocus();
            return;
        }
    }
    const QString problem = LabFolder::Problem(choice);
    if (!problem.isEmpty()) {
        LabrosaMessageBox(problem, this);
        m_pFolder->setFocus();
        return;
    }
    m_choice = choice;
    QDialog::accept();
}
