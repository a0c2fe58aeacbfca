#include "Sorvind.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>

#include "BulletinBuilder.h"
#include "CAdoDatabase.h"
#include "CComboListCtrl.h"
#include "CorrectionJournal.h"
#include "HistoryDialog.h"
#include "MessageBox.h"
#include "SearchIndexes.h"
#include "SqlDialect.h"
#include "StructuraInterna.h"
#include "TextUtils.h"
#include "WidestTextTracker.h"
#include "dlgComment.h"

namespace {

const char* const kSelectProfiles = "SELECT id, profileName FROM VET_PROFILES ORDER BY profileName";
// %1: the transfer day (the list shows the day alone).
const char* const kSelectResults =
    "SELECT ID, RequestID, PacientName, %1 AS TransDate, Age, SEX, comment, profileID FROM RESULTS WHERE (1=1)";
const char* const kOrderResults = " ORDER BY RESULTS.TransDate, RESULTS.RequestID";
const char* const kSelectComment = "SELECT comment FROM RESULTS WHERE ID = ?";
// Which sets a correction reaches. The comment of a request is written only while the
// clicked record still belongs to it.
const char* const kScopeRequest = "RequestID = ? AND EXISTS "
                                  "(SELECT 1 FROM RESULTS AS clicked WHERE clicked.ID = ? AND clicked.RequestID = ?)";
const char* const kScopeRecord = "ID = ?";
// The patient fields and the profile change for the record and the rest of its request of
// that day; %1 is the dialect's condition for the day.
const char* const kScopeRequestOfDay = "ID = ? OR (RequestID = ? AND %1)";

const char* const kMsgUpdateFailed = "Failed tu update";
const char* const kMsgNotJournaled = "Corecturile nu se inregistreaza in jurnal: baza de date nu are tabelele "
                                     "jurnalului (se adauga cu labrosa-dbtool --upgrade).";
const char* const kNoteCorrected = "Corectat de %1 (%2) la %3. Inainte: %4";
const char* const kMsgBadRequestId =
    "\"ID pacient\" trebuie sa fie un numar intreg (cifre, optional precedate de + sau -).";
const char* const kMsgRequestIdTooLong = "\"ID pacient\" poate avea cel mult %1 de caractere.";
const char* const kMsgNameTooLong = "\"Nume pacient\" poate avea cel mult %1 de caractere.";
const char* const kMsgBadAge = "Varsta trebuie sa fie un numar intreg intre 0 si %1. Nu s-a salvat nimic.";
const char* const kMsgEmptyNewId = "ID-ul nu poate ramane gol. Nu s-a salvat nimic.";
const char* const kMsgNewIdTooLong = "ID-ul poate avea cel mult %1 de caractere. Nu s-a salvat nimic.";
const char* const kMsgCellTooLong = "Textul poate avea cel mult %1 de caractere. Nu s-a salvat nimic.";
const char* const kMsgCommentReadFailed = "Comentariul nu a putut fi citit din baza de date.\n%1";
const char* const kMsgCommentNotSaved = "Comentariul nu a fost salvat.\n%1";
const char* const kMsgCommentRequestChanged =
    "Comentariul nu a fost salvat: cererea acestui rand a fost schimbata intre timp (de pe alt calculator). "
    "Cautati din nou si reincercati.";
const char* const kMsgSearchIncomplete =
    "Nu toate rezultatele cautarii au putut fi citite, asa ca lista nu este afisata.\n%1";
const char* const kMsgHistoryNotRead = "Istoricul nu a putut fi citit din baza de date.\n%1";
const char* const kMsgInvertedRange =
    "Data de sfarsit (%2) este inaintea datei de inceput (%1), asa ca nu s-a cautat nimic; lista a ramas "
    "cum era. Alegeti o data de sfarsit egala sau dupa cea de inceput.";
// The count of a finished search, with how long it took; %1 the count, %2 the seconds.
const char* const kStatusFoundOne = "%1 set de rezultate gasit in %2 s";
const char* const kStatusFoundMany = "%1 %3seturi de rezultate gasite in %2 s";
const char* const kMenuComment = "&Comentariu...";
const char* const kMenuHistory = "&Istoric";
const char* const kMsgValuesNotLogged =
    "Nici jurnalul de erori %1 nu a putut fi scris (%2), asa ca valorile nu sunt pastrate acolo. Notati-le pentru "
    "a le introduce din nou:\n%3";
const char* const kMsgServerAway = "Legatura cu serverul bazei de date s-a intrerupt. Datele deja salvate nu s-au "
                                   "pierdut; incercati din nou cand serverul este disponibil.\n%1";

enum Column { ColRequestId = 0, ColName = 1, ColAge = 2, ColSex = 3, ColDate = 4, ColComment = 5, ColProfile = 6 };
constexpr int kColumnCount = 7;
constexpr int kMaxSexLength = 10;

// An optional sign followed by at least one decimal digit, nothing else.
bool IsWholeNumber(const QString& text) {
    int i = 0;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
            return false;
    }
    return true;
}

// A request identifier whose leading whole number is 0 ("0", "", "abc") names no request.
bool NamesNoRequest(const QString& requestId) {
    return SqlDialect::canonicalLeadingNumber(requestId) == QLatin1String("0");
}

