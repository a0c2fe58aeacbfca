#include "BulletinView.h"

#include "BulletinBuilder.h"
#include "BulletinDocument.h"
#include "BulletinValidationCommand.h"
#include "BulletinWindowContext.h"
#include "ChildWindow.h"
#include "CriticalNotificationDialog.h"
#include "CriticalNotifications.h"
#include "DeltaMarkBar.h"
#include "DocumentTemplate.h"
#include "MessageBox.h"
#include "PdfDocumentTitle.h"
#include "PdfPageFooter.h"
#include "PdfRasterPrinter.h"
#include "PrintSetup.h"
#include "Recordset.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <utility>

namespace {
// Below this the engine's rasterised pages print visibly coarse.
constexpr int kMinPrintResolution = 300;

BulletinView* g_printingView = nullptr;

// The engine loads in-memory content as a data: URL, percent-encoded, and refuses one longer
// than 2 MB; the margin covers the URL's own head.
constexpr qsizetype kMaxInlineUrl = 2 * 1024 * 1024 - 64;
const char* const kInlineMime = "text/html;charset=UTF-8";
// The document of an archived bulletin keeps its bytes, so a further window on it shows them too.
const char* const kArchivedHtml = "labrosaArchivedHtml";
const char* const kArchivedNote = "labrosaArchivedNote";
const char* const kArchivedTitle = "%1 - buletin arhivat";
const char* const kMsgArchivedNotShown = "Buletinul arhivat nu a putut fi afisat.\n%1";
const char* const kMsgHeldNotShown = "Buletinul nu a putut fi afisat.\n%1";
// Said after the critical values' question when some values stay untold.
const char* const kNotPrinted = "Buletinul nu a fost tiparit.";
const char* const kPdfNotWritten = "Fisierul PDF nu a fost scris.";
const char* const kNotSaved = "Buletinul nu a fost salvat.";
// The copy that leaves the window could not be archived: it does not leave.
const char* const kMsgPrintNotRecorded = "Buletinul nu a fost tiparit: copia tiparita nu a putut fi pastrata in arhiva "
                                         "buletinelor.\n%1";
const char* const kMsgPdfNotRecorded = "Fisierul PDF %1 nu a fost scris: copia buletinului nu a putut fi pastrata in "
                                       "arhiva buletinelor.\n%2";
const char* const kMsgSaveNotRecorded = "Buletinul nu a fost salvat in %1: copia salvata nu a putut fi pastrata in "
                                        "arhiva buletinelor.\n%2";
const char* const kMsgNotPrinted = "Buletinul nu a putut fi tiparit. Verificati ca imprimanta este pornita si "
                                   "conectata, apoi tipariti din nou.";
const char* const kMsgPageNotShown =
    "Buletinul nu a putut fi afisat in aceasta fereastra, deci nu poate fi tiparit sau salvat.\n"
    "Deschideti-l din nou din lista de rezultate.";
const char* const kMsgPdfNotWritten = "Fisierul PDF %1 nu a putut fi scris. Un fisier cu acest nume, daca exista "
                                      "deja, a ramas asa cum era; incercati din nou sau alegeti alt dosar.";
const char* const kMsgPdfExportFailed =
    "Fisierul PDF %1 nu a putut fi scris. Un fisier cu acest nume, daca exista "
    "deja, a ramas asa cum era; alegeti alt dosar sau eliberati spatiu pe disc.\n%2";
const char* const kMsgEngineMadeNoPdf = "Motorul de afisare nu a produs PDF-ul.";
const char* const kMsgBulletinFileUnread = "Fisierul %1 nu a putut fi citit.";
const char* const kMsgNotSaved = "Buletinul nu a putut fi salvat in %1. Un fisier cu acest nume, daca exista deja, a "
                                 "ramas asa cum era; alegeti alt dosar sau eliberati spatiu pe disc.\n%2";
const char* const kMsgPdfFolderMissing =
    "Fisierul PDF nu poate fi scris: dosarul %1 nu exista. Nu s-a scris nimic; alegeti un dosar care exista.";
const char* const kMsgPdfFolderReadOnly = "Fisierul PDF nu poate fi scris: in dosarul %1 nu aveti drept de scriere. "
                                          "Nu s-a scris nimic; alegeti alt dosar.";
const char* const kPdfFolderKey = "Export/PdfFolder";
const char* const kPdfDialogTitle = "Export PDF";
const char* const kPdfFilter = "Fisiere PDF (*.pdf)";
// Margins of the exported page, in millimetres.
constexpr qreal kPdfMargin = 10.0;

BulletinDocument* documentOf(QWidget* view) {
    for (QWidget* w = view; w; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<ChildWindow*>(w))
            return frame->document();
    }
    return nullptr;
}

