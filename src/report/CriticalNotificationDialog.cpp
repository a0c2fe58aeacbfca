#include "CriticalNotificationDialog.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CriticalNotifications.h"

namespace {

const char* const kCaption = "Anuntat: nume, telefon/e-mail, ora";
const char* const kAsk = "Cererea %1 are valori critice (!!):\n%2\nScrieti cui le-ati anuntat si cand; anuntarea se "
                         "pastreaza si nu mai poate fi schimbata.";
const char* const kMsgCancelled = "Nu s-a inregistrat nimic: cererea %1 ramane cu valori critice neanuntate.";
const char* const kMsgNotRecorded =
    "Anuntarea valorilor critice ale cererii %1 nu a putut fi inregistrata; cererea ramane cu valori critice "
    "neanuntate. Incercati din nou la urmatoarea deschidere a buletinului.\n%2";

std::function<bool(CriticalNotificationDialog&)>& answerHook() {
    static std::function<bool(CriticalNotificationDialog&)> hook;
    return hook;
}

} // namespace

CriticalNotificationDialog::CriticalNotificationDialog(const QString& requestId,
                                                       const std::vector<CriticalValue>& critical, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CriticalNotificationDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));
    QStringList values;
    for (const CriticalValue& value : critical)
        values << CriticalLimits::describe(value);
    auto* label = new QLabel(QString::fromLatin1(kAsk).arg(requestId, values.join(QLatin1Char('\n'))), this);
    label->setObjectName(QStringLiteral("labelCritical"));
    label->setWordWrap(true);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("editToldName"));
    m_name->setMaxLength(kMaxTextLength);
    m_contact = new QLineEdit(this);
    m_contact->setObjectName(QStringLiteral("editToldContact"));
    m_contact->setMaxLength(kMaxTextLength);
    m_time = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    m_time->setObjectName(QStringLiteral("editToldAt"));
    m_time->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm"));
    m_time->setCalendarPopup(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Nume:"), m_name);
    form->addRow(QStringLiteral("&Telefon/e-mail:"), m_contact);
    form->addRow(QStringLiteral("&Ora:"), m_time);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    auto update = [this] { m_ok->setEnabled(!name().isEmpty() && !contact().isEmpty()); };
    connect(m_name, &QLineEdit::textChanged, this, update);
    connect(m_contact, &QLineEdit::textChanged, this, update);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(480, sizeHint().height());
}

QString CriticalNotificationDialog::name() const {
    return m_name->text().trimmed();
}

QString CriticalNotificationDialog::contact() const {
    return m_contact->text().trimmed();
}

QDateTime CriticalNotificationDialog::toldAt() const {
    return m_time->dateTime().toUTC();
}

void CriticalNotificationDialog::setAnswerHook(std::function<bool(CriticalNotificationDialog&)> hook) {
    answerHook() = std::move(hook);
}

QStringList CriticalNotificationDialog::askAndRecord(DatabaseConnection* database, const QString& requestId,
                                                     const QList<qint64>& resultIds,
                                                     const std::vector<CriticalValue>& critical, QWidget* parent) {
    CriticalNotificationDialog dialog(requestId, critical, parent);
    const bool accepted = answerHook() ? answerHook()(dialog) : dialog.exec() == QDialog::Accepted;
    if (!accepted || dialog.name().isEmpty() || dialog.contact().isEmpty())
        return {QString::fromLatin1(kMsgCancelled).arg(requestId)};
    CriticalNotification told;
    told.requestId = requestId;
    told.resultIds = resultIds;
    told.name = dialog.name();
    told.contact = dialog.contact();
    told.toldAt = dialog.toldAt();
    told.values = critical;
    CriticalNotifications notifications(database);
    if (!notifications.record(told))
        return {QString::fromLatin1(kMsgNotRecorded).arg(requestId, notifications.errorText())};
    return {};
}
