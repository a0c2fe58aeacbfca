#include "HistoryDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vector>

#include "BulletinArchive.h"
#include "CTervanaView.h"
#include "CorrectionJournal.h"
#include "MessageBox.h"
#include "SqlDialect.h"

namespace {

const char* const kCaption = "Istoric";
const char* const kSubjectRequest = "Cererea %1";
const char* const kSubjectRecord = "Inregistrarea %1 (fara cerere)";
const char* const kNoJournal = "Baza de date nu are jurnalul corecturilor si arhiva buletinelor.";
const char* const kNoteArchived =
    "Buletin arhivat, doar pentru citire: cererea %1, inregistrarea %2, facut la %3 de %4 (%5).";
const char* const kMsgBulletinNotRead = "Buletinul arhivat nu a putut fi citit din baza de date.\n%1";
const char* const kTimeFormat = "dd/MM/yyyy HH:mm:ss";

enum { BulletinIdRole = Qt::UserRole, BulletinNoteRole };

QString LocalTimeText(const QDateTime& utc) {
    return utc.isValid() ? utc.toLocalTime().toString(QLatin1String(kTimeFormat)) : QString();
}

QTreeWidget* MakeList(const QStringList& headers, const char* name, QWidget* parent) {
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

HistoryDialog::HistoryDialog(CAdoDatabase* database, CDocTemplate* bulletinTemplate, ValueText valueText,
                             QWidget* parent)
    : QDialog(parent), m_pDatabase(database), m_pBulletinTemplate(bulletinTemplate), m_valueText(std::move(valueText)) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QString::fromLatin1(kCaption));

    m_pSubject = new QLabel(this);
    m_pSubject->setObjectName(QStringLiteral("labelSubject"));
    m_pSubject->setWordWrap(true);

    m_pCorrections = MakeList({QStringLiteral("Data si ora"), QStringLiteral("Utilizator"),
                               QStringLiteral("Calculator"), QStringLiteral("ID inregistrare"), QStringLiteral("Camp"),
                               QStringLiteral("Valoare veche"), QStringLiteral("Valoare noua")},
                              "listCorrections", this);
    auto* labelCorrections = new QLabel(QStringLiteral("&Corecturi"), this);
    labelCorrections->setBuddy(m_pCorrections);

    m_pBulletins = MakeList({QStringLiteral("Data si ora"), QStringLiteral("Utilizator"), QStringLiteral("Calculator"),
                             QStringLiteral("ID inregistrare")},
                            "listBulletins", this);
    auto* labelBulletins = new QLabel(QStringLiteral("&Buletine"), this);
    labelBulletins->setBuddy(m_pBulletins);

    m_pOpen = new QPushButton(QStringLiteral("&Deschide buletinul"), this);
    m_pOpen->setObjectName(QStringLiteral("buttonOpenBulletin"));
    m_pOpen->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("&Inchide"), this);
    close->setObjectName(QStringLiteral("buttonClose"));
    // Enter belongs to the bulletin list (it opens the bulletin), not to a default button.
    m_pOpen->setAutoDefault(false);
    close->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pOpen);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pSubject);
    layout->addWidget(labelCorrections);
    layout->addWidget(m_pCorrections, 2);
    layout->addWidget(labelBulletins);
    layout->addWidget(m_pBulletins, 1);
    layout->addLayout(buttons);
    resize(900, 520);

    setTabOrder(m_pCorrections, m_pBulletins);
    setTabOrder(m_pBulletins, m_pOpen);
    setTabOrder(m_pOpen, close);

    m_pBulletins->installEventFilter(this);
    connect(m_pBulletins, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { m_pOpen->setEnabled(current != nullptr); });
    connect(m_pBulletins, &QTreeWidget::itemDoubleClicked, this, &HistoryDialog::OnOpenBulletin);
    connect(m_pOpen, &QPushButton::clicked, this, &HistoryDialog::OnOpenBulletin);
    connect(close, &QPushButton::clicked, this, &HistoryDialog::reject);
}

HistoryDialog::~HistoryDialog() = default;

