#include "AmendmentReasonDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "Motivul corecturii";
const char* const kAsk = "Cererea %1 are deja un buletin eliberat. Scrieti motivul corecturii; el se pastreaza in "
                         "jurnal si apare pe buletinul corectat. Fara motiv nu se corecteaza nimic.";

std::function<QString(AmendmentReasonDialog&)>& answerHook() {
    static std::function<QString(AmendmentReasonDialog&)> hook;
    return hook;
}

} // namespace

AmendmentReasonDialog::AmendmentReasonDialog(const QString& requestId, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AmendmentReasonDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));
    auto* label = new QLabel(QString::fromLatin1(kAsk).arg(requestId), this);
    label->setObjectName(QStringLiteral("labelReason"));
    label->setWordWrap(true);
    m_reason = new QLineEdit(this);
    m_reason->setObjectName(QStringLiteral("editReason"));
    m_reason->setMaxLength(kMaxReasonLength);
    label->setBuddy(m_reason);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    connect(m_reason, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_reason);
    layout->addWidget(buttons);
    resize(460, sizeHint().height());
}

QString AmendmentReasonDialog::reason() const {
    return m_reason->text().trimmed();
}

void AmendmentReasonDialog::setAnswerHook(std::function<QString(AmendmentReasonDialog&)> hook) {
    answerHook() = std::move(hook);
}

bool AmendmentReasonDialog::ask(const QString& requestId, QWidget* parent, QString* reason) {
    AmendmentReasonDialog dialog(requestId, parent);
    if (answerHook()) {
        const QString answer = answerHook()(dialog);
        if (answer.isNull() || answer.trimmed().isEmpty())
            return false;
        *reason = answer.trimmed().left(kMaxReasonLength);
        return true;
    }
    if (dialog.exec() != QDialog::Accepted || dialog.reason().isEmpty())
        return false;
    *reason = dialog.reason();
    return true;
}