// Another bulletin view showing the same document (a window made with Window > New).
BulletinView* otherViewOf(BulletinDocument* document, const BulletinView* view) {
    if (!document)
        return nullptr;
    for (ChildWindow* frame : document->frames())
        if (auto* other = qobject_cast<BulletinView*>(frame->view()); other && other != view)
            return other;
    return nullptr;
}

std::function<bool(QPrinter&)>& printDialogHook() {
    static std::function<bool(QPrinter&)> hook;
    return hook;
}

std::function<QString(const QString&)>& pdfFileDialogHook() {
    static std::function<QString(const QString&)> hook;
    return hook;
}

// Writes bytes to path through a temporary file renamed over it once complete, so a failure
// leaves the old file as it was; false with the system's reason. Qt 6.4's QSaveFile::commit()
// reports success when the last buffered bytes do not fit on the disk (and leaves an empty
// file), so the buffer is flushed and checked first. A new file gets the mode the user's umask
// gives, a replaced one keeps its own.
bool writeWhole(const QString& path, const QByteArray& bytes, QString* reason) {
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.flush() && out.commit())
        return true;
    *reason = out.errorString();
    out.cancelWriting();
    return false;
}

// A part of a file name: characters no file system or archive tool takes in a name replaced,
// white space folded, no leading dot (a hidden file) and not too long.
QString fileNamePart(const QString& text) {
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f\\x7f]"));
    QString part = text.simplified();
    part.replace(unsafe, QStringLiteral("_"));
    while (part.startsWith(QLatin1Char('.')))
        part.remove(0, 1);
    return part.left(80).trimmed();
}

// Scripts stay off for the bulletin, but the engine draws its own page for a file it cannot
// read with script, and without it that page is blank. Script is allowed only while the page
// goes to a local file that cannot be read. A page shown from bytes held never needs that
// page, so script stays off for it whatever the URL.
class BulletinPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;
    bool m_heldBytes = false;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame) {
            const bool unreadable = url.isLocalFile() && !QFileInfo(url.toLocalFile()).isReadable();
            settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, unreadable && !m_heldBytes);
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }
};
} // namespace

BulletinView::BulletinView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("bulletinView"));
    m_web = new QWebEngineView(this);
    m_web->setObjectName(QStringLiteral("bulletinWeb"));
    m_web->setPage(new BulletinPage(m_web));
    // The bulletin is a plain document; nothing in it needs to run.
    m_web->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("archivedNote"));
    m_note->setWordWrap(true);
    m_note->setContentsMargins(6, 4, 6, 4);
    m_note->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_note);
    layout->addWidget(m_web, 1);
    setFocusProxy(m_web);

    // Only a page that loaded whole is printed: the engine's own page for a file it could not
    // read must never leave as a bulletin.
    connect(m_web, &QWebEngineView::loadStarted, this, [this] { m_page = PageState::Loading; });
    connect(m_web, &QWebEngineView::loadFinished, this,
            [this](bool ok) { m_page = ok ? PageState::Shown : PageState::Failed; });
}

