#include "HistoryDialog.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vector>

#include "BulletinArchive.h"
#include "BulletinView.h"
#include "CorrectionJournal.h"
#include "CriticalNotifications.h"
#include "MessageBox.h"
#include "ReceivedMessages.h"
#include "SqlDialect.h"

namespace {

const char* const kCaption = "Istoric";
const char* const kSubjectRequest = "Cererea %1";
const char* const kSubjectRecord = "Inregistrarea %1 (fara cerere)";
const char* const kNoJournal = "Baza de date nu are jurnalul corecturilor si arhiva buletinelor.";
const char* const kNoteArchived =
    "Buletin arhivat, doar pentru citire: cererea %1, inregistrarea %2, %6 la %3 de %4 (%5).";
const char* const kMsgBulletinNotRead = "Buletinul arhivat nu a putut fi citit din baza de date. Arhiva nu s-a "
                                        "schimbat; incercati din nou peste putin timp.\n%1";
const char* const kTimeFormat = "dd/MM/yyyy HH:mm:ss";

enum { BulletinIdRole = Qt::UserRole, BulletinNoteRole, MessageTextRole };

QString localTimeText(const QDateTime& utc) {
    return utc.isValid() ? utc.toLocalTime().toString(QLatin1String(kTimeFormat)) : QString();
}

QTreeWidget* makeList(const QStringList& headers, const char* name, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(true);
    return list;
}

} // namespace

HistoryDialog::HistoryDialog(DatabaseConnection* database, DocumentTemplate* bulletinTemplate, ValueText valueText,
                             QWidget* parent)
    : QDialog(parent), m_database(database), m_bulletinTemplate(bulletinTemplate), m_valueText(std::move(valueText)) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));

    m_subject = new QLabel(this);
    m_subject->setObjectName(QStringLiteral("labelSubject"));
    m_subject->setWordWrap(true);

    m_corrections = makeList({QStringLiteral("Data si ora"), QStringLiteral("Utilizator"), QStringLiteral("Calculator"),
                              QStringLiteral("ID inregistrare"), QStringLiteral("Camp"),
                              QStringLiteral("Valoare veche"), QStringLiteral("Valoare noua"), QStringLiteral("Motiv")},
                             "listCorrections", this);
    auto* labelCorrections = new QLabel(QStringLiteral("&Corecturi"), this);
    labelCorrections->setBuddy(m_corrections);

    m_bulletins = makeList({QStringLiteral("Data si ora"), QStringLiteral("Utilizator"), QStringLiteral("Calculator"),
                            QStringLiteral("ID inregistrare"), QStringLiteral("Ziua buletinului"),
                            QStringLiteral("Ce s-a facut cu el")},
                           "listBulletins", this);
    auto* labelBulletins = new QLabel(QStringLiteral("&Buletine"), this);
    labelBulletins->setBuddy(m_bulletins);

    m_notifications =
        makeList({QStringLiteral("Ora anuntului"), QStringLiteral("Anuntat"), QStringLiteral("Telefon/e-mail"),
                  QStringLiteral("Seturi"), QStringLiteral("Inregistrat la"), QStringLiteral("Utilizator"),
                  QStringLiteral("Calculator")},
                 "listNotifications", this);
    m_notificationsLabel = new QLabel(QStringLiteral("&Anuntari ale valorilor critice"), this);
    m_notificationsLabel->setBuddy(m_notifications);
    // Shown only on a database that records them.
    m_notifications->hide();
    m_notificationsLabel->hide();

    m_received = makeList({QStringLiteral("Primit la"), QStringLiteral("Analizor"), QStringLiteral("Protocol"),
                           QStringLiteral("ID mesaj"), QStringLiteral("ID inregistrare")},
                          "listReceivedMessages", this);
    m_receivedLabel = new QLabel(QStringLiteral("&Mesaje primite de la analizoare"), this);
    m_receivedLabel->setBuddy(m_received);
    m_receivedText = new QPlainTextEdit(this);
    m_receivedText->setObjectName(QStringLiteral("textReceivedMessage"));
    m_receivedText->setReadOnly(true);
    m_receivedText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_receivedText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_receivedText->setAccessibleName(QStringLiteral("Mesajul primit"));
    for (QWidget* w : std::initializer_list<QWidget*>{m_received, m_receivedLabel, m_receivedText})
        w->hide();
    connect(m_received, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        m_receivedText->setPlainText(current ? current->data(0, MessageTextRole).toString() : QString());
    });

    m_open = new QPushButton(QStringLiteral("&Deschide buletinul"), this);
    m_open->setObjectName(QStringLiteral("buttonOpenBulletin"));
    m_open->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("&Inchide"), this);
    close->setObjectName(QStringLiteral("buttonClose"));
    // Enter belongs to the bulletin list (it opens the bulletin), not to a default button.
    m_open->setAutoDefault(false);
    close->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_open);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_subject);
    layout->addWidget(labelCorrections);
    layout->addWidget(m_corrections, 2);
    layout->addWidget(labelBulletins);
    layout->addWidget(m_bulletins, 1);
    layout->addWidget(m_notificationsLabel);
    layout->addWidget(m_notifications, 1);
    layout->addWidget(m_receivedLabel);
    layout->addWidget(m_received, 1);
    layout->addWidget(m_receivedText, 1);
    layout->addLayout(buttons);
    resize(900, 520);

    setTabOrder(m_corrections, m_bulletins);
    setTabOrder(m_bulletins, m_open);
    setTabOrder(m_open, close);

    m_bulletins->installEventFilter(this);
    connect(m_bulletins, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { m_open->setEnabled(current != nullptr); });
    connect(m_bulletins, &QTreeWidget::itemDoubleClicked, this, &HistoryDialog::onOpenBulletin);
    connect(m_open, &QPushButton::clicked, this, &HistoryDialog::onOpenBulletin);
    connect(close, &QPushButton::clicked, this, &HistoryDialog::reject);
}