QString HistoryDialog::FieldCaption(const QString& field) {
    static const QHash<QString, QString> captions{{QStringLiteral("requestid"), QStringLiteral("ID")},
                                                  {QStringLiteral("pacientname"), QStringLiteral("Descriere proba")},
                                                  {QStringLiteral("age"), QStringLiteral("Varsta")},
                                                  {QStringLiteral("sex"), QStringLiteral("SEX")},
                                                  {QStringLiteral("comment"), QStringLiteral("Comentarii")},
                                                  {QStringLiteral("profileid"), QStringLiteral("Profil")}};
    return captions.value(field.toLower(), field);
}

bool HistoryDialog::Load(const QString& requestId, qint64 recordId) {
    m_error.clear();
    m_pCorrections->clear();
    m_pBulletins->clear();
    // A leading number of 0 ("0", "", "abc") names no request: the record stands alone.
    const bool recordOnly = SqlDialect::canonicalLeadingNumber(requestId) == QLatin1String("0");
    m_pSubject->setText(recordOnly ? QString::fromLatin1(kSubjectRecord).arg(recordId)
                                   : QString::fromLatin1(kSubjectRequest).arg(requestId));

    CorrectionJournal journal(m_pDatabase);
    BulletinArchive archive(m_pDatabase);
    const bool journaled = journal.Available(), archived = archive.Available();
    // A question that failed is not taken for a database without the tables.
    if (!journal.ErrorText().isEmpty() || !archive.ErrorText().isEmpty()) {
        m_error = !journal.ErrorText().isEmpty() ? journal.ErrorText() : archive.ErrorText();
        return false;
    }
    if (!journaled && !archived) {
        m_pSubject->setText(m_pSubject->text() + QLatin1Char('\n') + QString::fromLatin1(kNoJournal));
        return true;
    }

    const std::vector<JournalEntry> entries =
        recordOnly ? journal.EntriesFor({recordId}) : journal.EntriesForRequest(requestId, {recordId});
    if (!journal.ErrorText().isEmpty()) {
        m_error = journal.ErrorText();
        return false;
    }
    std::vector<ArchivedBulletin> bulletins = archive.ListForRequest(requestId);
    if (!archive.ErrorText().isEmpty()) {
        m_error = archive.ErrorText();
        return false;
    }

    QList<QTreeWidgetItem*> rows;
    for (const JournalEntry& entry : entries) {
        auto* item = new QTreeWidgetItem(
            QStringList{LocalTimeText(entry.changedAt), entry.userName, entry.workstation,
                        QString::number(entry.resultId), FieldCaption(entry.field),
                        m_valueText ? m_valueText(entry.field, entry.oldValue) : entry.oldValue.toString(),
                        m_valueText ? m_valueText(entry.field, entry.newValue) : entry.newValue.toString()});
        rows << item;
    }
    m_pCorrections->addTopLevelItems(rows);

    rows.clear();
    for (const ArchivedBulletin& bulletin : bulletins) {
        if (recordOnly && bulletin.resultId != recordId)
            continue;
        const QString time = LocalTimeText(bulletin.madeAt);
        auto* item = new QTreeWidgetItem(
            QStringList{time, bulletin.userName, bulletin.workstation, QString::number(bulletin.resultId)});
        item->setData(0, BulletinIdRole, bulletin.id);
        item->setData(0, BulletinNoteRole,
                      QString::fromLatin1(kNoteArchived)
                          .arg(bulletin.requestId, QString::number(bulletin.resultId), time, bulletin.userName,
                               bulletin.workstation));
        rows << item;
    }
    m_pBulletins->addTopLevelItems(rows);

    for (QTreeWidget* list : {m_pCorrections, m_pBulletins}) {
        if (list->topLevelItemCount() > 0)
            list->setCurrentItem(list->topLevelItem(0));
        for (int column = 0; column < list->columnCount() - 1; ++column)
            list->resizeColumnToContents(column);
    }
    m_pCorrections->setFocus();
    return true;
}

void HistoryDialog::OnOpenBulletin() {
    QTreeWidgetItem* item = m_pBulletins->currentItem();
    if (!item)
        return;
    BulletinArchive archive(m_pDatabase);
    QByteArray html;
    if (!archive.Load(item->data(0, BulletinIdRole).toLongLong(), &html)) {
        LabrosaMessageBox(QString::fromLatin1(kMsgBulletinNotRead).arg(archive.ErrorText()), this);
        return;
    }
    if (CTervanaView::OpenArchived(m_pBulletinTemplate, html, item->data(0, BulletinNoteRole).toString()))
        accept();
}

bool HistoryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pBulletins && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnOpenBulletin();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