BulletinView::~BulletinView() {
    if (g_printingView == this)
        g_printingView = nullptr;
}

void BulletinView::setOpeningContext(const DocumentContext& context) {
    if (const auto* bulletin = dynamic_cast<const BulletinWindowContext*>(&context))
        m_openedWith = std::make_unique<BulletinWindowContext>(*bulletin);
}

void BulletinView::onInitialUpdate() {
    BulletinDocument* document = documentOf(this);
    // What the window was opened with serves this update alone.
    const std::unique_ptr<BulletinWindowContext> context = std::move(m_openedWith);
    if (context && context->archived) {
        if (document) {
            document->setProperty(kArchivedHtml, context->archivedHtml);
            document->setProperty(kArchivedNote, context->archivedNote);
            document->setTitle(QString::fromLatin1(kArchivedTitle).arg(document->title()));
        }
        showArchived(context->archivedHtml, context->archivedNote);
        return;
    }
    if (document && document->property(kArchivedHtml).isValid()) {
        showArchived(document->property(kArchivedHtml).toByteArray(), document->property(kArchivedNote).toString());
        return;
    }
    if (context && !context->opened.html.isEmpty())
        m_opened = std::make_shared<OpenedBulletin>(context->opened);
    if (context && context->preliminary.sharedState) {
        const PreliminaryBulletin& preliminary = context->preliminary;
        m_validateState = preliminary.sharedState;
        m_validateRecordId = preliminary.recordId;
        m_validateRequestId = preliminary.requestId;
        m_validateDay = preliminary.day;
        auto* validate = new QPushButton(QStringLiteral("&Valideaza buletinul (F9)"), this);
        validate->setObjectName(QStringLiteral("buttonValidate"));
        connect(validate, &QPushButton::clicked, this, &BulletinView::onValidate);
        static_cast<QVBoxLayout*>(layout())->insertWidget(0, validate, 0, Qt::AlignLeft);
        auto* key = new QAction(this);
        key->setShortcut(QKeySequence(Qt::Key_F9));
        key->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(key, &QAction::triggered, this, &BulletinView::onValidate);
        addAction(key);
    }
    // Values whose change from the patient's previous set is beyond its limit, above the page.
    if (context && (!context->deltaMarks.isEmpty() || !context->deltaProblem.isEmpty()))
        static_cast<QVBoxLayout*>(layout())->insertWidget(
            0, new DeltaMarkBar(context->deltaMarks, context->deltaProblem, this));
    if (m_opened) {
        m_shownHtml = m_opened->html;
        m_shownHtmlKnown = true;
    } else if (BulletinView* other = otherViewOf(document, this); other && other->m_shownHtmlKnown) {
        // A further window of the document (Window > New) shows what the first one holds.
        m_opened = other->m_opened;
        m_shownHtml = other->m_shownHtml;
        m_shownHtmlKnown = true;
    } else {
        readShownFile();
    }
    if (m_shownHtmlKnown) {
        showHeldPage();
        return;
    }
    // The engine's own page says that the file cannot be read; nothing of it is printed.
    m_web->load(QUrl::fromLocalFile(QDir::current().filePath(QLatin1String(kBulletinFileName))));
}

void BulletinView::onValidate() {
    if (!m_validateState) {
        QApplication::beep();
        return;
    }
    Recordset recordset;
    const BulletinBuildResult result =
        validateBulletin(recordset, *m_validateState, m_validateRecordId, m_validateRequestId, m_validateDay, this);
    for (const QString& message : result.messages)
        labrosaMessageBox(message, this);
}

BulletinView* BulletinView::openArchived(DocumentTemplate* bulletinTemplate, const QByteArray& html,
                                         const QString& note) {
    if (!bulletinTemplate)
        return nullptr;
    BulletinWindowContext context;
    context.archived = true;
    context.archivedHtml = html;
    context.archivedNote = note;
    ChildWindow* frame = bulletinTemplate->openDocumentFile(QString(), true, &context);
    return frame ? qobject_cast<BulletinView*>(frame->view()) : nullptr;
}

