#include "BackupSchedule.h"

#include "BackupSet.h"
#include "ConnectionString.h"
#include "DatabaseBackup.h"
#include "MainWindow.h"
#include "MessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTimer>

namespace {
constexpr int kProgressEveryMs = 100;
const char* const kStateLabel = "backupState";

const char* const kStatusRunning = "Copie de siguranta in lucru: %1%";
const char* const kStatusLast = "Ultima copie de siguranta: %1";
const char* const kStatusNone = "Nicio copie de siguranta buna";
const char* const kStatusFailed = " (ultima incercare nu a reusit)";
const char* const kStatusOld = "Ultima copie de siguranta buna are %1 zile";
const char* const kMsgNone = "Baza de date nu are nicio copie de siguranta buna in \"%1\". Faceti una din meniul "
                             "Laborator, Fa o copie acum.%2";
const char* const kMsgOld = "Ultima copie de siguranta buna a bazei de date are %1 zile (din %2), mai mult decat "
                            "cele %3 ale laboratorului. Faceti una din meniul Laborator, Fa o copie acum.%4";
const char* const kMsgFolderUnreadable = "Copiile de siguranta nu pot fi gasite: %1";
const char* const kMsgFailedAlso = "\nUltima incercare nu a reusit: %1";
const char* const kMsgMade = "Copia de siguranta a fost facuta si verificata: \"%1\", %2 seturi de rezultate, "
                             "ultimul transfer %3.%4";
const char* const kMsgRemoved = "\nCopii vechi sterse (rotatia): %1.";
const char* const kMsgOnServer = "Baza de date este pe un server PostgreSQL: copiile ei le face administratorul "
                                 "serverului (meniul Laborator, Copiile serverului PostgreSQL).";
const char* const kDialogLabel = "Se face copia de siguranta a bazei de date...";
const char* const kDialogCancel = "Opreste";
} // namespace

BackupSchedule::BackupSchedule(MainWindow* frame) : m_frame(frame) {
    // On closing, before the windows go.
    if (m_frame)
        m_frame->installEventFilter(this);
}

BackupSchedule::~BackupSchedule() {
    stop();
}

void BackupSchedule::setLaboratory(const QString& connectionString, const QString& labFolder,
                                   const BackupSettings& settings) {
    stop();
    m_connection = connectionString;
    m_labFolder = labFolder;
    m_settings = settings;
    const ConnectionString parsed = ConnectionString::parse(connectionString);
    m_databaseFile = parsed.isSQLite() ? QFileInfo(parsed.sqliteFile()).absoluteFilePath() : QString();
}

void BackupSchedule::stop() {
    // News of a copy stopped here, still queued, is not this laboratory's.
    ++m_generation;
    if (m_backup)
        m_backup->cancel();
    if (m_thread.joinable())
        m_thread.join();
    m_running = false;
    m_backup.reset();
}

QString BackupSchedule::destination() const {
    return m_settings.folderIn(m_labFolder);
}

bool BackupSchedule::start() {
    if (m_running || m_databaseFile.isEmpty())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_backup = std::make_unique<DatabaseBackup>(m_connection, m_labFolder);
    m_done = 0;
    m_total = 0;
    m_backup->setProgress([this](qint64 done, qint64 total) {
        m_done = done;
        m_total = total;
    });
    m_running = true;
    DatabaseBackup* backup = m_backup.get();
    const QString target = destination();
    const bool makeFolder = m_settings.isDefaultFolder();
    const BackupSettings settings = m_settings;
    const int generation = m_generation;
    m_thread = std::thread([this, backup, target, makeFolder, settings, generation] {
        BackupResult result;
        QString error;
        const bool ok = backup->make(target, makeFolder, settings, &result, &error);
        QString text;
        if (ok) {
            text = QString::fromLatin1(kMsgMade)
                       .arg(QDir::toNativeSeparators(result.folder))
                       .arg(result.manifest.resultSets);
            text = text.arg(result.manifest.newestTransfer,
                            result.removed.isEmpty()
                                ? QString()
                                : QString::fromLatin1(kMsgRemoved).arg(result.removed.join(QLatin1String(", "))));
        }
        QMetaObject::invokeMethod(
            &m_news,
            [this, ok, text, error, generation] {
                if (generation != m_generation)
                    return;
                m_ok = ok;
                m_outcome = ok ? text : error;
                m_running = false;
                onFinished();
            },
            Qt::QueuedConnection);
    });
    showState(false);
    return true;
}

void BackupSchedule::onFinished() {
    if (m_thread.joinable())
        m_thread.join();
    showState(!m_ok && !m_interactive);
}

