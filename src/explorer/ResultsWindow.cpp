#include "ResultsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
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
#include <QTimeZone>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>

#include "AmendmentReasonDialog.h"
#include "BackgroundCorrection.h"
#include "BulletinArchive.h"
#include "BulletinBuilder.h"
#include "BulletinValidation.h"
#include "BulletinValidationCommand.h"
#include "CommentDialog.h"
#include "CorrectionJournal.h"
#include "CriticalMarker.h"
#include "CriticalNotificationDialog.h"
#include "CriticalNotifications.h"
#include "DatabaseConnection.h"
#include "EditableListView.h"
#include "EvolutionWindow.h"
#include "HistoryDialog.h"
#include "InPlaceComboBox.h"
#include "InPlaceLineEdit.h"
#include "LabSchemaCheck.h"
#include "ListMarks.h"
#include "MessageBox.h"
#include "SearchIndexes.h"
#include "SharedState.h"
#include "SqlDialect.h"
#include "TextUtils.h"
#include "ValidatedBulletins.h"
#include "WaitedSearch.h"
#include "WaitingBar.h"
#include "WidestTextTracker.h"

namespace {

const char* const kSelectProfiles = "SELECT id, profileName FROM VET_PROFILES ORDER BY profileName";
// %1: the transfer day (the list shows the day alone).
// The newest set: a change of it tells that sets arrived since the list was filled.
const char* const kSelectNewestSet = "SELECT MAX(ID) FROM RESULTS";
// How often a list of today's sets looks for new ones (the analysers' receiver adds them).
constexpr int kRefreshIntervalMs = 5000;

const char* const kSelectResults =
    "SELECT ID, RequestID, PacientName, %1 AS TransDate, Age, SEX, comment, profileID FROM RESULTS WHERE (1=1)";
const char* const kOrderResults = " ORDER BY RESULTS.TransDate, RESULTS.RequestID";
const char* const kSelectComment = "SELECT comment FROM RESULTS WHERE ID = ?";
const char* const kSelectRequestOf = "SELECT RequestID, %1 AS TransDate FROM RESULTS WHERE ID = ?";
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
const char* const kMsgValidationsNotRead =
    "Validarile buletinelor nu au putut fi citite, asa ca nu s-au putut cauta doar cererile nevalidate si lista nu "
    "este afisata.\n%1";
const char* const kMsgCriticalNotRead =
    "Valorile critice nu au putut fi citite, asa ca nu s-au putut cauta doar cele neanuntate si lista nu este "
    "afisata.\n%1";
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
const char* const kMsgHistoryNotRead = "Istoricul nu a putut fi citit din baza de date. Nu s-a schimbat nimic; "
                                       "incercati din nou peste putin timp.\n%1";
const char* const kMsgEvolutionNotRead = "Valorile anterioare ale pacientului nu au putut fi citite din baza de "
                                         "date. Nu s-a schimbat nimic; incercati din nou peste putin timp.\n%1";
// After the failure's own headline (the failed correction's or the comment's): nothing was stored.
const char* const kMsgArchiveNotRead = "%1\nNu s-a putut afla daca cererea are deja un buletin eliberat, asa ca "
                                       "nu s-a salvat nimic.\n%2";
const char* const kMsgInvertedRange =
    "Data de sfarsit (%2) este inaintea datei de inceput (%1), asa ca nu s-a cautat nimic; lista a ramas "
    "cum era. Alegeti o data de sfarsit egala sau dupa cea de inceput.";
// The count of a finished search, with how long it took; %1 the count, %2 the seconds.
const char* const kStatusFoundOne = "%1 set de rezultate gasit in %2 s";
const char* const kStatusFoundMany = "%1 %3seturi de rezultate gasite in %2 s";
const char* const kMenuComment = "&Comentariu...";
const char* const kMenuHistory = "&Istoric";
const char* const kMenuValidate = "&Valideaza...";
const char* const kMenuEvolution = "&Evolutie...";
const char* const kMenuResults = "&Rezultate";
const char* const kMsgValuesNotLogged =
    "Nici jurnalul de erori %1 nu a putut fi scris (%2), asa ca valorile nu sunt pastrate acolo. Notati-le pentru "
    "a le introduce din nou:\n%3";
const char* const kMsgServerAway = "Legatura cu serverul bazei de date s-a intrerupt. Datele deja salvate nu s-au "
                                   "pierdut; incercati din nou cand serverul este disponibil.\n%1";
// %1: the request, %2: the workstation (and its user) that holds it.
const char* const kMsgRequestBusy = "Cererea %1 este corectata chiar acum pe %2, asa ca aceasta corectura nu a fost "
                                    "salvata. Incercati din nou dupa ce se termina corectura de acolo.";
const char* const kMsgOtherWorkstation = "alta statie de lucru";
const char* const kMsgWorkstation = "statia %1";
const char* const kMsgWorkstationUser = "statia %1 (utilizatorul %2)";
const char* const kMsgSetBusy = "Setul este corectat chiar acum pe alta statie de lucru, asa ca aceasta corectura nu "
                                "a fost salvata. Incercati din nou peste cateva clipe.";
const char* const kMsgGivenUp = "Ati renuntat la corectura; nu s-a salvat nimic.";
const char* const kMsgCommitLostNotStored =
    "Legatura cu serverul s-a intrerupt chiar la salvare. Dupa reconectare, jurnalul corecturilor arata ca aceasta "
    "corectura nu a fost salvata; o puteti introduce din nou.";
const char* const kMsgCommitLostUnknown =
    "Legatura cu serverul s-a intrerupt chiar la salvare si nu s-a putut afla daca aceasta corectura a fost "
    "salvata. Inainte de a o introduce din nou, cautati cererea si priviti istoricul ei (Ctrl+H).\n%1";
// PostgreSQL's SQLSTATE for a statement ended by its time limit (or cancelled).
const char* const kQueryCanceled = "57014";
const char* const kMsgSearchTooLong =
    "Cautarea a durat mai mult decat limita de %1 s si a fost oprita de server; lista nu este afisata. Restrangeti "
    "cautarea (mai putine zile, un nume mai lung) sau cereti marirea limitei (\"Statement Timeout\" in sirul de "
    "conectare).";
const char* const kMsgCorrectionWaiting = "Corectura de mai inainte asteapta inca baza de date, asa ca aceasta nu a "
                                          "fost salvata. Asteptati-o sau renuntati la ea, apoi incercati din nou.";

enum Column { ColRequestId = 0, ColName = 1, ColAge = 2, ColSex = 3, ColDate = 4, ColComment = 5, ColProfile = 6 };
constexpr int kColumnCount = 7;
constexpr int kMaxSexLength = 10;

// An optional sign followed by at least one decimal digit, nothing else.
bool isWholeNumber(const QString& text) {
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
bool namesNoRequest(const QString& requestId) {
    return SqlDialect::canonicalLeadingNumber(requestId) == QLatin1String("0");
}

int twoOrFourDigits(const QChar* p, int count, bool* ok) {
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
QString transferDayText(const QVariant& value) {
    if (value.isNull())
        return QString();
    int year = 0, month = 0, day = 0;
    bool ok = false;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.size() >= 10 && text[4] == QLatin1Char('-') && text[7] == QLatin1Char('-')) {
            ok = true;
            year = twoOrFourDigits(text.constData(), 4, &ok);
            month = twoOrFourDigits(text.constData() + 5, 2, &ok);
            day = twoOrFourDigits(text.constData() + 8, 2, &ok);
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
        m_text = transferDayText(stored.toString());
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

QString integerText(const QVariant& value) {
    if (value.isNull())
        return QString();
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return ok ? QString::number(number) : QString();
}

QString plainText(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

// The database's own text, led by a plain sentence when the server is out of reach.
QString failureText(bool serverAway, const QString& providerError) {
    if (serverAway)
        return QString::fromLatin1(kMsgServerAway).arg(providerError.trimmed());
    return providerError;
}
QString failureText(const DatabaseConnection* database, const QString& providerError) {
    return failureText(database && database->connectionLost(), providerError);
}

// Why a correction was not stored, for a person.
QString correctionFailureText(const BackgroundCorrection::Result& result) {
    // An unanswered COMMIT first: a give-up may have come too late to stop it.
    if (result.commitAnswerLost)
        return result.outcomeUnknown
                   ? QString::fromLatin1(kMsgCommitLostUnknown).arg(failureText(result.connectionLost, result.error))
                   : QString::fromLatin1(kMsgCommitLostNotStored);
    if (result.refusedByLock) {
        if (result.lockedRequest.isEmpty())
            return QString::fromLatin1(kMsgSetBusy);
        // The server names the session "workstation/user".
        const int slash = int(result.lockHolder.lastIndexOf(QLatin1Char('/')));
        QString where = QString::fromLatin1(kMsgOtherWorkstation);
        if (slash >= 0)
            where = QString::fromLatin1(kMsgWorkstationUser)
                        .arg(result.lockHolder.left(slash), result.lockHolder.mid(slash + 1));
        else if (!result.lockHolder.isEmpty())
            where = QString::fromLatin1(kMsgWorkstation).arg(result.lockHolder);
        return QString::fromLatin1(kMsgRequestBusy).arg(result.lockedRequest, where);
    }
    if (result.gaveUp)
        return QString::fromLatin1(kMsgGivenUp);
    return failureText(result.connectionLost, result.error);
}

// "12 seturi", "20 de seturi", "101 seturi": Romanian puts "de" after 20..99 of each hundred.
QString foundText(int count, qint64 elapsedMs) {
    const QString seconds = QString::number(elapsedMs / 1000.0, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(','));
    if (count == 1)
        return QString::fromLatin1(kStatusFoundOne).arg(count).arg(seconds);
    const int lastTwo = count % 100;
    const bool withDe = count != 0 && (lastTwo == 0 || lastTwo >= 20);
    return QString::fromLatin1(kStatusFoundMany).arg(count).arg(seconds, withDe ? QStringLiteral("de ") : QString());
}

} // namespace

ResultsWindow::ResultsWindow(SharedState* sharedState, QWidget* parent) : QWidget(parent), m_sharedState(sharedState) {
    setObjectName(QStringLiteral("Sorvind"));

    auto* group = new QGroupBox(QStringLiteral("Cautare"), this);
    group->setObjectName(QStringLiteral("groupSearch"));
    group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    auto* labelId = new QLabel(QStringLiteral("ID pacient"), group);
    m_requestId = new QLineEdit(group);
    m_requestId->setObjectName(QStringLiteral("editRequestId"));
    m_requestId->setMaxLength(kMaxRequestIdLength);
    labelId->setBuddy(m_requestId);

    auto* labelName = new QLabel(QStringLiteral("Nume pacient"), group);
    m_patientName = new QLineEdit(group);
    m_patientName->setObjectName(QStringLiteral("editPatientName"));
    m_patientName->setMaxLength(kMaxNameLength);
    labelName->setBuddy(m_patientName);

    auto* labelDates = new QLabel(QStringLiteral("Data transferului"), group);
    m_dateStart = new QDateEdit(group);
    m_dateStart->setObjectName(QStringLiteral("dateStart"));
    auto* labelArrow = new QLabel(QStringLiteral("->"), group);
    m_dateEnd = new QDateEdit(group);
    m_dateEnd->setObjectName(QStringLiteral("dateEnd"));
    labelDates->setBuddy(m_dateStart);
    labelArrow->setBuddy(m_dateEnd);
    m_dateEnd->setAccessibleName(QStringLiteral("Data transferului, sfarsit"));
    for (QDateEdit* picker : {m_dateStart, m_dateEnd}) {
        picker->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        picker->setCalendarPopup(true);
        picker->setDate(QDate::currentDate());
    }

    m_search = new QPushButton(QStringLiteral("Cauta"), group);
    m_search->setObjectName(QStringLiteral("buttonSearch"));
    m_search->setDefault(true);
    m_search->setAutoDefault(true);

    auto* grid = new QGridLayout(group);
    grid->addWidget(labelId, 0, 0);
    grid->addWidget(m_requestId, 0, 1);
    grid->addWidget(labelName, 1, 0);
    grid->addWidget(m_patientName, 1, 1);
    grid->setColumnStretch(2, 1);
    grid->addWidget(labelDates, 0, 3);
    grid->addWidget(m_dateStart, 0, 4);
    grid->addWidget(labelArrow, 0, 5);
    grid->addWidget(m_dateEnd, 0, 6);
    m_unvalidatedOnly = new QCheckBox(QStringLiteral("Doar cereri &nevalidate"), group);
    m_unvalidatedOnly->setObjectName(QStringLiteral("checkUnvalidated"));
    m_unvalidatedOnly->setToolTip(QStringLiteral("Cauta doar seturile ale caror cereri nu au un buletin validat"));
    grid->addWidget(m_unvalidatedOnly, 1, 3, 1, 4);
    m_unannouncedOnly = new QCheckBox(QStringLiteral("Doar cu valori &critice neanuntate"), group);
    m_unannouncedOnly->setObjectName(QStringLiteral("checkUnannouncedCritical"));
    m_unannouncedOnly->setToolTip(
        QStringLiteral("Cauta doar seturile cu valori critice pentru care nu s-a inregistrat cui au fost anuntate"));
    m_unannouncedOnly->setAccessibleDescription(m_unannouncedOnly->toolTip());
    grid->addWidget(m_unannouncedOnly, 2, 3, 1, 4);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_search);
    buttonRow->addStretch(1);
    grid->addLayout(buttonRow, 3, 0, 1, 7);

    m_list = new EditableListView(this);
    m_list->setObjectName(QStringLiteral("resultList"));
    ListMarks::Layout marksLayout;
    marksLayout.requestIdColumn = ColRequestId;
    marksLayout.dateColumn = ColDate;
    marksLayout.columnOfField = &ResultsWindow::columnOfField;
    marksLayout.valueText = [this](const QString& field, const QVariant& value) {
        return fieldValueText(field, value);
    };
    marksLayout.searchDay = &ResultsWindow::toSqlDate;
    m_marks = std::make_unique<ListMarks>(m_list, std::move(marksLayout));
    m_list->setRowPreparer([this](const QList<int>& rows) {
        // A reason for missing marks found while scrolling joins the search's status.
        if (m_marks->markRows(m_sharedState ? m_sharedState->m_database : nullptr, journal(), rows))
            showStatus(m_foundText + m_marks->unreadText());
    });

    m_waitingBar = new WaitingBar(this);
    auto* searchBar = new WaitingBar(this);
    searchBar->setObjectName(QStringLiteral("searchWaitingBar"));
    m_waitedSearch = std::make_unique<WaitedSearch>(searchBar);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(m_waitingBar);
    layout->addWidget(searchBar);
    layout->addWidget(m_list, 1);

    setTabOrder(m_requestId, m_patientName);
    setTabOrder(m_patientName, m_dateStart);
    setTabOrder(m_dateStart, m_dateEnd);
    setTabOrder(m_dateEnd, m_search);
    setTabOrder(m_search, m_list);
    // Like a form, the window hands the keyboard to its first field when it is opened or activated.
    setFocusProxy(m_requestId);

    // Enter in any search field runs the search, as the form's default button would.
    for (QWidget* field : std::initializer_list<QWidget*>{m_requestId, m_patientName, m_dateStart, m_dateEnd})
        field->installEventFilter(this);
    m_list->installEventFilter(this);
    m_listViewport = m_list->viewport();
    m_listViewport->installEventFilter(this);

    connect(m_search, &QPushButton::clicked, this, &ResultsWindow::onSearch);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &ResultsWindow::refreshIfNew);
    m_refreshTimer->start();
    connect(m_list, &EditableListView::gridEditDone, this, &ResultsWindow::onGridEditDone);
    connect(m_list, &EditableListView::gridFillCombo, this, &ResultsWindow::onGridFillCombo, Qt::DirectConnection);
    connect(m_list, &EditableListView::listRightClicked, this, &ResultsWindow::onListRightClick);
    connect(m_list, &EditableListView::listDoubleClicked, this, &ResultsWindow::onListDoubleClick);
    createRowCommands();
}

void ResultsWindow::createRowCommands() {
    m_rowMenu = new QMenu(QString::fromLatin1(kMenuResults), this);
    m_rowMenu->setObjectName(QStringLiteral("menuResults"));
    m_commentAction = m_rowMenu->addAction(QString::fromLatin1(kMenuComment));
    m_commentAction->setObjectName(QStringLiteral("commandComment"));
    m_historyAction = m_rowMenu->addAction(QString::fromLatin1(kMenuHistory));
    m_historyAction->setObjectName(QStringLiteral("commandHistory"));
    // The menu shows the list's key; the list itself answers it, so it never fires elsewhere.
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_historyAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_commentAction, &QAction::triggered, this, [this]() { editComment(currentRow()); });
    connect(m_historyAction, &QAction::triggered, this, &ResultsWindow::onHistory);
    m_validateAction = m_rowMenu->addAction(QString::fromLatin1(kMenuValidate));
    m_validateAction->setObjectName(QStringLiteral("commandValidate"));
    m_validateAction->setShortcut(QKeySequence(Qt::Key_F9));
    m_validateAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_validateAction, &QAction::triggered, this, &ResultsWindow::onValidate);
    m_evolutionAction = m_rowMenu->addAction(QString::fromLatin1(kMenuEvolution));
    m_evolutionAction->setObjectName(QStringLiteral("commandEvolution"));
    m_evolutionAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_evolutionAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_evolutionAction, &QAction::triggered, this, &ResultsWindow::onEvolution);

    QAbstractItemModel* rows = m_list->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &ResultsWindow::updateRowCommands);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &ResultsWindow::updateRowCommands);
    connect(rows, &QAbstractItemModel::modelReset, this, &ResultsWindow::updateRowCommands);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, &ResultsWindow::updateRowCommands);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ResultsWindow::updateRowCommands);
    updateRowCommands();
}