void BulletinView::showArchived(const QByteArray& html, const QString& note) {
    m_archived = true;
    m_shownHtml = html;
    m_shownHtmlKnown = true;
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    showHeldPage();
}

void BulletinView::showHeldPage() {
    static_cast<BulletinPage*>(m_web->page())->m_heldBytes = true;
    m_web->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    m_pageFile.reset();
    const QByteArray& html = m_shownHtml;
    const QByteArray head = QByteArray("data:") + kInlineMime + ',';
    if (head.size() + html.toPercentEncoding().size() <= kMaxInlineUrl) {
        // The page's links (style sheet, marker images) resolve in the current directory, as
        // those of the bulletin file do; the engine reloads these bytes, never the file.
        const QUrl base = m_archived ? QUrl::fromLocalFile(QDir::current().absolutePath() + QLatin1Char('/'))
                                     : QUrl::fromLocalFile(QDir::current().filePath(QLatin1String(kBulletinFileName)));
        m_web->page()->setContent(html, QString::fromLatin1(kInlineMime), base);
        return;
    }
    // Too large for the engine's in-memory load: a file of its own beside the bulletin file,
    // removed with the window.
    auto file = std::make_unique<QTemporaryFile>(QDir::current().filePath(
        m_archived ? QStringLiteral("_buletin_arhivat_XXXXXX.html") : QStringLiteral("_buletin_XXXXXX.html")));
    if (!file->open() || file->write(html) != html.size() || !file->flush()) {
        m_page = PageState::Failed;
        labrosaMessageBox(
            QString::fromLatin1(m_archived ? kMsgArchivedNotShown : kMsgHeldNotShown).arg(file->errorString()), this);
        return;
    }
    m_pageFile = std::move(file);
    m_web->load(QUrl::fromLocalFile(QFileInfo(m_pageFile->fileName()).absoluteFilePath()));
}

bool BulletinView::isPrinting() {
    return g_printingView != nullptr;
}

void BulletinView::setPrintDialogHook(std::function<bool(QPrinter&)> hook) {
    printDialogHook() = std::move(hook);
}

bool BulletinView::pageCanBePrinted() {
    if (m_page == PageState::Shown)
        return true;
    if (m_page == PageState::Failed)
        labrosaMessageBox(QString::fromLatin1(kMsgPageNotShown), this);
    else
        QApplication::beep();
    return false;
}

bool BulletinView::beginPrintJob(ArchivePurpose purpose) {
    if (!pageCanBePrinted())
        return false;
    if (g_printingView) {
        QApplication::beep();
        return false;
    }
    g_printingView = this;
    m_jobPurpose = purpose;
    return true;
}

void BulletinView::endPrintJob(bool success, const QString& reason, const QString& message) {
    if (g_printingView != this)
        return;
    g_printingView = nullptr;
    const QString exportFile = std::exchange(m_exportFile, QString());
    if (!success && !message.isEmpty())
        labrosaMessageBox(message, this);
    else if (!success && exportFile.isEmpty())
        labrosaMessageBox(reason.isEmpty() ? QString::fromLatin1(kMsgNotPrinted)
                                           : QString::fromLatin1(kMsgNotPrinted) + QLatin1Char('\n') + reason,
                          this);
    else if (!success && !reason.isEmpty())
        labrosaMessageBox(QString::fromLatin1(kMsgPdfExportFailed).arg(QDir::toNativeSeparators(exportFile), reason),
                          this);
    else if (!success)
        labrosaMessageBox(QString::fromLatin1(kMsgPdfNotWritten).arg(QDir::toNativeSeparators(exportFile)), this);
    emit printFinished(success);
}