HistoryDialog::~HistoryDialog() = default;

QString HistoryDialog::fieldCaption(const QString& field) {
    static const QHash<QString, QString> captions{{QStringLiteral("requestid"), QStringLiteral("ID")},
                                                  {QStringLiteral("pacientname"), QStringLiteral("Descriere proba")},
                                                  {QStringLiteral("age"), QStringLiteral("Varsta")},
                                                  {QStringLiteral("sex"), QStringLiteral("SEX")},
                                                  {QStringLiteral("comment"), QStringLiteral("Comentarii")},
                                                  {QStringLiteral("profileid"), QStringLiteral("Profil")}};
    return captions.value(field.toLower(), field);
}

bool HistoryDialog::load(const QString& requestId, qint64 recordId) {
    m_error.clear();
    m_corrections->clear();
    m_bulletins->clear();
    // A leading number of 0 ("0", "", "abc") names no request: the record stands alone.
    const bool recordOnly = SqlDialect::canonicalLeadingNumber(requestId) == QLatin1String("0");
    m_subject->setText(recordOnly ? QString::fromLatin1(kSubjectRecord).arg(recordId)
                                  : QString::fromLatin1(kSubjectRequest).arg(requestId));

    CorrectionJournal journal(m_database);
    BulletinArchive archive(m_database);
    const bool journaled = journal.available(), archived = archive.available();
    // A question that failed is not taken for a database without the tables.
    if (!journal.errorText().isEmpty() || !archive.errorText().isEmpty()) {
        m_error = !journal.errorText().isEmpty() ? journal.errorText() : archive.errorText();
        return false;
    }
    if (!journaled && !archived) {
        m_subject->setText(m_subject->text() + QLatin1Char('\n') + QString::fromLatin1(kNoJournal));
        return true;
    }

    const std::vector<JournalEntry> entries =
        recordOnly ? journal.entriesFor({recordId}) : journal.entriesForRequest(requestId, {recordId});
    if (!journal.errorText().isEmpty()) {
        m_error = journal.errorText();
        return false;
    }
    std::vector<ArchivedBulletin> bulletins = archive.listForRequest(requestId);
    if (!archive.errorText().isEmpty()) {
        m_error = archive.errorText();
        return false;
    }

    QList<QTreeWidgetItem*> rows;
    for (const JournalEntry& entry : entries) {
        auto* item = new QTreeWidgetItem(QStringList{
            localTimeText(entry.changedAt), entry.userName, entry.workstation, QString::number(entry.resultId),
            fieldCaption(entry.field),
            m_valueText ? m_valueText(entry.field, entry.oldValue) : entry.oldValue.toString(),
            m_valueText ? m_valueText(entry.field, entry.newValue) : entry.newValue.toString(), entry.reason});
        rows << item;
    }
    m_corrections->addTopLevelItems(rows);

    rows.clear();
    for (const ArchivedBulletin& bulletin : bulletins) {
        if (recordOnly && bulletin.resultId != recordId)
            continue;
        const QString time = localTimeText(bulletin.madeAt);
        // Whether the copy was only looked at or left the program (validated, printed, exported, saved).
        const QString day = QDate::fromString(bulletin.day, Qt::ISODate).toString(QStringLiteral("d/M/yyyy"));
        auto* item = new QTreeWidgetItem(QStringList{time, bulletin.userName, bulletin.workstation,
                                                     QString::number(bulletin.resultId), day,
                                                     BulletinArchive::purposeLabel(bulletin.purpose)});
        item->setData(0, BulletinIdRole, bulletin.id);
        item->setData(0, BulletinNoteRole,
                      QString::fromLatin1(kNoteArchived)
                          .arg(bulletin.requestId, QString::number(bulletin.resultId), time, bulletin.userName,
                               bulletin.workstation, BulletinArchive::purposeLabel(bulletin.purpose)));
        rows << item;
    }
    m_bulletins->addTopLevelItems(rows);

    CriticalNotifications notifications(m_database);
    std::vector<CriticalNotification> told;
    const bool recordsTold = notifications.available();
    if (!notifications.errorText().isEmpty() || (recordsTold && !notifications.forRequest(requestId, &told))) {
        m_error = notifications.errorText();
        return false;
    }
    m_notifications->setVisible(recordsTold);
    m_notificationsLabel->setVisible(recordsTold);
    rows.clear();
    for (const CriticalNotification& one : told) {
        if (recordOnly && !one.resultIds.contains(recordId))
            continue;
        QStringList sets;
        for (qint64 id : one.resultIds)
            sets << QString::number(id);
        rows << new QTreeWidgetItem(QStringList{localTimeText(one.toldAt), one.name, one.contact,
                                                sets.join(QLatin1String(", ")), localTimeText(one.recordedAt),
                                                one.userName, one.workstation});
    }
    m_notifications->addTopLevelItems(rows);

    ReceivedMessages received(m_database);
    std::vector<ReceivedMessage> messages;
    const bool receives = received.available();
    if (!received.errorText().isEmpty() || (receives && !(recordOnly ? received.forRecord(recordId, &messages)
                                                                     : received.forRequest(requestId, &messages)))) {
        m_error = received.errorText();
        return false;
    }
    // Shown on a database that receives from analysers, when a set came from one.
    const bool showReceived = receives && !messages.empty();
    for (QWidget* w : std::initializer_list<QWidget*>{m_received, m_receivedLabel, m_receivedText})
        w->setVisible(showReceived);
    rows.clear();
    for (const ReceivedMessage& m : messages) {
        const QString analyser = m.analyserName.isEmpty()
                                     ? QString::number(m.machineId)
                                     : QStringLiteral("%1 (%2)").arg(m.analyserName).arg(m.machineId);
        auto* item =
            new QTreeWidgetItem(QStringList{QDateTime::fromString(m.receivedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                .toString(QLatin1String(kTimeFormat)),
                                            analyser, m.protocol, m.controlId, QString::number(m.resultId)});
        item->setData(0, MessageTextRole, ReceivedMessages::displayText(m.content));
        rows << item;
    }
    m_received->clear();
    m_received->addTopLevelItems(rows);

    for (QTreeWidget* list : {m_corrections, m_bulletins, m_notifications, m_received}) {
        if (list->topLevelItemCount() > 0)
            list->setCurrentItem(list->topLevelItem(0));
        for (int column = 0; column < list->columnCount() - 1; ++column)
            list->resizeColumnToContents(column);
    }
    m_corrections->setFocus();
    return true;
}

void HistoryDialog::onOpenBulletin() {
    QTreeWidgetItem* item = m_bulletins->currentItem();
    if (!item)
        return;
    BulletinArchive archive(m_database);
    QByteArray html;
    if (!archive.load(item->data(0, BulletinIdRole).toLongLong(), &html)) {
        labrosaMessageBox(QString::fromLatin1(kMsgBulletinNotRead).arg(archive.errorText()), this);
        return;
    }
    if (BulletinView::openArchived(m_bulletinTemplate, html, item->data(0, BulletinNoteRole).toString()))
        accept();
}

bool HistoryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_bulletins && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onOpenBulletin();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