void ResultsWindow::updateRowCommands() {
    const bool hasRow = currentRow() >= 0;
    m_commentAction->setEnabled(hasRow);
    m_historyAction->setEnabled(hasRow);
    m_validateAction->setEnabled(hasRow);
    m_evolutionAction->setEnabled(hasRow);
}

ResultsWindow::~ResultsWindow() = default;

bool ResultsWindow::applyCorrection(const Correction& correction, const QString& reason, int* changed,
                                    QString* failure) {
    failure->clear();
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!database)
        return false;
    if (m_background && m_background->running()) {
        *failure = QString::fromLatin1(kMsgCorrectionWaiting);
        return false;
    }
    if (!m_background || m_background->database() != database)
        m_background = std::make_unique<BackgroundCorrection>(database, m_waitingBar);
    const BackgroundCorrection::Result result =
        m_background->apply(correction.field, correction.newValue, correction.scope, correction.scopeValues, reason);
    if (changed)
        *changed = result.changed;
    if (result.stored)
        return true;
    *failure = correctionFailureText(result);
    if (!result.unloggedEntry.isEmpty()) {
        *failure += QLatin1Char('\n') + QString::fromLatin1(kMsgValuesNotLogged)
                                            .arg(database->m_logFile, result.logWriteError, result.unloggedEntry);
    }
    return false;
}

