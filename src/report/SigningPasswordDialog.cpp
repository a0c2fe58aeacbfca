#include "SigningPasswordDialog.h"

#include "MessageBox.h"
#include "SigningPasswords.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Parola de semnare";
const char* const kExplain = "Parola de semnare se cere la fiecare validare a unui buletin. Fiecare semnatar si-o "
                             "pune singur; parola actuala se cere cand exista una.";
const char* const kMismatch = "Parola noua si repetarea ei nu sunt la fel; nu s-a schimbat nimic.";
const char* const kTooShort = "Parola noua trebuie sa aiba cel putin %1 caractere; nu s-a schimbat nimic.";
const char* const kNoSignatory = "Alegeti semnatarul.";
const char* const kDone = "Parola de semnare a lui %1 a fost schimbata.";
const char* const kFailed = "Parola de semnare nu a fost schimbata.\n%1";

QLineEdit* passwordEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}
} // namespace

SigningPasswordDialog::SigningPasswordDialog(DatabaseConnection* database, const std::vector<Signatory>& signatories,
                                             const QString& login, QWidget* parent)
    : QDialog(parent), m_database(database), m_signatories(signatories) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("signingPasswordDialog"));
    m_signatory = new QComboBox(this);
    m_signatory->setObjectName(QStringLiteral("comboSignatory"));
    for (const Signatory& s : m_signatories)
        m_signatory->addItem(QStringLiteral("%1 %2 (%3)").arg(s.title, s.fullName, s.login).trimmed(), s.login);
    m_signatory->setCurrentIndex(m_signatory->findData(login));
    m_current = passwordEdit("editCurrent", this);
    m_new = passwordEdit("editNew", this);
    m_repeat = passwordEdit("editRepeat", this);
    auto* explain = new QLabel(QLatin1String(kExplain), this);
    explain->setWordWrap(true);
    auto* form = new QFormLayout;
    // addRow with a text makes the label the buddy of its field, so Alt+letter reaches it.
    form->addRow(QStringLiteral("&Semnatar:"), m_signatory);
    form->addRow(QStringLiteral("Parola &actuala:"), m_current);
    form->addRow(QStringLiteral("Parola &noua:"), m_new);
    form->addRow(QStringLiteral("&Repetati parola noua:"), m_repeat);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Schimba"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Renunta"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SigningPasswordDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SigningPasswordDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explain);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (m_signatory->currentIndex() >= 0)
        m_current->setFocus();
    else
        m_signatory->setFocus();
}

void SigningPasswordDialog::accept() {
    const int index = m_signatory->currentIndex();
    if (index < 0) {
        labrosaMessageBox(QLatin1String(kNoSignatory), this);
        m_signatory->setFocus();
        return;
    }
    if (m_new->text() != m_repeat->text()) {
        labrosaMessageBox(QLatin1String(kMismatch), this);
        m_repeat->clear();
        m_new->setFocus();
        m_new->selectAll();
        return;
    }
    if (!SigningPasswords::acceptableNew(m_new->text())) {
        labrosaMessageBox(QString::fromLatin1(kTooShort).arg(SigningPasswords::kMinLength), this);
        m_new->setFocus();
        m_new->selectAll();
        return;
    }
    const QString login = m_signatories.at(std::size_t(index)).login;
    SigningPasswords passwords(m_database);
    const SigningPasswords::Outcome outcome = passwords.change(login, m_current->text(), m_new->text());
    if (outcome == SigningPasswords::Outcome::accepted) {
        labrosaMessageBox(QString::fromLatin1(kDone).arg(login), this);
        QDialog::accept();
        return;
    }
    // What was typed stays but for the password that was refused.
    labrosaMessageBox(QString::fromLatin1(kFailed).arg(passwords.outcomeText(outcome, login)), this);
    if (outcome == SigningPasswords::Outcome::wrong) {
        m_current->clear();
        m_current->setFocus();
    }
}