bool BulletinView::toldBeforeSendingOut(const char* notSent) {
    if (!m_opened || !m_opened->database || m_opened->unannounced.empty())
        return true;
    // Someone may have recorded some of them since the page was opened; a failed question asks
    // about them all again rather than take them for told.
    CriticalNotifications notifications(m_opened->database);
    std::vector<CriticalValue> left;
    if (!notifications.unannounced(m_opened->unannounced, &left))
        left = m_opened->unannounced;
    if (left.empty())
        return true;
    const QStringList messages = CriticalNotificationDialog::askAndRecord(m_opened->database, m_opened->key.requestId,
                                                                          m_opened->resultIds, left, this);
    if (messages.isEmpty())
        return true;
    labrosaMessageBox(messages.join(QLatin1Char('\n')) + QLatin1Char('\n') + QString::fromLatin1(notSent), this);
    return false;
}

bool BulletinView::recordSentOut(ArchivePurpose purpose, QString* error) {
    if (!m_opened || !m_opened->database || m_archived)
        return true;
    BulletinArchive archive(m_opened->database);
    const bool archived = archive.available();
    if (archived && archive.store(m_opened->recordId, m_opened->key, m_shownHtml, purpose, nullptr, m_opened->madeAt))
        return true;
    // A database without the archive keeps no copy of any bulletin.
    *error = archive.errorText();
    return !archived && error->isEmpty();
}

void BulletinView::onFilePrint() {
    if (!toldBeforeSendingOut(kNotPrinted))
        return;
    if (!pageCanBePrinted())
        return;
    if (isPrinting()) {
        QApplication::beep();
        return;
    }
    QPrinter* printer = currentPrinter();
    if (!printer) {
        if (!m_ownPrinter)
            m_ownPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer = m_ownPrinter.get();
    }
    if (printer->resolution() < kMinPrintResolution)
        printer->setResolution(kMinPrintResolution);

    bool accepted = false;
    if (printDialogHook()) {
        accepted = printDialogHook()(*printer);
    } else {
        QPrintDialog dialog(printer, this);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted || !beginPrintJob(ArchivePurpose::Printed))
        return;
    if (printer->resolution() < kMinPrintResolution)
        printer->setResolution(kMinPrintResolution);

    // A PDF printer's file is written whole like an export, never left cut by a full disk.
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        m_exportFile = QFileInfo(printer->outputFileName()).absoluteFilePath();
        printWithFooter(printer->pageLayout(), nullptr);
    } else {
        printWithFooter(printer->pageLayout(), printer);
    }
}

bool BulletinView::printToPdf(const QString& filePath) {
    if (!toldBeforeSendingOut(kPdfNotWritten) || !beginPrintJob(ArchivePurpose::Exported))
        return false;
    const QPrinter* printer = currentPrinter();
    const QPageLayout layout =
        printer ? printer->pageLayout() : QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF());
    m_exportFile = QFileInfo(filePath).absoluteFilePath();
    printWithFooter(layout, nullptr);
    return true;
}

void BulletinView::setPdfFileDialogHook(std::function<QString(const QString&)> hook) {
    pdfFileDialogHook() = std::move(hook);
}

// The request identifier and the patient's name in the bulletin's head ("Cod cerere:<id>",
// "Nume:<name>, Profil:<profile>"), empty where the page has none.
static QString headRequest(const QString& pageText) {
    static const QRegularExpression request(QStringLiteral("Cod\\s+cerere:\\s*(\\S+)"));
    return request.match(pageText).captured(1);
}
static QString headPatient(const QString& pageText) {
    static const QRegularExpression name(QStringLiteral("Nume:[ \\t]*([^\\n]*?),?[ \\t]*Profil:"));
    static const QRegularExpression nameAlone(QStringLiteral("Nume:[ \\t]*([^\\n,]*)"));
    QRegularExpressionMatch nameMatch = name.match(pageText);
    if (!nameMatch.hasMatch())
        nameMatch = nameAlone.match(pageText);
    return nameMatch.captured(1);
}