int TwoOrFourDigits(const QChar* p, int count, bool* ok) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = p[i].unicode();
        if (c < u'0' || c > u'9') {
            *ok = false;
            return 0;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

// Column 4: the transfer day as day/month/year without leading zeros. The stored text form
// 'YYYY-MM-DD ...' is read directly; other forms go through QDateTime.
QString TransferDayText(const QVariant& value) {
    if (value.isNull())
        return QString();
    int year = 0, month = 0, day = 0;
    bool ok = false;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.size() >= 10 && text[4] == QLatin1Char('-') && text[7] == QLatin1Char('-')) {
            ok = true;
            year = TwoOrFourDigits(text.constData(), 4, &ok);
            month = TwoOrFourDigits(text.constData() + 5, 2, &ok);
            day = TwoOrFourDigits(text.constData() + 8, 2, &ok);
        }
    }
    if (!ok) {
        QDate date = value.toDate();
        if (!date.isValid())
            date = value.toDateTime().date();
        if (!date.isValid())
            return QString();
        year = date.year();
        month = date.month();
        day = date.day();
    }
    QString out;
    out.reserve(10);
    out += QString::number(day);
    out += QLatin1Char('/');
    out += QString::number(month);
    out += QLatin1Char('/');
    out += QString::number(year);
    return out;
}

// "%d" of an integer column; a NULL or a value that is not a number shows empty.
// Rows come ordered by transfer date, so neighbours mostly share their day: the text of the
// previous day is kept and reused while the stored date's day part stays the same.
class DayTextCache {
public:
    QString text(QAnyStringView stored) {
        const QAnyStringView day = stored.visit([](auto view) { return QAnyStringView(view.left(10)); });
        if (stored.size() >= 10 && !m_text.isEmpty() && QAnyStringView::equal(day, m_key))
            return m_text;
        m_text = TransferDayText(stored.toString());
        m_key = day.toString();
        return m_text;
    }

private:
    QString m_key;
    QString m_text;
};

// A whole number written out, as IntegerText does, without making a string for it.
class NumberText {
public:
    QAnyStringView of(qlonglong number) {
        const auto end = std::to_chars(m_digits, m_digits + sizeof m_digits, number).ptr;
        return QLatin1StringView(m_digits, end - m_digits);
    }

private:
    char m_digits[24];
};

QString IntegerText(const QVariant& value) {
    if (value.isNull())
        return QString();
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return ok ? QString::number(number) : QString();
}

QString PlainText(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

// The database's own text, led by a plain sentence when the server is out of reach.
QString FailureText(const CAdoDatabase* database, const QString& providerError) {
    if (database && database->ConnectionLost())
        return QString::fromLatin1(kMsgServerAway).arg(providerError.trimmed());
    return providerError;
}

// What a failed correction wanted to write, when not even the error log could keep it.
QString UnloggedValuesText(const CAdoDatabase* database, const CorrectionJournal* journal) {
    if (!database || journal->UnloggedEntry().isEmpty())
        return QString();
    return QString::fromLatin1(kMsgValuesNotLogged)
        .arg(database->szLogFile, journal->LogWriteError(), journal->UnloggedEntry());
}

// "12 seturi", "20 de seturi", "101 seturi": Romanian puts "de" after 20..99 of each hundred.
QString FoundText(int count, qint64 elapsedMs) {
    const QString seconds = QString::number(elapsedMs / 1000.0, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(','));
    if (count == 1)
        return QString::fromLatin1(kStatusFoundOne).arg(count).arg(seconds);
    const int lastTwo = count % 100;
    const bool withDe = count != 0 && (lastTwo == 0 || lastTwo >= 20);
    return QString::fromLatin1(kStatusFoundMany).arg(count).arg(seconds, withDe ? QStringLiteral("de ") : QString());
}

} // namespace

