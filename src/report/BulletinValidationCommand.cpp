#include "BulletinValidationCommand.h"

#include "CorrectionJournal.h"
#include "SharedState.h"
#include "SignatoryList.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "Validare buletin";
const char* const kAskText = "%1.\nSe valideaza buletinul de mai jos, asa cum va fi eliberat; dupa validare el "
                             "nu mai este preliminar. O corectura ulterioara cere o noua validare.";
const char* const kSignedBy = "Validat de: %1 %2 (%3)";
const char* const kMsgSignatoriesUnread = "Semnatarii laboratorului nu au putut fi cititi, asa ca nu s-a validat "
                                          "nimic.\n%1";
const char* const kMsgNoSignatory = "Laboratorul nu are semnatari, asa ca buletinele nu se valideaza. Semnatarii se "
                                    "adauga cu labrosa-dbtool --signatory add.";
const char* const kMsgNotSignatory = "Buletinul nu a fost validat: doar un semnatar activ al laboratorului poate "
                                     "valida, iar utilizatorul %1 nu este. Pot valida: %2.";
const char* const kNobodyActive = "nimeni (niciun semnatar activ)";

PreliminaryBulletin& pendingPreliminary() {
    static PreliminaryBulletin pending;
    return pending;
}

std::function<bool(ValidationConfirmDialog&)>& answerHook() {
    static std::function<bool(ValidationConfirmDialog&)> hook;
    return hook;
}

} // namespace

ValidationConfirmDialog::ValidationConfirmDialog(const QString& summary, const Signatory& signatory,
                                                 const QByteArray& bulletin, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ValidationConfirmDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));
    auto* what = new QLabel(QString::fromLatin1(kAskText).arg(summary), this);
    what->setObjectName(QStringLiteral("labelValidated"));
    what->setWordWrap(true);
    auto* who =
        new QLabel(QString::fromLatin1(kSignedBy).arg(signatory.title, signatory.fullName, signatory.login), this);
    who->setObjectName(QStringLiteral("labelSignatory"));
    // The page as it will be released; its style sheet and images are not needed to read it.
    auto* preview = new QTextBrowser(this);
    preview->setObjectName(QStringLiteral("validationPreview"));
    preview->setOpenLinks(false);
    preview->setHtml(QString::fromUtf8(bulletin));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* validate = buttons->addButton(QStringLiteral("&Valideaza"), QDialogButtonBox::AcceptRole);
    validate->setObjectName(QStringLiteral("buttonValidate"));
    buttons->addButton(QStringLiteral("Renunta"), QDialogButtonBox::RejectRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(what);
    layout->addWidget(who);
    layout->addWidget(preview, 1);
    layout->addWidget(buttons);
    resize(760, 640);
}

void ValidationConfirmDialog::setAnswerHook(std::function<bool(ValidationConfirmDialog&)> hook) {
    answerHook() = std::move(hook);
}

bool ValidationConfirmDialog::ask() {
    if (answerHook())
        return answerHook()(*this);
    return exec() == QDialog::Accepted;
}

void setPendingPreliminaryBulletin(const PreliminaryBulletin& bulletin) {
    pendingPreliminary() = bulletin;
}

PreliminaryBulletin takePendingPreliminaryBulletin() {
    PreliminaryBulletin taken = pendingPreliminary();
    pendingPreliminary() = PreliminaryBulletin();
    return taken;
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
    const QString user = CorrectionJournal::currentUser();
    const Signatory* signatory = signatories.activeByLogin(user);
    if (!signatory) {
        const QStringList names = signatories.activeNames();
        result.messages << QString::fromLatin1(kMsgNotSignatory)
                               .arg(user, names.isEmpty() ? QString::fromLatin1(kNobodyActive)
                                                          : names.join(QLatin1String(", ")));
        return result;
    }
    BulletinRelease release;
    release.signatory = signatory;
    release.confirm = [signatory, parent](const QByteArray& bulletin, const QString& summary, QString*) {
        ValidationConfirmDialog dialog(summary, *signatory, bulletin, parent);
        return dialog.ask();
    };
    return buildBulletin(recordset, sharedState, recordId, requestId, day, &release);
}