// The title a PDF of the page carries when the page has none of its own: the request and the
// patient, as far as the head names them.
static QString pdfTitle(const QString& pageText) {
    QStringList parts{headRequest(pageText).simplified(), headPatient(pageText).simplified()};
    parts.removeAll(QString());
    return parts.isEmpty() ? QStringLiteral("Buletin") : QStringLiteral("Buletin ") + parts.join(QStringLiteral(" - "));
}

QString BulletinView::proposedPdfName(const QString& pageText) {
    // The bulletin's head: "Data setului de analize d/M/yyyy H:mm", "Cod cerere:<id>",
    // "Nume:<name>, Profil:<profile>".
    static const QRegularExpression date(QStringLiteral("Data setului de analize\\s+(\\d{1,2})/(\\d{1,2})/(\\d{4})"));
    QStringList parts{fileNamePart(headRequest(pageText)), fileNamePart(headPatient(pageText))};
    const QRegularExpressionMatch dateMatch = date.match(pageText);
    if (dateMatch.hasMatch()) {
        const QDate day(dateMatch.captured(3).toInt(), dateMatch.captured(2).toInt(), dateMatch.captured(1).toInt());
        if (day.isValid())
            parts << day.toString(Qt::ISODate);
    }
    parts.removeAll(QString());
    if (parts.isEmpty())
        parts << QStringLiteral("buletin");
    return parts.join(QLatin1Char('_')) + QStringLiteral(".pdf");
}

void BulletinView::onFileExportPdf() {
    if (!pageCanBePrinted())
        return;
    if (isPrinting()) {
        QApplication::beep();
        return;
    }
    QPointer<BulletinView> self(this);
    m_web->page()->toPlainText([self](const QString& text) {
        if (!self)
            return;
        QSettings settings;
        QString folder = settings.value(QLatin1String(kPdfFolderKey)).toString();
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QDir::homePath();
        const QString proposed = QDir(folder).filePath(proposedPdfName(text));
        QString chosen;
        if (pdfFileDialogHook())
            chosen = pdfFileDialogHook()(proposed);
        else
            chosen =
                QFileDialog::getSaveFileName(self, QLatin1String(kPdfDialogTitle), proposed, QLatin1String(kPdfFilter));
        if (!self || chosen.isEmpty())
            return;
        if (QFileInfo(chosen).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
            chosen += QStringLiteral(".pdf");
        if (self->exportPdf(chosen))
            settings.setValue(QLatin1String(kPdfFolderKey), QFileInfo(chosen).absolutePath());
    });
}

bool BulletinView::exportPdf(const QString& filePath) {
    const QFileInfo file(filePath);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) {
        labrosaMessageBox(QString::fromLatin1(kMsgPdfFolderMissing).arg(QDir::toNativeSeparators(folder.filePath())),
                          this);
        return false;
    }
    if (!folder.isWritable() || (file.exists() && !file.isWritable())) {
        labrosaMessageBox(QString::fromLatin1(kMsgPdfFolderReadOnly).arg(QDir::toNativeSeparators(folder.filePath())),
                          this);
        return false;
    }
    if (!toldBeforeSendingOut(kPdfNotWritten) || !beginPrintJob(ArchivePurpose::Exported))
        return false;
    m_exportFile = file.absoluteFilePath();
    const QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                         QMarginsF(kPdfMargin, kPdfMargin, kPdfMargin, kPdfMargin), QPageLayout::Millimeter);
    printWithFooter(a4, nullptr);
    return true;
}