Sorvind::Sorvind(StructuraInterna* structura, QWidget* parent) : QWidget(parent), m_pStructura(structura) {
    setObjectName(QStringLiteral("Sorvind"));

    auto* group = new QGroupBox(QStringLiteral("Cautare"), this);
    group->setObjectName(QStringLiteral("groupSearch"));
    group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    auto* labelId = new QLabel(QStringLiteral("ID pacient"), group);
    m_pRequestId = new QLineEdit(group);
    m_pRequestId->setObjectName(QStringLiteral("editRequestId"));
    m_pRequestId->setMaxLength(kMaxRequestIdLength);
    labelId->setBuddy(m_pRequestId);

    auto* labelName = new QLabel(QStringLiteral("Nume pacient"), group);
    m_pPatientName = new QLineEdit(group);
    m_pPatientName->setObjectName(QStringLiteral("editPatientName"));
    m_pPatientName->setMaxLength(kMaxNameLength);
    labelName->setBuddy(m_pPatientName);

    auto* labelDates = new QLabel(QStringLiteral("Data transferului"), group);
    m_pDateStart = new QDateEdit(group);
    m_pDateStart->setObjectName(QStringLiteral("dateStart"));
    auto* labelArrow = new QLabel(QStringLiteral("->"), group);
    m_pDateEnd = new QDateEdit(group);
    m_pDateEnd->setObjectName(QStringLiteral("dateEnd"));
    labelDates->setBuddy(m_pDateStart);
    labelArrow->setBuddy(m_pDateEnd);
    m_pDateEnd->setAccessibleName(QStringLiteral("Data transferului, sfarsit"));
    for (QDateEdit* picker : {m_pDateStart, m_pDateEnd}) {
        picker->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        picker->setCalendarPopup(true);
        picker->setDate(QDate::currentDate());
    }

    m_pSearch = new QPushButton(QStringLiteral("Cauta"), group);
    m_pSearch->setObjectName(QStringLiteral("buttonSearch"));
    m_pSearch->setDefault(true);
    m_pSearch->setAutoDefault(true);

    auto* grid = new QGridLayout(group);
    grid->addWidget(labelId, 0, 0);
    grid->addWidget(m_pRequestId, 0, 1);
    grid->addWidget(labelName, 1, 0);
    grid->addWidget(m_pPatientName, 1, 1);
    grid->setColumnStretch(2, 1);
    grid->addWidget(labelDates, 0, 3);
    grid->addWidget(m_pDateStart, 0, 4);
    grid->addWidget(labelArrow, 0, 5);
    grid->addWidget(m_pDateEnd, 0, 6);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_pSearch);
    buttonRow->addStretch(1);
    grid->addLayout(buttonRow, 2, 0, 1, 7);

    m_pList = new CComboListCtrl(this);
    m_pList->setObjectName(QStringLiteral("resultList"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(m_pList, 1);

    setTabOrder(m_pRequestId, m_pPatientName);
    setTabOrder(m_pPatientName, m_pDateStart);
    setTabOrder(m_pDateStart, m_pDateEnd);
    setTabOrder(m_pDateEnd, m_pSearch);
    setTabOrder(m_pSearch, m_pList);
    // Like a form, the window hands the keyboard to its first field when it is opened or activated.
    setFocusProxy(m_pRequestId);

    // Enter in any search field runs the search, as the form's default button would.
    for (QWidget* field : std::initializer_list<QWidget*>{m_pRequestId, m_pPatientName, m_pDateStart, m_pDateEnd})
        field->installEventFilter(this);
    m_pList->installEventFilter(this);
    m_pListViewport = m_pList->viewport();
    m_pListViewport->installEventFilter(this);

    connect(m_pSearch, &QPushButton::clicked, this, &Sorvind::OnSearch);
    connect(m_pList, &CComboListCtrl::gridEditDone, this, &Sorvind::OnGridEditDone);
    connect(m_pList, &CComboListCtrl::gridFillCombo, this, &Sorvind::OnGridFillCombo, Qt::DirectConnection);
    connect(m_pList, &CComboListCtrl::listRightClicked, this, &Sorvind::OnListRightClick);
    connect(m_pList, &CComboListCtrl::listDoubleClicked, this, &Sorvind::OnListDoubleClick);
}

Sorvind::~Sorvind() = default;

CorrectionJournal* Sorvind::Journal() {
    if (!m_journal)
        m_journal = std::make_unique<CorrectionJournal>(m_pStructura ? m_pStructura->m_pDatabase : nullptr);
    return m_journal.get();
}

bool Sorvind::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pListViewport) {
        // A plain right click keeps opening the comment; with Shift it opens the list's menu,
        // so the mouse reaches the history too.
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton && mouse->modifiers() == Qt::ShiftModifier) {
                const QPoint at = mouse->position().toPoint();
                const int row = m_pList->HitTestCell(at, nullptr);
                if (!m_pList->hasFocus())
                    m_pList->setFocus(Qt::MouseFocusReason);
                if (row >= 0) {
                    // The menu acts on the clicked row, as a right click's comment does.
                    const QModelIndex index = m_pList->model()->index(row, 0);
                    QItemSelectionModel* selection = m_pList->selectionModel();
                    if (selection->isSelected(index))
                        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
                    else
                        selection->setCurrentIndex(index,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                }
                ShowListMenu(m_pList->viewport()->mapToGlobal(at));
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    if (watched == m_pList) {
        if (event->type() == QEvent::KeyPress) {
            const auto* keyEvent = static_cast<QKeyEvent*>(event);
            const int key = keyEvent->key();
            const Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~Qt::KeypadModifier;
            // An Enter that ends an in-place edit is taken by the editor and never arrives here.
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
                OpenBulletin(CurrentRow());
                return true;
            }
            if (key == Qt::Key_H && modifiers == Qt::ControlModifier) {
                OnHistory();
                return true;
            }
            if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
                (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
                ShowListMenu();
                return true;
            }
        } else if (event->type() == QEvent::ContextMenu &&
                   static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            // A right click has its own handling (the comment dialog); only the keyboard's menu is shown.
            ShowListMenu();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnSearch();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Sorvind::OnInitialUpdate() {
    m_pList->SetExtendedStyle(CComboListCtrl::LVS_EX_FULLROWSELECT);
    const char* const headers[kColumnCount] = {"ID",         "Descriere proba", "Varsta", "SEX", "Transfer Date",
                                               "Comentarii", "Profil"};
    for (int column = 0; column < kColumnCount; ++column)
        m_pList->InsertColumn(column, QString::fromLatin1(headers[column]), CComboListCtrl::LVCFMT_LEFT);
    m_pList->MarkColumnAsCombo(ColProfile, true);
    // With no rows yet, auto-size gives each header's width and the padding around a text.
    // The header's minimum section size would hide the bare padding, so it is lifted meanwhile.
    QHeaderView* header = m_pList->header();
    const int minimumSection = header->minimumSectionSize();
    header->setMinimumSectionSize(0);
    m_pList->SetColumnWidth(0, CComboListCtrl::LVSCW_AUTOSIZE);
    m_textPadding = m_pList->GetColumnWidth(0);
    header->setMinimumSectionSize(minimumSection);
    m_emptyColumnWidths.assign(kColumnCount, 0);
    for (int column = 0; column < kColumnCount; ++column) {
        m_pList->SetColumnWidth(column, CComboListCtrl::LVSCW_AUTOSIZE_USEHEADER);
        m_emptyColumnWidths[column] = m_pList->GetColumnWidth(column);
    }
    m_pList->MarkColumnReadOnly(ColDate, true);
    m_pList->MarkColumnReadOnly(ColComment, true);

    LoadProfiles();
    RestoreListLayout();
    OnSearch();
    // Shown after the first search, whose count would otherwise replace it at once.
    if (m_pStructura && m_pStructura->m_pDatabase && !Journal()->Available() && Journal()->ErrorText().isEmpty()) {
        // Said once for the whole program, not for every window.
        static bool told = false;
        if (!told) {
            told = true;
            if (auto* frame = qobject_cast<QMainWindow*>(window()))
                frame->statusBar()->showMessage(QString::fromLatin1(kMsgNotJournaled));
        }
    }

    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
            frame->showMaximized();
            break;
        }
    }
}

void Sorvind::AutoSizeColumns(int count) {
    for (int column = 0; column < count; ++column)
        m_pList->SetColumnWidth(column, CComboListCtrl::LVSCW_AUTOSIZE_USEHEADER);
}

void Sorvind::SizeColumnsToTexts(const std::vector<WidestTextTracker>& widest) {
    if (m_emptyColumnWidths.size() != static_cast<size_t>(kColumnCount)) {
        AutoSizeColumns(kColumnCount);
        return;
    }
    for (int column = 0; column < kColumnCount; ++column)
        m_pList->SetColumnWidth(column, std::max(m_emptyColumnWidths[column], widest[column].widest() + m_textPadding));
}

void Sorvind::LoadProfiles() {
    m_profiles.clear();
    m_profileNames.clear();
    CAdoDatabase* database = m_pStructura ? m_pStructura->m_pDatabase : nullptr;
    if (!m_recordset.Open(QString::fromLatin1(kSelectProfiles), database)) {
        LabrosaMessageBox(FailureText(database, m_recordset.ErrorText()), this);
        return;
    }
    const QString idField = QStringLiteral("id");
    const QString nameField = QStringLiteral("profileName");
    QVariant id, name;
    while (!m_recordset.IsEOF()) {
        ProfileEntry entry;
        if (m_recordset.GetFieldValue(idField, &id) && !id.isNull())
            entry.id = id.toInt();
        if (m_recordset.GetFieldValue(nameField, &name))
            entry.name = PlainText(name).left(79);
        if (!m_profileNames.contains(entry.id))
            m_profileNames.insert(entry.id, entry.name);
        m_profiles.push_back(std::move(entry));
        m_recordset.MoveNext();
    }
    m_recordset.Close();
}

QString Sorvind::ProfileNameById(int id) const {
    return m_profileNames.value(id);
}

QString Sorvind::ToSqlDate(const QString& dayMonthYear) {
    const std::string text = dayMonthYear.toStdString();
    std::string parts[3];
    int position = 0;
    for (std::string& part : parts) {
        if (!NextToken(text, position, part, 10, '/'))
            part.clear();
    }
    return QString::fromStdString(parts[2] + '/' + parts[1] + '/' + parts[0]);
}

void Sorvind::SettleDatePickers() {
    // Enter in a picker arrives before the picker has taken its half-typed text; settle
    // both, or a day left blank would drop that end of the range without a word.
    for (QDateEdit* picker : {m_pDateStart, m_pDateEnd}) {
        // A picker showing its own date has nothing to settle, and settling repaints it.
        if (picker->text() != picker->locale().toString(picker->date(), picker->displayFormat()))
            picker->interpretText();
    }
}

void Sorvind::ShowStatus(const QString& text) {
    auto* frame = qobject_cast<QMainWindow*>(window());
    if (!frame)
        return;
    // A pane of its own: the message pane belongs to the commands' help and to "Ready".
    QStatusBar* bar = frame->statusBar();
    auto* label = bar->findChild<QLabel*>(QStringLiteral("searchCount"));
    if (!label) {
        label = new QLabel(bar);
        label->setObjectName(QStringLiteral("searchCount"));
        bar->addPermanentWidget(label);
    }
    label->setText(text);
}

void Sorvind::OnSearch() {
    QElapsedTimer elapsed;
    elapsed.start();
    if (m_pRequestId->text().trimmed().isEmpty()) {
        // An end before the start would find nothing; the list keeps what it showed instead of
        // looking as though the days were empty.
        SettleDatePickers();
        if (m_pDateEnd->date() < m_pDateStart->date()) {
            LabrosaMessageBox(QString::fromLatin1(kMsgInvertedRange).arg(m_pDateStart->text(), m_pDateEnd->text()),
                              this);
            return;
        }
    }
    m_pList->DeleteAllItems();
    // The count of the search before no longer says what the list shows.
    ShowStatus(QString());

    CAdoDatabase* database = m_pStructura ? m_pStructura->m_pDatabase : nullptr;
    SqlDialect dialect = database ? database->dialect() : SqlDialect();
    dialect.setNameShadow(SearchIndexes::Of(database).nameShadow);

    // The conditions after "WHERE (1=1)", kept to find the corrections of the listed sets.
    QString sql;
    QVariantList values;
    const QString requestId = m_pRequestId->text().trimmed();
    const QString name = m_pPatientName->text();
    // The identifier's number, compared exactly whatever its length; empty when not searched by it.
    QString wantedNumber;
    if (!requestId.isEmpty()) {
        // A request identifier alone decides: dates and name are not looked at.
        if (requestId.size() > kMaxRequestIdLength) {
            LabrosaMessageBox(QString::fromLatin1(kMsgRequestIdTooLong).arg(kMaxRequestIdLength), this);
            AutoSizeColumns(kColumnCount);
            return;
        }
        if (!IsWholeNumber(requestId)) {
            LabrosaMessageBox(QString::fromLatin1(kMsgBadRequestId), this);
            AutoSizeColumns(kColumnCount);
            return;
        }
        wantedNumber = SqlDialect::canonicalLeadingNumber(requestId);
        sql += QStringLiteral(" AND ") + dialect.leadingNumberEquals(QStringLiteral("RESULTS.RequestID"));
        values << dialect.leadingNumberValue(wantedNumber);
    } else {
        if (name.size() > kMaxNameLength) {
            LabrosaMessageBox(QString::fromLatin1(kMsgNameTooLong).arg(kMaxNameLength), this);
            AutoSizeColumns(kColumnCount);
            return;
        }
        const QString firstDay = ToSqlDate(m_pDateStart->text());
        const QString lastDay = ToSqlDate(m_pDateEnd->text());
        const QString days = dialect.dayRangeCondition(QStringLiteral("RESULTS.TransDate"), firstDay, lastDay, &values);
        if (!days.isEmpty())
            sql += QStringLiteral(" AND ") + days;
        if (!name.isEmpty())
            sql += QStringLiteral(" AND ") + dialect.patientNameCondition(name, firstDay, lastDay, &values);
    }
    const QString conditions = sql;
    sql = QString::fromLatin1(kSelectResults).arg(dialect.dayOf(QStringLiteral("TransDate"))) + conditions +
          QString::fromLatin1(kOrderResults);

    if (!m_recordset.Open(sql, database, values, CAdoRecordset::Reading::Texts)) {
        LabrosaMessageBox(FailureText(database, m_recordset.ErrorText()), this);
        AutoSizeColumns(kColumnCount);
        return;
    }

    // Column positions are looked up once per search, not once per value.
    const int fId = m_recordset.FieldIndex(QStringLiteral("ID"));
    const int fRequestId = m_recordset.FieldIndex(QStringLiteral("RequestID"));
    const int fName = m_recordset.FieldIndex(QStringLiteral("PacientName"));
    const int fDate = m_recordset.FieldIndex(QStringLiteral("TransDate"));
    const int fAge = m_recordset.FieldIndex(QStringLiteral("Age"));
    const int fSex = m_recordset.FieldIndex(QStringLiteral("SEX"));
    const int fComment = m_recordset.FieldIndex(QStringLiteral("comment"));
    const int fProfile = m_recordset.FieldIndex(QStringLiteral("profileID"));

    // The grid's auto-size measures every row, which takes seconds for a large result, so the
    // widths come from texts measured while filling.
    std::vector<WidestTextTracker> widest(kColumnCount, WidestTextTracker(m_pList->fontMetrics()));
    QVariant value;
    DayTextCache dayTexts;
    NumberText ageText;
    // Texts made for the row (read as text, the cells point into the database's own row).
    QString age, day, profile;
    // The profile named last; the day and profile of the row above.
    int namedProfileId = 0;
    bool profileNamed = false;
    QString dayAbove;
    int profileAbove = -1;
    // The rows reach the list in one go once all are read, not one notice per row and cell.
    m_pList->BeginFill();
    while (!m_recordset.IsEOF()) {
        QAnyStringView cells[kColumnCount];
        m_recordset.GetFieldTextAt(fRequestId, &cells[ColRequestId]);
        if (!wantedNumber.isEmpty() &&
            SqlDialect::canonicalLeadingNumber(cells[ColRequestId].toString()) != wantedNumber) {
            // A longer number that the database read as the same 64-bit limit.
            m_recordset.MoveNext();
            continue;
        }
        m_recordset.GetFieldTextAt(fName, &cells[ColName]);
        qint64 number = 0;
        if (m_recordset.GetFieldIntegerAt(fAge, &number)) {
            cells[ColAge] = ageText.of(number);
        } else if (m_recordset.GetFieldValueAt(fAge, &value)) {
            age = IntegerText(value);
            cells[ColAge] = age;
        }
        m_recordset.GetFieldTextAt(fSex, &cells[ColSex]);
        bool isNull = true;
        QAnyStringView stored;
        if (m_recordset.GetFieldTextAt(fDate, &stored, &isNull) && !isNull) {
            day = dayTexts.text(stored);
            cells[ColDate] = day;
        }
        m_recordset.GetFieldTextAt(fComment, &cells[ColComment]);
        bool hasProfile = false;
        int profileId = 0;
        if (m_recordset.GetFieldIntegerAt(fProfile, &number)) {
            hasProfile = number >= INT_MIN && number <= INT_MAX;
            profileId = int(number);
        } else if (m_recordset.GetFieldValueAt(fProfile, &value) && !value.isNull()) {
            profileId = value.toInt(&hasProfile);
        }
        if (hasProfile) {
            if (!profileNamed || profileId != namedProfileId) {
                profile = ProfileNameById(profileId);
                namedProfileId = profileId;
                profileNamed = true;
            }
            cells[ColProfile] = profile;
        }
        qint64 id = 0;
        if (!m_recordset.GetFieldIntegerAt(fId, &id) && m_recordset.GetFieldValueAt(fId, &value))
            id = value.toLongLong();
        m_pList->AppendItem(cells, kColumnCount, id);
        // The request identifier's width counts even when empty, as the first cell always is.
        widest[ColRequestId].note(cells[ColRequestId]);
        // The day and the profile are measured again only once they change: the rows come by
        // day, and a profile's name is one of a few.
        bool measured[kColumnCount] = {};
        measured[ColDate] = day.isSharedWith(dayAbove);
        dayAbove = day;
        measured[ColProfile] = hasProfile && profileId == profileAbove;
        profileAbove = hasProfile ? profileId : -1;
        for (int column = ColName; column < kColumnCount; ++column) {
            if (!cells[column].isEmpty() && !measured[column])
                widest[column].note(cells[column]);
        }
        m_recordset.MoveNext();
    }
    const bool complete = !m_recordset.ReadFailed();
    const QString readError = m_recordset.ErrorText();
    m_recordset.Close();
    // The marks go on while the rows are still unpublished: one notice for all, not one each.
    if (complete)
        MarkCorrectedCells(QStringLiteral("(1=1)") + conditions, values);
    m_pList->EndFill();
    if (!complete) {
        // Part of a result shown as the whole would hide records from the user.
        m_pList->DeleteAllItems();
        AutoSizeColumns(kColumnCount);
        LabrosaMessageBox(QString::fromLatin1(kMsgSearchIncomplete).arg(FailureText(database, readError)), this);
        return;
    }
    SizeColumnsToTexts(widest);
    ShowStatus(FoundText(m_pList->GetItemCount(), elapsed.elapsed()));
}

void Sorvind::MarkCorrectedCells(const QString& condition, const QVariantList& values) {
    if (m_pList->GetItemCount() == 0 || !Journal()->Available())
        return;
    qint64 firstId = m_pList->GetItemData(0);
    qint64 lastId = firstId;
    for (int row = 1; row < m_pList->GetItemCount(); ++row) {
        const qint64 id = m_pList->GetItemData(row);
        firstId = std::min(firstId, id);
        lastId = std::max(lastId, id);
    }
    const std::vector<JournalEntry> entries = Journal()->EntriesForResultsWhere(condition, values, firstId, lastId);
    if (entries.empty())
        return;
    // Corrected sets are few beside the listed ones: only their rows are looked for.
    QHash<qint64, int> rowOfRecord;
    for (const JournalEntry& entry : entries)
        rowOfRecord.insert(entry.resultId, -1);
    for (int row = 0; row < m_pList->GetItemCount(); ++row) {
        const auto found = rowOfRecord.find(m_pList->GetItemData(row));
        if (found != rowOfRecord.end())
            *found = row;
    }
    // Entries come newest first for each set: the first one of a cell is its last correction.
    for (const JournalEntry& entry : entries) {
        const int column = ColumnOfField(entry.field);
        const int row = rowOfRecord.value(entry.resultId, -1);
        if (column < 0 || row < 0 || m_pList->HasCellNote(row, column))
            continue;
        m_pList->SetCellNote(row, column, CorrectionNote(entry));
    }
}

int Sorvind::ColumnOfField(const QString& field) {
    static const QHash<QString, int> columns{{QStringLiteral("requestid"), ColRequestId},
                                             {QStringLiteral("pacientname"), ColName},
                                             {QStringLiteral("age"), ColAge},
                                             {QStringLiteral("sex"), ColSex},
                                             {QStringLiteral("comment"), ColComment},
                                             {QStringLiteral("profileid"), ColProfile}};
    return columns.value(field.toLower(), -1);
}

QString Sorvind::FieldValueText(const QString& field, const QVariant& value) const {
    if (value.isNull() || value.toString().isEmpty())
        return QStringLiteral("(gol)");
    if (field.compare(QLatin1String("profileID"), Qt::CaseInsensitive) == 0) {
        const QString name = ProfileNameById(value.toInt());
        return name.isEmpty() ? QStringLiteral("profilul %1").arg(value.toString()) : name;
    }
    return value.toString();
}

QString Sorvind::CorrectionNote(const JournalEntry& entry) const {
    return QString::fromLatin1(kNoteCorrected)
        .arg(entry.userName, entry.workstation,
             entry.changedAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
             FieldValueText(entry.field, entry.oldValue));
}

bool Sorvind::BuildCorrection(int row, int column, Correction* correction) {
    const qint64 recordId = m_pList->GetItemData(row);
    const QString day = ToSqlDate(m_pList->GetItemText(row, ColDate).left(99));
    const QString requestId = m_pList->GetItemText(row, ColRequestId).left(99);
    const QString text = m_pList->GetItemText(row, column);

    QString field;
    QVariant newValue;
    switch (column) {
    case ColRequestId:
        if (text.trimmed().isEmpty()) {
            LabrosaMessageBox(QString::fromLatin1(kMsgEmptyNewId), this);
            return false;
        }
        if (text.size() > kMaxRequestIdLength) {
            LabrosaMessageBox(QString::fromLatin1(kMsgNewIdTooLong).arg(kMaxRequestIdLength), this);
            return false;
        }
        *correction = {QStringLiteral("RequestID"), text, QString::fromLatin1(kScopeRecord), {recordId}};
        return true;
    case ColName:
    case ColSex: {
        // The sex column holds at most 10 characters; a longer text is refused on every backend alike.
        const int limit = column == ColSex ? kMaxSexLength : kMaxCellLength;
        if (text.size() > limit) {
            LabrosaMessageBox(QString::fromLatin1(kMsgCellTooLong).arg(limit), this);
            return false;
        }
        field = column == ColName ? QStringLiteral("PacientName") : QStringLiteral("SEX");
        newValue = text;
        break;
    }
    case ColAge: {
        const QString age = text.trimmed();
        field = QStringLiteral("Age");
        if (age.isEmpty()) {
            newValue = QVariant(QMetaType(QMetaType::Int));
        } else {
            bool ok = false;
            const int number = IsWholeNumber(age) && age.size() <= 4 ? age.toInt(&ok) : -1;
            if (!ok || number < 0 || number > kMaxAge) {
                LabrosaMessageBox(QString::fromLatin1(kMsgBadAge).arg(kMaxAge), this);
                return false;
            }
            newValue = number;
        }
        break;
    }
    case ColProfile: {
        auto it = std::find_if(m_profiles.begin(), m_profiles.end(),
                               [&text](const ProfileEntry& entry) { return entry.name == text; });
        if (it == m_profiles.end())
            return false;
        field = QStringLiteral("profileID");
        newValue = it->id;
        break;
    }
    default:
        return false;
    }

    CAdoDatabase* database = m_pStructura ? m_pStructura->m_pDatabase : nullptr;
    const SqlDialect dialect = database ? database->dialect() : SqlDialect();
    QVariantList dayValues;
    const QString sameDay = dialect.dayRangeCondition(QStringLiteral("TransDate"), day, day, &dayValues);
    if (NamesNoRequest(requestId) || SqlDialect::dayStart(day).isEmpty()) {
        // No request to share the correction with, or no readable day to tell the rest of it apart.
        *correction = {field, newValue, QString::fromLatin1(kScopeRecord), {recordId}};
        return true;
    }
    *correction = {field, newValue, QString::fromLatin1(kScopeRequestOfDay).arg(sameDay),
                   QVariantList{recordId, requestId} + dayValues};
    return true;
}

void Sorvind::OnGridEditDone(int row, int column) {
    if (row >= 0 && row < m_pList->GetItemCount()) {
        Correction correction;
        if (BuildCorrection(row, column, &correction)) {
            CAdoDatabase* database = m_pStructura ? m_pStructura->m_pDatabase : nullptr;
            if (!database ||
                !Journal()->Apply(correction.field, correction.newValue, correction.scope, correction.scopeValues)) {
                QString message = QString::fromLatin1(kMsgUpdateFailed);
                for (const QString& part : {database ? FailureText(database, Journal()->ErrorText()) : QString(),
                                            UnloggedValuesText(database, Journal())})
                    if (!part.isEmpty())
                        message += QLatin1Char('\n') + part;
                LabrosaMessageBox(message, this);
            }
        }
    }
    OnSearch();
}

void Sorvind::OnGridFillCombo(int column, QStringList* entries) {
    if (!entries)
        return;
    entries->clear();
    if (column != ColProfile)
        return;
    for (const ProfileEntry& entry : m_profiles)
        entries->append(entry.name);
}

void Sorvind::OnListRightClick() {
    // The row under the pointer, even inside a selection of several rows.
    EditComment(m_pList->GetContextItem());
}

int Sorvind::CurrentRow() const {
    const int row = m_pList->currentIndex().isValid() ? m_pList->currentIndex().row() : -1;
    return row >= 0 && row < m_pList->GetItemCount() ? row : m_pList->GetFirstSelectedItem();
}

void Sorvind::ShowListMenu(std::optional<QPoint> globalAt) {
    const int row = CurrentRow();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("listMenu"));
    QAction* comment = menu.addAction(QString::fromLatin1(kMenuComment));
    QAction* history = menu.addAction(QString::fromLatin1(kMenuHistory));
    comment->setEnabled(row >= 0);
    history->setEnabled(row >= 0);
    // At the pointer for the mouse; for the keyboard under the current row, or at the top of
    // the list when there is none.
    QPoint at(0, 0);
    if (row >= 0 && !globalAt) {
        m_pList->scrollTo(m_pList->model()->index(row, 0));
        at = m_pList->visualRect(m_pList->model()->index(row, 0)).bottomLeft();
    }
    QAction* chosen = menu.exec(globalAt ? *globalAt : m_pList->viewport()->mapToGlobal(at));
    if (chosen == comment)
        EditComment(row);
    else if (chosen == history)
        OnHistory();
}

