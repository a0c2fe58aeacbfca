#include "BulletinValidationCommand.h"

#include "CorrectionJournal.h"
#include "SharedState.h"
#include "SignatoryList.h"

#include "SigningPasswords.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

const char* const kCaption = "Validare buletin";
const char* const kAskText = "%1.\nSe valideaza buletinul de mai jos, asa cum va fi eliberat; dupa validare el "
                             "nu mai este preliminar. O corectura ulterioara cere o noua validare. Randul \"Validat "
                             "de\" se adauga la semnare, cu ora semnarii.";
const char* const kMsgSignatoriesUnread = "Semnatarii laboratorului nu au putut fi cititi, asa ca nu s-a validat "
                                          "nimic.\n%1";
const char* const kMsgNoSignatory = "Laboratorul nu are semnatari, asa ca buletinele nu se valideaza. Semnatarii se "
                                    "adauga cu labrosa-dbtool --signatory add.";
const char* const kMsgNoneActive = "Buletinul nu a fost validat: laboratorul nu are niciun semnatar activ. Un "
                                   "semnatar se reactiveaza cu labrosa-dbtool --signatory add.";
const char* const kMsgChooseSignatory = "Alegeti semnatarul.";
const char* const kMsgTypePassword = "Scrieti parola de semnare a semnatarului.";

std::function<bool(ValidationConfirmDialog&)>& answerHook() {
    static std::function<bool(ValidationConfirmDialog&)> hook;
    return hook;
}

} // namespace

ValidationConfirmDialog::ValidationConfirmDialog(const QString& summary, const std::vector<Signatory>& signatories,
                                                 const QString& login, const QByteArray& bulletin,
                                                 DatabaseConnection* database, QWidget* parent)
    : QDialog(parent), m_signatories(signatories), m_database(database) {
    setObjectName(QStringLiteral("ValidationConfirmDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));
    auto* what = new QLabel(QString::fromLatin1(kAskText).arg(summary), this);
    what->setObjectName(QStringLiteral("labelValidated"));
    what->setWordWrap(true);

    m_signatory = new QComboBox(this);
    m_signatory->setObjectName(QStringLiteral("comboSignatory"));
    for (const Signatory& s : m_signatories)
        m_signatory->addItem(QStringLiteral("%1 %2 (%3)").arg(s.title, s.fullName, s.login).trimmed(), s.login);
    // Nobody is chosen for the signer unless the login is a signatory's.
    m_signatory->setCurrentIndex(m_signatory->findData(login));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("editPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_refusal = new QLabel(this);
    m_refusal->setObjectName(QStringLiteral("labelPasswordError"));
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet(QStringLiteral("color: #a00000"));
    m_refusal->hide();
    auto* form = new QFormLayout;
    // addRow with a text makes the label the buddy of its field, so Alt+letter reaches it.
    form->addRow(QStringLiteral("&Semnatar:"), m_signatory);
    form->addRow(QStringLiteral("&Parola de semnare:"), m_password);

    // The page as it will be released, drawn as the bulletin window draws it: its style sheet
    // and images come from buletin_files/ in the current directory.
    auto* preview = new QWebEngineView(this);
    preview->setObjectName(QStringLiteral("validationPreview"));
    preview->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    preview->page()->setContent(bulletin, QStringLiteral("text/html;charset=UTF-8"),
                                QUrl::fromLocalFile(QDir::current().absolutePath() + QLatin1Char('/')));
    preview->setMinimumHeight(360);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* validate = buttons->addButton(QStringLiteral("&Valideaza"), QDialogButtonBox::AcceptRole);
    validate->setObjectName(QStringLiteral("buttonValidate"));
    buttons->addButton(QStringLiteral("Renunta"), QDialogButtonBox::RejectRole);
    // Enter in the password field validates; elsewhere nothing is validated by a stray Enter.
    validate->setAutoDefault(false);
    connect(m_password, &QLineEdit::returnPressed, this, &ValidationConfirmDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &ValidationConfirmDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(what);
    layout->addLayout(form);
    layout->addWidget(m_refusal);
    layout->addWidget(preview, 1);
    layout->addWidget(buttons);
    resize(800, 720);
    if (m_signatory->currentIndex() >= 0)
        m_password->setFocus();
    else
        m_signatory->setFocus();
}

void ValidationConfirmDialog::setAnswerHook(std::function<bool(ValidationConfirmDialog&)> hook) {
    answerHook() = std::move(hook);
}

bool ValidationConfirmDialog::ask() {
    if (answerHook())
        return answerHook()(*this) && passwordAccepted();
    return exec() == QDialog::Accepted;
}

bool ValidationConfirmDialog::setSignatory(const QString& login) {
    const int index = m_signatory->findData(login);
    m_signatory->setCurrentIndex(index);
    return index >= 0;
}

void ValidationConfirmDialog::setPassword(const QString& password) {
    m_password->setText(password);
}

const Signatory* ValidationConfirmDialog::signatory() const {
    const int index = m_signatory->currentIndex();
    return index >= 0 && index < int(m_signatories.size()) ? &m_signatories.at(std::size_t(index)) : nullptr;
}

QString ValidationConfirmDialog::password() const {
    return m_password->text();
}

QString ValidationConfirmDialog::refusal() const {
    return m_refusal->isHidden() ? QString() : m_refusal->text();
}

bool ValidationConfirmDialog::passwordAccepted() {
    auto refuse = [this](const QString& text, QWidget* focus) {
        m_refusal->setText(text);
        m_refusal->show();
        focus->setFocus();
        return false;
    };
    const Signatory* chosen = signatory();
    if (!chosen)
        return refuse(QString::fromLatin1(kMsgChooseSignatory), m_signatory);
    if (m_password->text().isEmpty())
        return refuse(QString::fromLatin1(kMsgTypePassword), m_password);
    SigningPasswords passwords(m_database);
    const SigningPasswords::Outcome outcome = passwords.check(chosen->login, m_password->text());
    if (outcome == SigningPasswords::Outcome::accepted) {
        m_refusal->hide();
        return true;
    }
    m_password->clear();
    return refuse(passwords.outcomeText(outcome, chosen->login), m_password);
}

void ValidationConfirmDialog::accept() {
    if (passwordAccepted())
        QDialog::accept();
}

BulletinBuildResult validateBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                     const QString& requestId, const QString& day, QWidget* parent) {
    BulletinBuildResult result;
    SignatoryList signatories(sharedState.m_database);
    if (!signatories.load()) {
        result.messages << QString::fromLatin1(kMsgSignatoriesUnread).arg(signatories.errorText());
        return result;
    }
    if (!signatories.any()) {
        result.messages << QString::fromLatin1(kMsgNoSignatory);
        return result;
    }
    std::vector<Signatory> active;
    for (const Signatory& s : signatories.all())
        if (s.active)
            active.push_back(s);
    if (active.empty()) {
        result.messages << QString::fromLatin1(kMsgNoneActive);
        return result;
    }
    // The signatory chosen in the dialog signs; the page carries their name.
    Signatory chosen;
    BulletinRelease release;
    release.signatory = &chosen;
    DatabaseConnection* database = sharedState.m_database;
    release.confirm = [&chosen, &active, database, parent](const QByteArray& bulletin, const QString& summary,
                                                           QString* password) {
        ValidationConfirmDialog dialog(summary, active, CorrectionJournal::currentUser(), bulletin, database, parent);
        if (!dialog.ask() || !dialog.signatory())
            return false;
        chosen = *dialog.signatory();
        *password = dialog.password();
        return true;
    };
    return buildBulletin(recordset, sharedState, recordId, requestId, day, &release);
}