void BackupSchedule::waitForCopy(bool shown) {
    std::unique_ptr<QProgressDialog> dialog;
    if (shown) {
        dialog = std::make_unique<QProgressDialog>(QLatin1String(kDialogLabel), QLatin1String(kDialogCancel), 0, 100,
                                                   m_frame);
        dialog->setObjectName(QStringLiteral("backupProgress"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setMinimumDuration(0);
        connect(dialog.get(), &QProgressDialog::canceled, this, [this] {
            if (m_backup)
                m_backup->cancel();
        });
    }
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (dialog && m_total > 0)
            dialog->setValue(int(m_done * 100 / m_total));
        if (!m_running)
            loop.quit();
    });
    poll.start(kProgressEveryMs);
    if (m_running)
        loop.exec();
    // The news of the end may still be queued.
    QCoreApplication::sendPostedEvents(&m_news);
}

void BackupSchedule::startDailyCopy() {
    if (m_databaseFile.isEmpty())
        return;
    BackupSet set;
    QString error;
    const bool read = set.scan(destination(), &error);
    const BackupEntry* last = read ? set.lastGood() : nullptr;
    if (last && last->madeAt.date() == QDate::currentDate()) {
        showState(true);
        return;
    }
    m_interactive = false;
    start();
}

void BackupSchedule::copyNow() {
    if (m_databaseFile.isEmpty()) {
        labrosaMessageBox(QLatin1String(kMsgOnServer), m_frame);
        return;
    }
    // One already running (the day's) is waited for first; this one then starts.
    waitForCopy(true);
    m_interactive = true;
    if (!start())
        return;
    waitForCopy(true);
    m_interactive = false;
    labrosaMessageBox(m_outcome, m_frame);
}

void BackupSchedule::copyOnClose() {
    if (m_databaseFile.isEmpty())
        return;
    waitForCopy(true);
    BackupSet set;
    QString error;
    const BackupEntry* last = set.scan(destination(), &error) ? set.lastGood() : nullptr;
    if (last && lastWritten() <= last->madeAt)
        return;
    m_interactive = true;
    if (!start())
        return;
    waitForCopy(true);
    m_interactive = false;
    if (!m_ok)
        labrosaMessageBox(m_outcome, m_frame);
}

QDateTime BackupSchedule::lastWritten() const {
    QDateTime newest = QFileInfo(m_databaseFile).lastModified();
    const QFileInfo wal(m_databaseFile + QStringLiteral("-wal"));
    if (wal.exists() && wal.size() > 0 && wal.lastModified() > newest)
        newest = wal.lastModified();
    return newest;
}

QLabel* BackupSchedule::stateLabel() {
    QStatusBar* bar = m_frame ? m_frame->statusBar() : nullptr;
    if (!bar)
        return nullptr;
    auto* label = bar->findChild<QLabel*>(QLatin1String(kStateLabel));
    if (!label) {
        label = new QLabel(bar);
        label->setObjectName(QLatin1String(kStateLabel));
        bar->addPermanentWidget(label);
    }
    return label;
}

void BackupSchedule::showState(bool tell) {
    QLabel* label = stateLabel();
    if (!label)
        return;
    if (m_databaseFile.isEmpty()) {
        label->clear();
        return;
    }
    if (m_running) {
        label->setText(QString::fromLatin1(kStatusRunning).arg(m_total > 0 ? m_done * 100 / m_total : 0));
        // The running copy's progress, until it ends.
        QTimer::singleShot(kProgressEveryMs * 5, this, [this] {
            if (m_running)
                showState(false);
        });
        return;
    }
    BackupSet set;
    QString error;
    const bool read = set.scan(destination(), &error);
    const BackupEntry* last = read ? set.lastGood() : nullptr;
    const QString failed = m_ok || m_outcome.isEmpty() ? QString() : QString::fromLatin1(kMsgFailedAlso).arg(m_outcome);
    QString message;
    if (!read) {
        label->setText(QLatin1String(kStatusNone));
        message = QString::fromLatin1(kMsgFolderUnreadable).arg(error) + failed;
    } else if (!last) {
        label->setText(QLatin1String(kStatusNone));
        message = QString::fromLatin1(kMsgNone).arg(QDir::toNativeSeparators(destination()), failed);
    } else {
        const qint64 days = last->madeAt.date().daysTo(QDate::currentDate());
        const QString when = QLocale::c().toString(last->madeAt, QStringLiteral("yyyy-MM-dd HH:mm"));
        if (days > m_settings.maxAgeDays) {
            label->setText(QString::fromLatin1(kStatusOld).arg(days));
            message = QString::fromLatin1(kMsgOld).arg(days).arg(when).arg(m_settings.maxAgeDays).arg(failed);
        } else {
            label->setText(QString::fromLatin1(kStatusLast).arg(when));
        }
    }
    // A copy that failed is told in the status bar even while an older one is recent enough.
    if (message.isEmpty() && !failed.isEmpty())
        label->setText(label->text() + QLatin1String(kStatusFailed));
    label->setToolTip(message.isEmpty() ? QDir::toNativeSeparators(destination()) + failed : message);
    if (tell && !message.isEmpty())
        labrosaMessageBox(message, m_frame);
}

bool BackupSchedule::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_frame && event->type() == QEvent::Close)
        copyOnClose();
    return QObject::eventFilter(watched, event);
}