void Sorvind::OnHistory() {
    const int row = CurrentRow();
    if (row < 0 || !m_pStructura) {
        QApplication::beep();
        return;
    }
    CAdoDatabase* database = m_pStructura->m_pDatabase;
    HistoryDialog dialog(
        database, m_pStructura->m_pBulletinTemplate,
        [this](const QString& field, const QVariant& value) { return FieldValueText(field, value); }, this);
    if (!dialog.Load(m_pList->GetItemText(row, ColRequestId), m_pList->GetItemData(row))) {
        LabrosaMessageBox(QString::fromLatin1(kMsgHistoryNotRead).arg(FailureText(database, dialog.ErrorText())), this);
        return;
    }
    dialog.exec();
}

void Sorvind::EditComment(int row) {
    CAdoDatabase* database = m_pStructura ? m_pStructura->m_pDatabase : nullptr;
    QString comment;
    qint64 recordId = 0;
    if (row >= 0) {
        recordId = m_pList->GetItemData(row);
        if (!m_recordset.Open(QString::fromLatin1(kSelectComment), database, {recordId})) {
            // Opening the dialog empty here would let OK wipe the stored comment.
            LabrosaMessageBox(
                QString::fromLatin1(kMsgCommentReadFailed).arg(FailureText(database, m_recordset.ErrorText())), this);
            return;
        }
        QVariant value;
        if (!m_recordset.IsEOF() && m_recordset.GetFieldValue(QStringLiteral("comment"), &value))
            comment = PlainText(value);
        m_recordset.Close();
    }

    dlgComment dialog(this);
    dialog.m_pText = &comment;
    if (dialog.exec() != QDialog::Accepted || recordId == 0)
        return;

    const QString requestId = m_pList->GetItemText(row, ColRequestId).left(99);
    comment = comment.left(dlgComment::kMaxCommentLength);
    // A record whose identifier is no request keeps its comment to itself.
    const bool recordOnly = NamesNoRequest(requestId);
    const QString scope = QString::fromLatin1(recordOnly ? kScopeRecord : kScopeRequest);
    const QVariantList scopeValues = recordOnly ? QVariantList{recordId} : QVariantList{requestId, recordId, requestId};
    int changed = 0;
    if (!database || !Journal()->Apply(QStringLiteral("comment"), comment, scope, scopeValues, &changed)) {
        const QString reason = database ? Journal()->ErrorText() : QString();
        const QString unlogged = UnloggedValuesText(database, Journal());
        LabrosaMessageBox(QString::fromLatin1(kMsgCommentNotSaved).arg(FailureText(database, reason)) +
                              (unlogged.isEmpty() ? QString() : QLatin1Char('\n') + unlogged),
                          this);
        return;
    }
    if (changed == 0) {
        LabrosaMessageBox(QString::fromLatin1(kMsgCommentRequestChanged), this);
        return;
    }
    m_pList->SetItemText(row, ColComment, comment);
}