CorrectionJournal* ResultsWindow::journal() {
    if (!m_journal)
        m_journal = std::make_unique<CorrectionJournal>(m_sharedState ? m_sharedState->m_database : nullptr);
    return m_journal.get();
}

void ResultsWindow::closeEvent(QCloseEvent* event) {
    if (m_background && m_background->running()) {
        m_background->giveUp();
        event->ignore();
        return;
    }
    if (m_waitedSearch->waiting()) {
        m_waitedSearch->giveUp();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

bool ResultsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_listViewport) {
        // A plain right click keeps opening the comment; with Shift it opens the list's menu,
        // so the mouse reaches the history too.
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton && mouse->modifiers() == Qt::ShiftModifier) {
                const QPoint at = mouse->position().toPoint();
                const int row = m_list->hitTestCell(at, nullptr);
                if (!m_list->hasFocus())
                    m_list->setFocus(Qt::MouseFocusReason);
                if (row >= 0) {
                    // The menu acts on the clicked row, as a right click's comment does.
                    const QModelIndex index = m_list->model()->index(row, 0);
                    QItemSelectionModel* selection = m_list->selectionModel();
                    if (selection->isSelected(index))
                        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
                    else
                        selection->setCurrentIndex(index,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                }
                showListMenu(m_list->viewport()->mapToGlobal(at));
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    if (watched == m_list) {
        if (event->type() == QEvent::KeyPress) {
            const auto* keyEvent = static_cast<QKeyEvent*>(event);
            const int key = keyEvent->key();
            const Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~Qt::KeypadModifier;
            // An Enter that ends an in-place edit is taken by the editor and never arrives here.
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
                openBulletin(currentRow());
                return true;
            }
            if (key == Qt::Key_H && modifiers == Qt::ControlModifier) {
                onHistory();
                return true;
            }
            if (key == Qt::Key_F9 && modifiers == Qt::NoModifier) {
                onValidate();
                return true;
            }
            if (key == Qt::Key_E && modifiers == Qt::ControlModifier) {
                onEvolution();
                return true;
            }
            if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
                (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
                showListMenu();
                return true;
            }
        } else if (event->type() == QEvent::ContextMenu &&
                   static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            // A right click has its own handling (the comment dialog); only the keyboard's menu is shown.
            showListMenu();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onSearch();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ResultsWindow::onInitialUpdate() {
    m_list->setExtendedStyle(EditableListView::LVS_EX_FULLROWSELECT);
    // A database without critical limits shows the search as it always did; one whose question
    // failed keeps the choice, and a search then says why it cannot be answered.
    if (DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr)
        m_unannouncedOnly->setVisible(tableExists(database, QStringLiteral("CRITICAL_VALUES")) != 0);
    const char* const headers[kColumnCount] = {"ID",         "Descriere proba", "Varsta", "SEX", "Transfer Date",
                                               "Comentarii", "Profil"};
    for (int column = 0; column < kColumnCount; ++column)
        m_list->insertListColumn(column, QString::fromLatin1(headers[column]), EditableListView::LVCFMT_LEFT);
    m_list->markColumnAsCombo(ColProfile, true);
    // With no rows yet, auto-size gives each header's width and the padding around a text.
    // The header's minimum section size would hide the bare padding, so it is lifted meanwhile.
    QHeaderView* header = m_list->header();
    const int minimumSection = header->minimumSectionSize();
    header->setMinimumSectionSize(0);
    m_list->setListColumnWidth(0, EditableListView::LVSCW_AUTOSIZE);
    m_textPadding = m_list->getColumnWidth(0);
    header->setMinimumSectionSize(minimumSection);
    m_emptyColumnWidths.assign(kColumnCount, 0);
    for (int column = 0; column < kColumnCount; ++column) {
        m_list->setListColumnWidth(column, EditableListView::LVSCW_AUTOSIZE_USEHEADER);
        m_emptyColumnWidths[column] = m_list->getColumnWidth(column);
    }
    m_list->markColumnReadOnly(ColDate, true);
    m_list->markColumnReadOnly(ColComment, true);

    loadProfiles();
    restoreListLayout();
    onSearch();
    // Shown after the first search, whose count would otherwise replace it at once.
    if (m_sharedState && m_sharedState->m_database && !journal()->available() && journal()->errorText().isEmpty()) {
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

void ResultsWindow::autoSizeColumns(int count) {
    for (int column = 0; column < count; ++column)
        m_list->setListColumnWidth(column, EditableListView::LVSCW_AUTOSIZE_USEHEADER);
}

void ResultsWindow::sizeColumnsToTexts(const std::vector<WidestTextTracker>& widest) {
    if (m_emptyColumnWidths.size() != static_cast<size_t>(kColumnCount)) {
        autoSizeColumns(kColumnCount);
        return;
    }
    for (int column = 0; column < kColumnCount; ++column)
        m_list->setListColumnWidth(column,
                                   std::max(m_emptyColumnWidths[column], widest[column].widest() + m_textPadding));
}

void ResultsWindow::loadProfiles() {
    m_profiles.clear();
    m_profileNames.clear();
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!m_recordset.open(QString::fromLatin1(kSelectProfiles), database)) {
        labrosaMessageBox(failureText(database, m_recordset.errorText()), this);
        return;
    }
    const QString idField = QStringLiteral("id");
    const QString nameField = QStringLiteral("profileName");
    QVariant id, name;
    while (!m_recordset.isEOF()) {
        ProfileEntry entry;
        if (m_recordset.getFieldValue(idField, &id) && !id.isNull())
            entry.id = id.toInt();
        if (m_recordset.getFieldValue(nameField, &name))
            entry.name = plainText(name).left(79);
        if (!m_profileNames.contains(entry.id))
            m_profileNames.insert(entry.id, entry.name);
        m_profiles.push_back(std::move(entry));
        m_recordset.moveNext();
    }
    m_recordset.close();
}

QString ResultsWindow::profileNameById(int id) const {
    return m_profileNames.value(id);
}

QString ResultsWindow::toSqlDate(const QString& dayMonthYear) {
    const std::string text = dayMonthYear.toStdString();
    std::string parts[3];
    int position = 0;
    for (std::string& part : parts) {
        if (!nextToken(text, position, part, 10, '/'))
            part.clear();
    }
    return QString::fromStdString(parts[2] + '/' + parts[1] + '/' + parts[0]);
}

void ResultsWindow::settleDatePickers() {
    // Enter in a picker arrives before the picker has taken its half-typed text; settle
    // both, or a day left blank would drop that end of the range without a word.
    for (QDateEdit* picker : {m_dateStart, m_dateEnd}) {
        // A picker showing its own date has nothing to settle, and settling repaints it.
        if (picker->text() != picker->locale().toString(picker->date(), picker->displayFormat()))
            picker->interpretText();
    }
}

void ResultsWindow::showStatus(const QString& text) {
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

void ResultsWindow::onSearch() {
    // A search that waits for the database keeps the window working: not a second one meanwhile.
    if (m_waitedSearch->waiting())
        return;
    QElapsedTimer elapsed;
    elapsed.start();
    if (m_requestId->text().trimmed().isEmpty()) {
        // An end before the start would find nothing; the list keeps what it showed instead of
        // looking as though the days were empty.
        settleDatePickers();
        if (m_dateEnd->date() < m_dateStart->date()) {
            labrosaMessageBox(QString::fromLatin1(kMsgInvertedRange).arg(m_dateStart->text(), m_dateEnd->text()), this);
            return;
        }
    }
    m_list->deleteAllItems();
    // The count of the search before no longer says what the list shows.
    showStatus(QString());
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    // Asked before the search, so that a set arriving meanwhile is found by the next look; on the
    // search's own connection, as the search waits.
    m_newestSeen = -1;
    if (database) {
        Recordset newest;
        QVariant value;
        if (m_waitedSearch->open(newest, database, QString::fromLatin1(kSelectNewestSet), {}) && !newest.isEOF() &&
            newest.getFieldValueAt(0, &value)) {
            m_newestSeen = value.isNull() ? 0 : value.toLongLong();
        } else if (newest.givenUp()) {
            autoSizeColumns(kColumnCount);
            showStatus(QString::fromLatin1(WaitedSearch::kGivenUpText));
            return;
        }
    }
    SqlDialect dialect = database ? database->dialect() : SqlDialect();
    dialect.setNameShadow(SearchIndexes::of(database).nameShadow);

    // The conditions after "WHERE (1=1)", kept to find the corrections of the listed sets.
    QString sql;
    QVariantList values;
    const QString requestId = m_requestId->text().trimmed();
    const QString name = m_patientName->text();
    // The identifier's number, compared exactly whatever its length; empty when not searched by it.
    QString wantedNumber;
    if (!requestId.isEmpty()) {
        // A request identifier alone decides: dates and name are not looked at.
        if (requestId.size() > kMaxRequestIdLength) {
            labrosaMessageBox(QString::fromLatin1(kMsgRequestIdTooLong).arg(kMaxRequestIdLength), this);
            autoSizeColumns(kColumnCount);
            return;
        }
        if (!isWholeNumber(requestId)) {
            labrosaMessageBox(QString::fromLatin1(kMsgBadRequestId), this);
            autoSizeColumns(kColumnCount);
            return;
        }
        wantedNumber = SqlDialect::canonicalLeadingNumber(requestId);
        sql += QStringLiteral(" AND ") + dialect.leadingNumberEquals(QStringLiteral("RESULTS.RequestID"));
        values << dialect.leadingNumberValue(wantedNumber);
    } else {
        if (name.size() > kMaxNameLength) {
            labrosaMessageBox(QString::fromLatin1(kMsgNameTooLong).arg(kMaxNameLength), this);
            autoSizeColumns(kColumnCount);
            return;
        }
        const QString firstDay = toSqlDate(m_dateStart->text());
        const QString lastDay = toSqlDate(m_dateEnd->text());
        const QString days = dialect.dayRangeCondition(QStringLiteral("RESULTS.TransDate"), firstDay, lastDay, &values);
        if (!days.isEmpty())
            sql += QStringLiteral(" AND ") + days;
        if (!name.isEmpty())
            sql += QStringLiteral(" AND ") + dialect.patientNameCondition(name, firstDay, lastDay, &values);
    }
    const QString conditions = sql;
    sql = QString::fromLatin1(kSelectResults).arg(dialect.dayOf(QStringLiteral("TransDate"))) + conditions +
          QString::fromLatin1(kOrderResults);

    QSet<qint64> validatedSets;
    if (m_unvalidatedOnly->isChecked()) {
        QString error;
        if (!validatedSetsOfSearch(QStringLiteral("(1=1)") + conditions, values, &validatedSets, &error)) {
            // Listing validated requests among the unvalidated ones would mislead.
            labrosaMessageBox(QString::fromLatin1(kMsgValidationsNotRead).arg(failureText(database, error)), this);
            autoSizeColumns(kColumnCount);
            return;
        }
    }
    QSet<qint64> unannouncedSets;
    const bool unannouncedOnly = m_unannouncedOnly->isChecked();
    if (unannouncedOnly) {
        QString error;
        if (!unannouncedSetsOfSearch(QStringLiteral("(1=1)") + conditions, values, &unannouncedSets, &error)) {
            // A failed question is not an answer of "none".
            labrosaMessageBox(QString::fromLatin1(kMsgCriticalNotRead).arg(failureText(database, error)), this);
            autoSizeColumns(kColumnCount);
            return;
        }
    }
    if (!m_waitedSearch->open(m_recordset, database, sql, values)) {
        autoSizeColumns(kColumnCount);
        if (m_recordset.givenUp()) {
            showStatus(QString::fromLatin1(WaitedSearch::kGivenUpText));
            return;
        }
        DatabaseConnection* searched = m_recordset.m_connection;
        const bool tooLong = searched && searched->lastErrorCode() == QLatin1String(kQueryCanceled);
        labrosaMessageBox((tooLong ? QString::fromLatin1(kMsgSearchTooLong)
                                             .arg(QString::number(searched->limits().statementMs / 1000.0)
                                                      .replace(QLatin1Char('.'), QLatin1Char(','))) +
                                         QLatin1Char('\n')
                                   : QString()) +
                              failureText(searched, m_recordset.errorText()),
                          this);
        return;
    }

    // Column positions are looked up once per search, not once per value.
    const int idColumn = m_recordset.fieldIndex(QStringLiteral("ID"));
    const int requestIdColumn = m_recordset.fieldIndex(QStringLiteral("RequestID"));
    const int nameColumn = m_recordset.fieldIndex(QStringLiteral("PacientName"));
    const int dateColumn = m_recordset.fieldIndex(QStringLiteral("TransDate"));
    const int ageColumn = m_recordset.fieldIndex(QStringLiteral("Age"));
    const int sexColumn = m_recordset.fieldIndex(QStringLiteral("SEX"));
    const int commentColumn = m_recordset.fieldIndex(QStringLiteral("comment"));
    const int profileColumn = m_recordset.fieldIndex(QStringLiteral("profileID"));

    // The grid's auto-size measures every row, which takes seconds for a large result, so the
    // widths come from texts measured while filling.
    std::vector<WidestTextTracker> widest(kColumnCount, WidestTextTracker(m_list->fontMetrics()));
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
    m_list->beginFill();
    while (!m_recordset.isEOF()) {
        QAnyStringView cells[kColumnCount];
        m_recordset.getFieldTextAt(requestIdColumn, &cells[ColRequestId]);
        if (!wantedNumber.isEmpty() &&
            SqlDialect::canonicalLeadingNumber(cells[ColRequestId].toString()) != wantedNumber) {
            // A longer number that the database read as the same 64-bit limit.
            m_recordset.moveNext();
            continue;
        }
        m_recordset.getFieldTextAt(nameColumn, &cells[ColName]);
        qint64 number = 0;
        if (m_recordset.getFieldIntegerAt(ageColumn, &number)) {
            cells[ColAge] = ageText.of(number);
        } else if (m_recordset.getFieldValueAt(ageColumn, &value)) {
            age = integerText(value);
            cells[ColAge] = age;
        }
        m_recordset.getFieldTextAt(sexColumn, &cells[ColSex]);
        bool isNull = true;
        QAnyStringView stored;
        if (m_recordset.getFieldTextAt(dateColumn, &stored, &isNull) && !isNull) {
            day = dayTexts.text(stored);
            cells[ColDate] = day;
        }
        m_recordset.getFieldTextAt(commentColumn, &cells[ColComment]);
        bool hasProfile = false;
        int profileId = 0;
        if (m_recordset.getFieldIntegerAt(profileColumn, &number)) {
            hasProfile = number >= INT_MIN && number <= INT_MAX;
            profileId = int(number);
        } else if (m_recordset.getFieldValueAt(profileColumn, &value) && !value.isNull()) {
            profileId = value.toInt(&hasProfile);
        }
        if (hasProfile) {
            if (!profileNamed || profileId != namedProfileId) {
                profile = profileNameById(profileId);
                namedProfileId = profileId;
                profileNamed = true;
            }
            cells[ColProfile] = profile;
        }
        qint64 id = 0;
        if (!m_recordset.getFieldIntegerAt(idColumn, &id) && m_recordset.getFieldValueAt(idColumn, &value))
            id = value.toLongLong();
        if ((!validatedSets.isEmpty() && validatedSets.contains(id)) ||
            (unannouncedOnly && !unannouncedSets.contains(id))) {
            m_recordset.moveNext();
            continue;
        }
        m_list->appendItem(cells, kColumnCount, id);
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
        m_recordset.moveNext();
    }
    const bool complete = !m_recordset.readFailed();
    const QString readError = m_recordset.errorText();
    m_recordset.close();
    // The marks of the first rows go on while they are still unpublished, one notice for all; the
    // list asks for the others as they come into view.
    m_marks->reset();
    if (complete)
        m_list->prepareRows(0, EditableListView::kPrepareBlock - 1);
    m_list->endFill();
    if (!complete) {
        // Part of a result shown as the whole would hide records from the user.
        m_list->deleteAllItems();
        autoSizeColumns(kColumnCount);
        labrosaMessageBox(QString::fromLatin1(kMsgSearchIncomplete).arg(failureText(database, readError)), this);
        return;
    }
    sizeColumnsToTexts(widest);
    // Without the marks the list is still whole, but it must not look as though none were validated.
    m_foundText = foundText(m_list->getItemCount(), elapsed.elapsed());
    showStatus(m_foundText + m_marks->unreadText());
}

bool ResultsWindow::validatedSetsOfSearch(const QString& condition, const QVariantList& values, QSet<qint64>* validated,
                                          QString* error) {
    validated->clear();
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!database)
        return true;
    BulletinValidation validation(database);
    if (!validation.available()) {
        *error = validation.errorText();
        return error->isEmpty();
    }
    bool any = false;
    if (!validation.anyValidation(&any)) {
        *error = validation.errorText();
        return false;
    }
    if (!any)
        return true;
    QHash<qint64, BulletinKey> sets;
    Recordset read;
    if (!read.open(QStringLiteral("SELECT ID, RequestID, %1 AS TransDate FROM RESULTS WHERE ")
                           .arg(database->dialect().dateTimeText(QStringLiteral("TransDate"))) +
                       condition,
                   database, values, Recordset::Reading::Texts)) {
        *error = read.errorText();
        return false;
    }
    QVariant id, requestId, transDate;
    while (!read.isEOF()) {
        read.getFieldValue(QStringLiteral("ID"), &id);
        read.getFieldValue(QStringLiteral("RequestID"), &requestId);
        read.getFieldValue(QStringLiteral("TransDate"), &transDate);
        sets.insert(id.toLongLong(),
                    {requestId.toString(), BulletinKey::dayFromSearchText(transDate.toString().left(10))});
        read.moveNext();
    }
    const bool complete = !read.readFailed();
    *error = read.errorText();
    read.close();
    if (!complete)
        return false;
    error->clear();
    QSet<BulletinKey> bulletins;
    for (const BulletinKey& key : sets)
        bulletins.insert(key);
    QHash<BulletinKey, ValidationRecord> holding;
    ValidatedBulletins finder(database);
    if (!finder.find(bulletins, &holding)) {
        *error = finder.errorText();
        return false;
    }
    for (auto it = sets.cbegin(); it != sets.cend(); ++it)
        if (holding.contains(it.value()))
            validated->insert(it.key());
    return true;
}

bool ResultsWindow::unannouncedSetsOfSearch(const QString& condition, const QVariantList& values, QSet<qint64>* sets,
                                            QString* error) {
    sets->clear();
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!database)
        return true;
    CriticalLimits limits(database, bulletinValueReading());
    std::vector<CriticalValue> critical, unannounced;
    if (!limits.criticalValuesWhere(condition, values, &critical)) {
        *error = limits.errorText();
        return false;
    }
    CriticalNotifications notifications(database);
    if (!notifications.unannounced(critical, &unannounced)) {
        *error = notifications.errorText();
        return false;
    }
    for (const CriticalValue& value : unannounced)
        sets->insert(value.resultId);
    return true;
}

void ResultsWindow::askCriticalNotification(const QString& requestId, const BulletinBuildResult& result) {
    if (!result.opened || result.unannounced.empty() || !m_sharedState)
        return;
    const QStringList messages = CriticalNotificationDialog::askAndRecord(m_sharedState->m_database, requestId,
                                                                          result.resultIds, result.unannounced, this);
    for (const QString& message : messages)
        labrosaMessageBox(message, this);
    if (!messages.isEmpty())
        return;
    // The listed sets of the request now say they were told.
    m_marks->markTold(result.resultIds);
}

int ResultsWindow::columnOfField(const QString& field) {
    static const QHash<QString, int> columns{{QStringLiteral("requestid"), ColRequestId},
                                             {QStringLiteral("pacientname"), ColName},
                                             {QStringLiteral("age"), ColAge},
                                             {QStringLiteral("sex"), ColSex},
                                             {QStringLiteral("comment"), ColComment},
                                             {QStringLiteral("profileid"), ColProfile}};
    return columns.value(field.toLower(), -1);
}

QString ResultsWindow::fieldValueText(const QString& field, const QVariant& value) const {
    if (value.isNull() || value.toString().isEmpty())
        return QStringLiteral("(gol)");
    if (field.compare(QLatin1String("profileID"), Qt::CaseInsensitive) == 0) {
        const QString name = profileNameById(value.toInt());
        return name.isEmpty() ? QStringLiteral("profilul %1").arg(value.toString()) : name;
    }
    return value.toString();
}

bool ResultsWindow::buildCorrection(int row, int column, Correction* correction) {
    const qint64 recordId = m_list->getItemData(row);
    const QString day = toSqlDate(m_list->getItemText(row, ColDate).left(99));
    const QString requestId = m_list->getItemText(row, ColRequestId).left(99);
    const QString text = m_list->getItemText(row, column);

    QString field;
    QVariant newValue;
    switch (column) {
    case ColRequestId:
        if (text.trimmed().isEmpty()) {
            labrosaMessageBox(QString::fromLatin1(kMsgEmptyNewId), this);
            return false;
        }
        if (text.size() > kMaxRequestIdLength) {
            labrosaMessageBox(QString::fromLatin1(kMsgNewIdTooLong).arg(kMaxRequestIdLength), this);
            return false;
        }
        *correction = {QStringLiteral("RequestID"), text, QString::fromLatin1(kScopeRecord), {recordId}};
        return true;
    case ColName:
    case ColSex: {
        // The sex column holds at most 10 characters; a longer text is refused on every backend alike.
        const int limit = column == ColSex ? kMaxSexLength : kMaxCellLength;
        if (text.size() > limit) {
            labrosaMessageBox(QString::fromLatin1(kMsgCellTooLong).arg(limit), this);
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
            const int number = isWholeNumber(age) && age.size() <= 4 ? age.toInt(&ok) : -1;
            if (!ok || number < 0 || number > kMaxAge) {
                labrosaMessageBox(QString::fromLatin1(kMsgBadAge).arg(kMaxAge), this);
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

    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    const SqlDialect dialect = database ? database->dialect() : SqlDialect();
    QVariantList dayValues;
    const QString sameDay = dialect.dayRangeCondition(QStringLiteral("TransDate"), day, day, &dayValues);
    if (namesNoRequest(requestId) || SqlDialect::dayStart(day).isEmpty()) {
        // No request to share the correction with, or no readable day to tell the rest of it apart.
        *correction = {field, newValue, QString::fromLatin1(kScopeRecord), {recordId}};
        return true;
    }
    *correction = {field, newValue, QString::fromLatin1(kScopeRequestOfDay).arg(sameDay),
                   QVariantList{recordId, requestId} + dayValues};
    return true;
}

void ResultsWindow::onGridEditDone(int row, int column) {
    // A cell left with the text it was read with is no correction: storing it would write the
    // whole request of the day again (and turn a NULL into an empty text) with journal rows.
    const std::optional<QString> before = m_list->textBeforeEdit(row, column);
    if (before && *before == m_list->getItemText(row, column))
        return;
    if (row >= 0 && row < m_list->getItemCount()) {
        Correction correction;
        QString reason;
        if (buildCorrection(row, column, &correction) &&
            askAmendmentReason(m_list->getItemData(row), false, QString::fromLatin1(kMsgUpdateFailed), &reason)) {
            QString failure;
            if (!applyCorrection(correction, reason, nullptr, &failure))
                labrosaMessageBox(QString::fromLatin1(kMsgUpdateFailed) +
                                      (failure.isEmpty() ? QString() : QLatin1Char('\n') + failure),
                                  this);
        }
    }
    onSearch();
}

void ResultsWindow::onGridFillCombo(int column, QStringList* entries) {
    if (!entries)
        return;
    entries->clear();
    if (column != ColProfile)
        return;
    for (const ProfileEntry& entry : m_profiles)
        entries->append(entry.name);
}

void ResultsWindow::onListRightClick() {
    // The row under the pointer, even inside a selection of several rows.
    editComment(m_list->getContextItem());
}

int ResultsWindow::currentRow() const {
    const int row = m_list->currentIndex().isValid() ? m_list->currentIndex().row() : -1;
    return row >= 0 && row < m_list->getItemCount() ? row : m_list->getFirstSelectedItem();
}

void ResultsWindow::showListMenu(std::optional<QPoint> globalAt) {
    const int row = currentRow();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("listMenu"));
    updateRowCommands();
    menu.addActions({m_commentAction, m_historyAction, m_validateAction, m_evolutionAction});
    // At the pointer for the mouse; for the keyboard under the current row, or at the top of
    // the list when there is none.
    QPoint at(0, 0);
    if (row >= 0 && !globalAt) {
        m_list->scrollTo(m_list->model()->index(row, 0));
        at = m_list->visualRect(m_list->model()->index(row, 0)).bottomLeft();
    }
    // The chosen command runs through its own triggered signal.
    menu.exec(globalAt ? *globalAt : m_list->viewport()->mapToGlobal(at));
}

bool ResultsWindow::askAmendmentReason(qint64 recordId, bool wholeRequest, const QString& failedHeadline,
                                       QString* reason) {
    reason->clear();
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!database)
        return true;
    BulletinArchive archive(database);
    if (!archive.available()) {
        if (archive.errorText().isEmpty())
            return true;
        labrosaMessageBox(
            QString::fromLatin1(kMsgArchiveNotRead).arg(failedHeadline, failureText(database, archive.errorText())),
            this);
        return false;
    }
    // The bulletin the set belongs to as stored, not as the edited cell now shows it.
    QString requestId, day;
    {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectRequestOf)
                           .arg(database->dialect().dateTimeText(QStringLiteral("TransDate"))),
                       database, {recordId}, Recordset::Reading::Texts)) {
            labrosaMessageBox(
                QString::fromLatin1(kMsgArchiveNotRead).arg(failedHeadline, failureText(database, read.errorText())),
                this);
            return false;
        }
        QVariant value;
        if (!read.isEOF() && read.getFieldValue(QStringLiteral("RequestID"), &value))
            requestId = value.toString();
        if (!read.isEOF() && read.getFieldValue(QStringLiteral("TransDate"), &value))
            day = BulletinKey::dayFromSearchText(value.toString().left(10));
        read.close();
    }
    // A correction of the day's sets reaches that day's bulletin; the comment, every day's.
    const std::vector<ArchivedBulletin> bulletins =
        wholeRequest ? archive.listForRequest(requestId) : archive.listForBulletin({requestId, day});
    if (!archive.errorText().isEmpty()) {
        labrosaMessageBox(
            QString::fromLatin1(kMsgArchiveNotRead).arg(failedHeadline, failureText(database, archive.errorText())),
            this);
        return false;
    }
    // Only a copy that left the program (validated, printed, exported, saved) was read by
    // anybody outside. Records whose identifier names no request share it without sharing
    // their bulletins.
    const bool noRequest = namesNoRequest(requestId);
    const bool released =
        std::any_of(bulletins.begin(), bulletins.end(), [recordId, noRequest](const ArchivedBulletin& b) {
            return b.leftTheProgram() && (!noRequest || b.resultId == recordId);
        });
    return !released || AmendmentReasonDialog::ask(requestId, this, reason);
}

void ResultsWindow::onValidate() {
    const int row = currentRow();
    if (row < 0 || !m_sharedState) {
        QApplication::beep();
        return;
    }
    const BulletinBuildResult result =
        validateBulletin(m_recordset, *m_sharedState, static_cast<int>(m_list->getItemData(row)),
                         m_list->getItemText(row, ColRequestId), toSqlDate(m_list->getItemText(row, ColDate)), this);
    for (const QString& message : result.messages)
        labrosaMessageBox(message, this);
    askCriticalNotification(m_list->getItemText(row, ColRequestId), result);
    // The list shows the request's new mark.
    if (result.opened || (!result.cancelled && result.messages.isEmpty()))
        onSearch();
}

void ResultsWindow::onHistory() {
    const int row = currentRow();
    if (row < 0 || !m_sharedState) {
        QApplication::beep();
        return;
    }
    DatabaseConnection* database = m_sharedState->m_database;
    HistoryDialog dialog(
        database, m_sharedState->m_bulletinTemplate,
        [this](const QString& field, const QVariant& value) { return fieldValueText(field, value); }, this);
    if (!dialog.load(m_list->getItemText(row, ColRequestId), m_list->getItemData(row))) {
        labrosaMessageBox(QString::fromLatin1(kMsgHistoryNotRead).arg(failureText(database, dialog.errorText())), this);
        return;
    }
    dialog.exec();
}

void ResultsWindow::onEvolution() {
    const int row = currentRow();
    if (row < 0 || !m_sharedState) {
        QApplication::beep();
        return;
    }
    DatabaseConnection* database = m_sharedState->m_database;
    auto* window = new EvolutionWindow(database, m_list->getItemData(row), m_list->getItemText(row, ColName), this);
    if (!window->load()) {
        labrosaMessageBox(QString::fromLatin1(kMsgEvolutionNotRead).arg(failureText(database, window->errorText())),
                          this);
        delete window;
        return;
    }
    window->show();
}

void ResultsWindow::editComment(int row) {
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    QString comment;
    qint64 recordId = 0;
    if (row >= 0) {
        recordId = m_list->getItemData(row);
        if (!m_recordset.open(QString::fromLatin1(kSelectComment), database, {recordId})) {
            // Opening the dialog empty here would let OK wipe the stored comment.
            labrosaMessageBox(
                QString::fromLatin1(kMsgCommentReadFailed).arg(failureText(database, m_recordset.errorText())), this);
            return;
        }
        QVariant value;
        if (!m_recordset.isEOF() && m_recordset.getFieldValue(QStringLiteral("comment"), &value))
            comment = plainText(value);
        m_recordset.close();
    }

    CommentDialog dialog(this);
    dialog.m_text = &comment;
    // OK on the comment as it was shown is no correction: nothing asked, stored or recorded.
    if (dialog.exec() != QDialog::Accepted || recordId == 0 || !dialog.textChanged())
        return;
    QString reason;
    if (!askAmendmentReason(recordId, true, QString::fromLatin1(kMsgCommentNotSaved).section(QLatin1Char('\n'), 0, 0),
                            &reason))
        return;

    const QString requestId = m_list->getItemText(row, ColRequestId).left(99);
    comment = comment.left(CommentDialog::kMaxCommentLength);
    // A record whose identifier is no request keeps its comment to itself.
    const bool recordOnly = namesNoRequest(requestId);
    const QString scope = QString::fromLatin1(recordOnly ? kScopeRecord : kScopeRequest);
    const QVariantList scopeValues = recordOnly ? QVariantList{recordId} : QVariantList{requestId, recordId, requestId};
    int changed = 0;
    QString failure;
    if (!applyCorrection({QStringLiteral("comment"), comment, scope, scopeValues}, reason, &changed, &failure)) {
        labrosaMessageBox(QString::fromLatin1(kMsgCommentNotSaved).arg(failure), this);
        return;
    }
    if (changed == 0) {
        labrosaMessageBox(QString::fromLatin1(kMsgCommentRequestChanged), this);
        return;
    }
    m_list->setItemText(row, ColComment, comment);
}

void ResultsWindow::onListDoubleClick() {
    openBulletin(m_list->getFirstSelectedItem());
}

void ResultsWindow::openBulletin(int row) {
    if (row < 0 || !m_sharedState)
        return;
    const int recordId = static_cast<int>(m_list->getItemData(row));
    const BulletinBuildResult result =
        buildBulletin(m_recordset, *m_sharedState, recordId, m_list->getItemText(row, ColRequestId),
                      toSqlDate(m_list->getItemText(row, ColDate)));
    for (const QString& message : result.messages)
        labrosaMessageBox(message, this);
    askCriticalNotification(m_list->getItemText(row, ColRequestId), result);
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

void ResultsWindow::restoreListLayout() {
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
        m_dateStart->setDate(start);
        m_dateEnd->setDate(end);
    }
    for (QDateEdit* picker : {m_dateStart, m_dateEnd})
        connect(picker, &QDateEdit::dateChanged, this, [this] { saveDateRange(); });

    QHeaderView* header = m_list->header();
    header->viewport()->installEventFilter(new HeaderPressWatch(header, &m_headerDragging));
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int newWidth) { onColumnResized(column, newWidth); });
    connect(header, &QHeaderView::sectionHandleDoubleClicked, this,
            [this](int column) { onColumnHandleDoubleClicked(column); });
    for (int column = 0; column < kColumnCount; ++column)
        if (m_userColumnWidths[column] > 0)
            m_list->setListColumnWidth(column, m_userColumnWidths[column]);
}

void ResultsWindow::onColumnResized(int column, int newWidth) {
    if (column < 0 || column >= static_cast<int>(m_userColumnWidths.size()))
        return;
    if (m_headerDragging) {
        m_userColumnWidths[column] = newWidth;
        saveColumnWidths();
        return;
    }
    // Sizing to the texts after a search leaves alone a column the user sized by hand.
    const int kept = m_userColumnWidths[column];
    if (kept > 0 && newWidth != kept)
        m_list->setListColumnWidth(column, kept);
}

void ResultsWindow::onColumnHandleDoubleClicked(int column) {
    // A double click on a column's edge gives the column back to automatic sizing.
    if (column < 0 || column >= static_cast<int>(m_userColumnWidths.size()))
        return;
    m_userColumnWidths[column] = 0;
    saveColumnWidths();
    m_list->setListColumnWidth(column, EditableListView::LVSCW_AUTOSIZE_USEHEADER);
}

void ResultsWindow::saveColumnWidths() const {
    QStringList widths;
    for (int width : m_userColumnWidths)
        widths << QString::number(width);
    QSettings().setValue(QLatin1String(kKeyColumnWidths), widths);
}

void ResultsWindow::saveDateRange() const {
    QSettings settings;
    settings.setValue(QLatin1String(kKeyDateStart), m_dateStart->date());
    settings.setValue(QLatin1String(kKeyDateEnd), m_dateEnd->date());
    settings.setValue(QLatin1String(kKeyDateChosenOn), QDate::currentDate());
}

bool ResultsWindow::newestSetId(qint64* id) {
    DatabaseConnection* database = m_sharedState ? m_sharedState->m_database : nullptr;
    if (!database)
        return false;
    Recordset newest;
    QVariant value;
    if (!newest.open(QString::fromLatin1(kSelectNewestSet), database) || newest.isEOF() ||
        !newest.getFieldValueAt(0, &value))
        return false;
    *id = value.isNull() ? 0 : value.toLongLong();
    return true;
}

void ResultsWindow::refreshIfNew() {
    // Only a list of today's sets, searched by days, that nobody is working in at this moment.
    const QDate today = QDate::currentDate();
    if (!isVisible() || !m_requestId->text().trimmed().isEmpty() || m_dateStart->date() > today ||
        m_dateEnd->date() < today || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    if ((InPlaceLineEdit::hasInstance() && InPlaceLineEdit::getInstance()->isVisible()) ||
        (InPlaceComboBox::hasInstance() && InPlaceComboBox::getInstance()->isVisible()))
        return;
    // A failed look is no news: the list stays as it is and the next look asks again.
    qint64 newest = 0;
    if (!newestSetId(&newest) || newest == m_newestSeen)
        return;
    const int row = currentRow();
    const qint64 current = row >= 0 ? m_list->getItemData(row) : -1;
    onSearch();
    for (int r = 0; current >= 0 && r < m_list->getItemCount(); ++r) {
        if (m_list->getItemData(r) == current) {
            m_list->setCurrentIndex(m_list->model()->index(r, 0));
            m_list->ensureVisible(r);
            break;
        }
    }
}