void BulletinView::printWithFooter(const QPageLayout& layout, QPrinter* printer) {
    // The footer names the request and patient the page's head shows, so the page's text comes
    // first. The engine hands the PDF over in memory, so that a full disk never leaves a cut file.
    const QPageLayout printed = PdfPageFooter::withFooterRoom(layout);
    QPointer<BulletinView> self(this);
    m_web->page()->toPlainText([self, printed, printer](const QString& text) {
        if (!self)
            return;
        PdfPageFooter footer = PdfPageFooter::fromBulletinText(text);
        // The engine writes no document title; the PDF is titled with the request and patient.
        self->m_exportTitle = pdfTitle(text);
        const QMarginsF margins = printed.margins(QPageLayout::Point);
        footer.setSideMargins(margins.left(), margins.right());
        self->m_web->page()->printToPdf(
            [self, footer, printer](const QByteArray& pdf) {
                if (!self)
                    return;
                if (pdf.isEmpty()) {
                    self->endPrintJob(false, QLatin1String(kMsgEngineMadeNoPdf));
                    return;
                }
                QString reason;
                const QByteArray numbered = footer.stamp(pdf, &reason);
                if (numbered.isEmpty()) {
                    self->endPrintJob(false, reason);
                } else if (!printer) {
                    self->finishPdfExport(numbered);
                } else if (!self->recordSentOut(ArchivePurpose::Printed, &reason)) {
                    // Nothing reaches the printer that the archive does not hold.
                    self->endPrintJob(false, QString(), QString::fromLatin1(kMsgPrintNotRecorded).arg(reason));
                } else {
                    self->endPrintJob(PdfRasterPrinter::print(numbered, *printer, &reason), reason);
                }
            },
            printed);
    });
}

void BulletinView::finishPdfExport(const QByteArray& pdf) {
    if (pdf.isEmpty()) {
        endPrintJob(false, QLatin1String(kMsgEngineMadeNoPdf));
        return;
    }
    QString reason;
    // The copy is archived before the file is written: no file leaves that the archive does not hold.
    if (!recordSentOut(m_jobPurpose, &reason)) {
        const QString message =
            m_jobPurpose == ArchivePurpose::Printed
                ? QString::fromLatin1(kMsgPrintNotRecorded).arg(reason)
                : QString::fromLatin1(kMsgPdfNotRecorded).arg(QDir::toNativeSeparators(m_exportFile), reason);
        endPrintJob(false, QString(), message);
        return;
    }
    if (!writeWhole(m_exportFile, PdfDocumentTitle::withTitle(pdf, m_exportTitle), &reason)) {
        endPrintJob(false, reason);
        return;
    }
    endPrintJob(true);
}

void BulletinView::readShownFile() {
    QFile file(QDir::current().filePath(QLatin1String(kBulletinFileName)));
    m_shownHtmlKnown = file.open(QIODevice::ReadOnly);
    m_shownHtml = m_shownHtmlKnown ? file.readAll() : QByteArray();
    m_shownHtmlKnown = m_shownHtmlKnown && file.error() == QFileDevice::NoError;
}

DocumentView::SaveResult BulletinView::saveAs(const QString& path) {
    if (!pageCanBePrinted())
        return SaveResult::failed;
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0)
        return exportPdf(path) ? SaveResult::Exported : SaveResult::failed;
    QString reason;
    if (!m_shownHtmlKnown) {
        reason = QString::fromLatin1(kMsgBulletinFileUnread).arg(QLatin1String(kBulletinFileName));
    } else {
        if (!toldBeforeSendingOut(kNotSaved))
            return SaveResult::failed;
        if (!recordSentOut(ArchivePurpose::Saved, &reason)) {
            labrosaMessageBox(QString::fromLatin1(kMsgSaveNotRecorded).arg(QDir::toNativeSeparators(path), reason),
                              this);
            return SaveResult::failed;
        }
        if (writeWhole(path, m_shownHtml, &reason))
            return SaveResult::Saved;
    }
    labrosaMessageBox(QString::fromLatin1(kMsgNotSaved).arg(QDir::toNativeSeparators(path), reason), this);
    return SaveResult::failed;
}