void Sorvind::OnListDoubleClick() {
    OpenBulletin(m_pList->GetFirstSelectedItem());
}

void Sorvind::OpenBulletin(int row) {
    if (row < 0 || !m_pStructura)
        return;
    const int recordId = static_cast<int>(m_pList->GetItemData(row));
    const BulletinBuildResult result =
        BuildBulletin(m_recordset, *m_pStructura, recordId, m_pList->GetItemText(row, ColRequestId),
                      ToSqlDate(m_pList->GetItemText(row, ColDate)));
    for (const QString& message : result.messages)
        LabrosaMessageBox(message, this);
}

namespace {
const char* const kKeyColumnWidths = "ResultList/ColumnWidths";
const char* const kKeyDateStart = "ResultList/DateStart";
const char* const kKeyDateEnd = "ResultList/DateEnd";
const char* const kKeyDateChosenOn = "ResultList/DateChosenOn";

// Tells whether a mouse button is down on the header, so that a width change can be told
// apart as the user's own.
class HeaderPressWatch : public QObject {
public:
    HeaderPressWatch(QObject* parent, bool* pressed) : QObject(parent), m_pressed(pressed) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress)
            *m_pressed = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            *m_pressed = false;
        return QObject::eventFilter(watched, event);
    }

private:
    bool* m_pressed;
};
} // namespace

void Sorvind::RestoreListLayout() {
    QSettings settings;
    m_userColumnWidths.assign(kColumnCount, 0);
    const QStringList widths = settings.value(QLatin1String(kKeyColumnWidths)).toStringList();
    for (int column = 0; column < kColumnCount && column < widths.size(); ++column)
        m_userColumnWidths[column] = std::max(0, widths.at(column).toInt());

    // A range that ended on the day it was chosen ("the last three days") keeps ending today;
    // a range of past days stays as chosen. Nothing chosen yet: today, as always.
    const QDate chosenOn = settings.value(QLatin1String(kKeyDateChosenOn)).toDate();
    QDate start = settings.value(QLatin1String(kKeyDateStart)).toDate();
    QDate end = settings.value(QLatin1String(kKeyDateEnd)).toDate();
    if (chosenOn.isValid() && start.isValid() && end.isValid()) {
        if (end == chosenOn) {
            const qint64 shift = chosenOn.daysTo(QDate::currentDate());
            start = start.addDays(shift);
            end = end.addDays(shift);
        }
        m_pDateStart->setDate(start);
        m_pDateEnd->setDate(end);
    }
    for (QDateEdit* picker : {m_pDateStart, m_pDateEnd})
        connect(picker, &QDateEdit::dateChanged, this, [this] { SaveDateRange(); });

    QHeaderView* header = m_pList->header();
    header->viewport()->installEventFilter(new HeaderPressWatch(header, &m_headerDragging));
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int newWidth) { OnColumnResized(column, newWidth); });
    connect(header, &QHeaderView::sectionHandleDoubleClicked, this,
            [this](int column) { OnColumnHandleDoubleClicked(column); });
    for (int column = 0; column < kColumnCount; ++column)
        if (m_userColumnWidths[column] > 0)
            m_pList->SetColumnWidth(column, m_userColumnWidths[column]);
}

void Sorvind::OnColumnResized(int column, int newWidth) {
    if (column < 0 || column >= static_cast<int>(m_userColumnWidths.size()))
        return;
    if (m_headerDragging) {
        m_userColumnWidths[column] = newWidth;
        SaveColumnWidths();
        return;
    }
    // Sizing to the texts after a search leaves alone a column the user sized by hand.
    const int kept = m_userColumnWidths[column];
    if (kept > 0 && newWidth != kept)
        m_pList->SetColumnWidth(column, kept);
}

void Sorvind::OnColumnHandleDoubleClicked(int column) {
    // A double click on a column's edge gives the column back to automatic sizing.
    if (column < 0 || column >= static_cast<int>(m_userColumnWidths.size()))
        return;
    m_userColumnWidths[column] = 0;
    SaveColumnWidths();
    m_pList->SetColumnWidth(column, CComboListCtrl::LVSCW_AUTOSIZE_USEHEADER);
}

void Sorvind::SaveColumnWidths() const {
    QStringList widths;
    for (int width : m_userColumnWidths)
        widths << QString::number(width);
    QSettings().setValue(QLatin1String(kKeyColumnWidths), widths);
}

void Sorvind::SaveDateRange() const {
    QSettings settings;
    settings.setValue(QLatin1String(kKeyDateStart), m_pDateStart->date());
    settings.setValue(QLatin1String(kKeyDateEnd), m_pDateEnd->date());
    settings.setValue(QLatin1String(kKeyDateChosenOn), QDate::currentDate());
}
