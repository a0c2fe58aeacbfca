#include "AppTestMain.h"

#include "BulletinBuilder.h"
#include "BulletinDocument.h"
#include "BulletinView.h"
#include "BulletinWindowContext.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "DocumentTemplate.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "PdfRasterPrinter.h"
#include "RecentFileList.h"
#include "SmallDisk.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

#include <sys/stat.h>

namespace {

const char* const kPatient = "Ionescu Mărioara";

QByteArray bulletinHtml(const QByteArray& body, const QByteArray& title = "Buletin de analize") {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body>" + body +
           "</body></html>";
}

// Waits until the spy has seen count signals since it was made. QSignalSpy::wait() waits for a
// further one, so a job that ended while the test was busy elsewhere would look like a hang.
bool waitForSignals(const QSignalSpy& spy, int count = 1) {
    return QTest::qWaitFor([&] { return spy.size() >= count; }, 60000);
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

int pdfPageCount(const QString& pdfPath) {
    QProcess pdfinfo;
    pdfinfo.start(QStringLiteral("pdfinfo"), {pdfPath});
    if (!pdfinfo.waitForFinished(60000) || pdfinfo.exitCode() != 0)
        return -1;
    static const QRegularExpression pages(QStringLiteral("(?m)^Pages:\\s+(\\d+)"));
    return pages.match(QString::fromUtf8(pdfinfo.readAllStandardOutput())).captured(1).toInt();
}

QString pdfText(const QString& pdfPath) {
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdfPath, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0)
        return QString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

} // namespace

class TestBulletinView : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    std::unique_ptr<RecentFileList> m_recent;
    std::unique_ptr<MainWindow> m_frame;
    std::unique_ptr<DocumentTemplate> m_template;
    QStringList m_messages;

    void writeBulletin(const QByteArray& html) {
        QFile file(QDir::current().filePath(QLatin1String(kBulletinFileName)));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(html);
    }

    // Opens a bulletin window the way the program does and waits for its page.
    BulletinView* openBulletin(bool expectLoaded = true, const DocumentContext* context = nullptr) {
        ChildWindow* frame = m_template->openDocumentFile(QString(), true, context);
        if (!frame)
            return nullptr;
        auto* view = qobject_cast<BulletinView*>(frame->view());
        QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
        if (!loaded.wait(30000) && loaded.isEmpty())
            return nullptr;
        if (loaded.first().first().toBool() != expectLoaded)
            return nullptr;
        return view;
    }

    static QString pageTitle(BulletinView* view) { return view->webView()->page()->title(); }

    static QString pageText(BulletinView* view) {
        QString text;
        bool done = false;
        view->webView()->page()->toPlainText([&](const QString& result) {
            text = result;
            done = true;
        });
        if (!QTest::qWaitFor([&done] { return done; }, 10000))
            return QString();
        return text;
    }

private slots:
    void init() {
        m_previousDir = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QDir::setCurrent(m_dir->path());
        m_messages.clear();
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
        QSettings().remove(QStringLiteral("Export"));
        m_recent = std::make_unique<RecentFileList>(4);
        m_frame = std::make_unique<MainWindow>(m_recent.get());
        m_template = std::make_unique<DocumentTemplate>(
            IDR_BULLETINTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
            [](BulletinDocument*) { return new BulletinView; });
        m_template->setMainFrame(m_frame.get());
        m_frame->show();
    }

    void cleanup() {
        BulletinView::setPrintDialogHook(nullptr);
        BulletinView::setPdfFileDialogHook(nullptr);
        m_frame.reset();
        m_template.reset();
        m_recent.reset();
        setMessageBoxHook(nullptr);
        QDir::setCurrent(m_previousDir);
        m_dir.reset();
    }

    void showsBulletinOfCurrentDirectory() {
        writeBulletin(
            bulletinHtml(QByteArray("<h1>") + kPatient + "</h1>" + QByteArray(200, ' ').replace(" ", "<p>rând</p>")));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        QCOMPARE(view->webView()->url(), QUrl::fromLocalFile(QDir::current().filePath("_buletin.html")));
        QCOMPARE(pageTitle(view), QStringLiteral("Buletin de analize"));
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
        QCOMPARE(view->webView()->page()->scrollPosition(), QPointF(0, 0));

        QVERIFY(!view->findChild<QLabel*>("deltaMarkBar"));

        // A later bulletin overwrites the file; the open window keeps the page it loaded. Its
        // values beyond their delta limit are listed above the page, for that window alone.
        writeBulletin(bulletinHtml("<h1>Alt pacient</h1>", "Al doilea"));
        BulletinWindowContext context;
        context.deltaMarks = QStringList{QStringLiteral("Glucoza 135: limita 20%")};
        BulletinView* second = openBulletin(true, &context);
        QVERIFY(second);
        auto* marks = second->findChild<QLabel*>("deltaMarkBar");
        QVERIFY(marks && marks->isVisible());
        QVERIFY(marks->accessibleDescription().contains("Glucoza 135: limita 20%"));
        QCOMPARE(marks->toolTip(), marks->accessibleDescription());
        QVERIFY(!pageText(second).contains("Glucoza"));
        QCOMPARE(m_frame->activeChild()->windowTitle(), QStringLiteral("Tervan2"));
        QCOMPARE(pageTitle(second), QStringLiteral("Al doilea"));
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
        // Nor does a reload show it the later bulletin.
        QSignalSpy reloaded(view->webView(), &QWebEngineView::loadFinished);
        view->webView()->reload();
        QVERIFY(reloaded.wait(30000) || !reloaded.isEmpty());
        QCOMPARE(pageTitle(view), QStringLiteral("Buletin de analize"));
    }

    // A bulletin from the archive shows its own bytes, however large, never the bulletin file,
    // and prints like any bulletin.
    void showsArchivedBytes_data() {
        QTest::addColumn<int>("padding");
        QTest::newRow("small") << 0;
        // Percent-encoded, this is over the engine's 2 MB limit for in-memory pages.
        QTest::newRow("over the in-memory limit") << 800000;
    }
    void showsArchivedBytes() {
        QFETCH(int, padding);
        const QByteArray fileBytes = bulletinHtml("<h1>Din fisier</h1>", "Fisierul");
        writeBulletin(fileBytes);
        const QByteArray body = "<!--" + QByteArray(padding, ' ') + "--><p>Hemoglobina &lt; 13,5 g/dl</p>";
        ChildWindow* before = m_frame->activeChild();
        QVERIFY(!before);
        BulletinView* view = BulletinView::openArchived(
            m_template.get(), bulletinHtml(body + "<h1>" + kPatient + "</h1>", "Arhivat"), "Buletin arhivat");
        QVERIFY(view);
        QVERIFY(view->isArchived());
        QTRY_COMPARE_WITH_TIMEOUT(pageTitle(view), QStringLiteral("Arhivat"), 30000);
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
        QVERIFY(m_frame->activeChild()->windowTitle().contains("arhivat"));

        const QString pdf = m_dir->filePath("arhivat.pdf");
        QSignalSpy finished(view, &BulletinView::printFinished);
        QVERIFY(view->printToPdf(pdf));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(pdfText(pdf).contains(QString::fromUtf8(kPatient)));

        // The next bulletin window shows the file again.
        BulletinView* next = openBulletin();
        QVERIFY(next);
        QVERIFY(!next->isArchived());
        QCOMPARE(pageTitle(next), QStringLiteral("Fisierul"));
        QFile file(QString::fromLatin1(kBulletinFileName));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), fileBytes);
        QVERIFY(m_messages.isEmpty());
    }

    void javascriptDoesNotRun() {
        writeBulletin(bulletinHtml("<p>x</p><script>document.title = 'schimbat';</script>", "neschimbat"));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        QCOMPARE(pageTitle(view), QStringLiteral("neschimbat"));
    }

    // The window stays, but the engine's page for the missing file is never printed, exported or
    // saved as a bulletin: the person is told, and no dialog or job starts.
    void missingFileKeepsWindow() {
        QVERIFY(!QFile::exists(QLatin1String(kBulletinFileName)));
        BulletinView* view = openBulletin(false);
        QVERIFY(view);
        QCOMPARE(m_frame->childFrames().size(), 1);
        QVERIFY(m_frame->activeChild()->isVisible());
        QVERIFY(m_messages.isEmpty());

        int dialogs = 0;
        BulletinView::setPrintDialogHook([&](QPrinter&) { return ++dialogs > 0; });
        BulletinView::setPdfFileDialogHook([&](const QString& path) { return ++dialogs > 0 ? path : QString(); });
        m_frame->action(ID_FILE_PRINT)->trigger();
        m_frame->action(ID_FILE_EXPORT_PDF)->trigger();
        QVERIFY(!view->printToPdf(m_dir->filePath("eroare.pdf")));
        m_frame->saveDocumentAs(m_frame->activeChild(), m_dir->filePath("eroare.html"));
        // An export would ask the page for its text first; that answer comes before this one.
        pageText(view);
        QCOMPARE(dialogs, 0);
        QCOMPARE(m_messages.size(), 4);
        QVERIFY(!BulletinView::isPrinting());
        QVERIFY(!QFile::exists(m_dir->filePath("eroare.pdf")));
        QVERIFY(!QFile::exists(m_dir->filePath("eroare.html")));
    }

    // A printer that writes a PDF file gets the whole file or none: on a full disk an earlier
    // file of that name stays as it was, and the message says why.
    void printToPdfThroughFilePrint_data() {
        QTest::addColumn<QString>("name"); // under the test folder; "plin" is a full disk
        QTest::newRow("PDF file") << "tiparit.pdf";
        QTest::newRow("PDF file on a full disk") << "plin/tiparit.pdf";
    }
    void printToPdfThroughFilePrint() {
        QFETCH(QString, name);
        std::unique_ptr<SmallDisk> disk;
        const QByteArray old = "%PDF-1.4 tiparit mai demult";
        if (name.startsWith("plin/")) {
            disk = std::make_unique<SmallDisk>(m_dir->filePath("plin"), "64k");
            if (!disk->mounted())
                QSKIP(qPrintable(disk->problem()));
            QFile previous(m_dir->filePath(name));
            QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write(old) == old.size());
            previous.close();
            QVERIFY(disk->fill());
        }
        // A style sheet or marker image missing from the folder does not keep the bulletin from print.
        writeBulletin(bulletinHtml(QByteArray("<link rel=\"stylesheet\" href=\"buletin_files/lipsa.css\"><h1>") +
                                   kPatient +
                                   "</h1><p>Hemoglobina 13,5 g/dl <img src=\"buletin_files/lipsa.png\"></p>"));
        BulletinView* view = openBulletin();
        QVERIFY(view);

        const QString pdf = m_dir->filePath(name);
        int dialogs = 0;
        int resolution = 0;
        BulletinView::setPrintDialogHook([&](QPrinter& printer) {
            ++dialogs;
            resolution = printer.resolution();
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        const mode_t umaskAtPrint = ::umask(027);
        const auto restoreUmask = qScopeGuard([umaskAtPrint] { ::umask(umaskAtPrint); });
        QSignalSpy finished(view, &BulletinView::printFinished);
        m_frame->action(ID_FILE_PRINT)->trigger();
        QCOMPARE(dialogs, 1);
        QVERIFY(resolution >= 300);
        QVERIFY(BulletinView::isPrinting());
        // One job at a time: a second request while the first runs asks nothing and prints nothing.
        view->onFilePrint();
        QVERIFY(!view->printToPdf(m_dir->filePath("al-doilea.pdf")));
        QCOMPARE(dialogs, 1);

        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), !disk);
        QVERIFY(!BulletinView::isPrinting());
        QVERIFY(!QFile::exists(m_dir->filePath("al-doilea.pdf")));
        if (disk) {
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(QDir::toNativeSeparators(pdf)), qPrintable(m_messages.first()));
            QVERIFY2(m_messages.first().contains("No space left on device"), qPrintable(m_messages.first()));
            QCOMPARE(contentOf(pdf), old);
            QCOMPARE(QDir(m_dir->filePath("plin")).entryList(QDir::Files), QStringList({"filler", "tiparit.pdf"}));
            return;
        }
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QString::fromUtf8(kPatient)), qPrintable(text));
        QVERIFY(m_messages.isEmpty());
        // A new file has the mode the user's umask gives, not the engine's private one.
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(pdf).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0640);
    }

    void cancelledDialogPrintsNothing() {
        writeBulletin(bulletinHtml("<p>x</p>"));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        BulletinView::setPrintDialogHook([](QPrinter&) { return false; });
        QSignalSpy finished(view, &BulletinView::printFinished);
        view->onFilePrint();
        QVERIFY(!BulletinView::isPrinting());
        QCoreApplication::processEvents();
        QCOMPARE(finished.size(), 0);
    }

    void failedPdfIsReported() {
        writeBulletin(bulletinHtml(QByteArray("<p>") + kPatient + "</p>"));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        QSignalSpy finished(view, &BulletinView::printFinished);
        QVERIFY(view->printToPdf(m_dir->filePath("lipsa/buletin.pdf")));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(!BulletinView::isPrinting());
    }

    // Save As writes the bulletin the window shows, never an empty file: its HTML bytes as
    // written (not the bulletin file as a later bulletin left it), or a PDF for a .pdf name. A file
    // is replaced only once written whole: a full disk leaves the old one, and says why.
    void saveAsWritesBulletinShown_data() {
        QTest::addColumn<bool>("archived");
        QTest::addColumn<QString>("name");  // under the test folder; "plin" is a full disk
        QTest::addColumn<QString>("saved"); // "html", "pdf", or the reason nothing was written
        QTest::newRow("bulletin file as HTML") << false << "copie.html"
                                               << "html";
        QTest::newRow("over an exported PDF") << false << "buletin.pdf"
                                              << "pdf";
        QTest::newRow("upper-case PDF name") << false << "BULETIN.PDF"
                                             << "pdf";
        QTest::newRow("archived bulletin as HTML") << true << "arhivat.html"
                                                   << "html";
        QTest::newRow("folder missing") << false << "lipsa/copie.html"
                                        << "No such file or directory";
        QTest::newRow("full disk, HTML") << false << "plin/copie.html"
                                         << "No space left on device";
        QTest::newRow("full disk, PDF") << false << "plin/buletin.pdf"
                                        << "No space left on device";
    }
    void saveAsWritesBulletinShown() {
        QFETCH(bool, archived);
        QFETCH(QString, name);
        QFETCH(QString, saved);
        const QString path = m_dir->filePath(name);
        std::unique_ptr<SmallDisk> disk;
        if (name.startsWith("plin/")) {
            disk = std::make_unique<SmallDisk>(m_dir->filePath("plin"), "64k");
            if (!disk->mounted())
                QSKIP(qPrintable(disk->problem()));
        }
        // What was there before: an earlier export, or a saved bulletin on the full disk.
        const QByteArray old = name.endsWith(".html") ? "<p>salvat mai demult</p>" : "%PDF-1.4 un export mai vechi";
        if (saved != "html") {
            QFile previous(path);
            if (previous.open(QIODevice::WriteOnly))
                previous.write(old);
        }
        if (disk)
            QVERIFY(disk->fill());

        const QByteArray shown =
            bulletinHtml(QByteArray("<h1>") + kPatient + "</h1><p>Hemoglobina 13,5 g/dl</p>" + QByteArray(8000, ' '));
        BulletinView* view = nullptr;
        if (archived) {
            writeBulletin(bulletinHtml("<p>alt buletin</p>"));
            view = BulletinView::openArchived(m_template.get(), shown, "Buletin arhivat");
            QVERIFY(view);
            QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
            QVERIFY(waitForSignals(loaded));
        } else {
            writeBulletin(shown);
            view = openBulletin();
            QVERIFY(view);
            // A later bulletin replaces the file; this window still shows, and saves, its own.
            writeBulletin(bulletinHtml("<p>alt buletin</p>"));
        }
        ChildWindow* window = m_frame->activeChild();
        const QString title = window->windowTitle();

        QSignalSpy finished(view, &BulletinView::printFinished);
        m_frame->saveDocumentAs(window, path);
        if (name.endsWith(".pdf", Qt::CaseInsensitive)) {
            QVERIFY(waitForSignals(finished));
            QCOMPARE(finished.first().first().toBool(), saved == "pdf");
        }
        if (saved != "html" && saved != "pdf") {
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(QDir::toNativeSeparators(path)), qPrintable(m_messages.first()));
            QVERIFY2(m_messages.first().contains(saved), qPrintable(m_messages.first()));
            QCOMPARE(contentOf(path), name.startsWith("lipsa/") ? QByteArray("missing") : old);
            QCOMPARE(window->windowTitle(), title);
            QVERIFY(m_recent->files().isEmpty());
            return;
        }
        if (saved == "html") {
            QCOMPARE(contentOf(path), shown);
            // The window now stands for that file.
            QCOMPARE(window->windowTitle(), name);
            QCOMPARE(m_recent->files().value(0), QFileInfo(path).absoluteFilePath());
        } else {
            QVERIFY(contentOf(path).startsWith("%PDF-"));
            QVERIFY(contentOf(path) != old);
            const QString text = pdfText(path);
            QVERIFY2(text.contains(QString::fromUtf8(kPatient)), qPrintable(text));
            // A copy in another form: the window keeps its name, the recent files their entries.
            QCOMPARE(window->windowTitle(), title);
            QVERIFY(m_recent->files().isEmpty());
        }
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    }

    // A paper printer gets the pages of the numbered PDF, as many as it has or as the print
    // dialog's range names, each on a sheet of its own.
    void printerGetsEveryPage_data() {
        QTest::addColumn<int>("fromPage");
        QTest::addColumn<int>("toPage");
        QTest::addColumn<int>("pages"); // printed; 0: all the PDF has
        QTest::newRow("no range") << 0 << 0 << 0;
        QTest::newRow("pages 2 to 3") << 2 << 3 << 2;
    }
    void printerGetsEveryPage() {
        QFETCH(int, fromPage);
        QFETCH(int, toPage);
        QFETCH(int, pages);
        QByteArray rows;
        for (int i = 0; i < 150; ++i)
            rows += "<p>Parametru " + QByteArray::number(i) + " 13,5 g/dl</p>";
        writeBulletin(bulletinHtml(rows));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        const QString numbered = m_dir->filePath("numerotat.pdf");
        QSignalSpy finished(view, &BulletinView::printFinished);
        QVERIFY(view->exportPdf(numbered));
        QVERIFY(waitForSignals(finished));
        const int all = pdfPageCount(numbered);
        QVERIFY(all >= 3);

        QPrinter printer(QPrinter::HighResolution);
        printer.setResolution(150);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_dir->filePath("hartie.pdf"));
        printer.setFromTo(fromPage, toPage);
        QString reason;
        QVERIFY2(PdfRasterPrinter::print(contentOf(numbered), printer, &reason), qPrintable(reason));
        QCOMPARE(pdfPageCount(m_dir->filePath("hartie.pdf")), pages > 0 ? pages : all);

        QVERIFY(!PdfRasterPrinter::print("%PDF-1.4 nu e un PDF", printer, &reason));
        QVERIFY(!reason.isEmpty());
    }

    // The proposed PDF name comes from the bulletin's head and never holds a character that
    // would make another path or a name the file dialog refuses.
    void proposedPdfName_data() {
        QTest::addColumn<QString>("pageText");
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("Data setului de analize 6/3/2026 10:05\nInregistrat de:\n"
                                            "Cod cerere:%1\nNume:%2, Profil:Caine adult\tVarsta:7\tSex:M\n");
        QTest::newRow("whole head") << head.arg("1201", "Rex Popescu") << "1201_Rex Popescu_2026-03-06.pdf";
        QTest::newRow("romanian letters kept")
            << head.arg("77", QString::fromUtf8(kPatient)) << QString::fromUtf8("77_Ionescu Mărioara_2026-03-06.pdf");
        QTest::newRow("path characters replaced")
            << head.arg("12/3", "Pop \"Ax\" <a:b>*?|\\c") << "12_3_Pop _Ax_ _a_b_____c_2026-03-06.pdf";
        QTest::newRow("no hidden file") << head.arg("5", "..Rex") << "5_Rex_2026-03-06.pdf";
        QTest::newRow("no name") << head.arg("5", "") << "5_2026-03-06.pdf";
        QTest::newRow("not a bulletin") << "Hemoglobina 13,5"
                                        << "buletin.pdf";
    }
    void proposedPdfName() {
        QFETCH(QString, pageText);
        QFETCH(QString, expected);
        QCOMPARE(BulletinView::proposedPdfName(pageText), expected);
    }

    // File > Export PDF writes the page, text kept as text and titled with the request and the
    // patient, into the folder chosen with the mode the user's umask gives new files, proposes
    // that folder next time, and says clearly when the file cannot be written.
    void exportPdf_data() {
        QTest::addColumn<QString>("folder"); // under the test folder
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("mode");
        QTest::newRow("writable folder") << "pdf" << true << 022 << 0644;
        QTest::newRow("private umask") << "pdf" << true << 077 << 0600;
        QTest::newRow("missing folder") << "lipsa" << false << 022 << 0;
    }
    void exportPdf() {
        QFETCH(QString, folder);
        QFETCH(bool, written);
        QFETCH(int, umask);
        QFETCH(int, mode);
        const mode_t before = ::umask(mode_t(umask));
        const auto restoreUmask = qScopeGuard([before] { ::umask(before); });
        QVERIFY(QDir(m_dir->path()).mkpath("pdf"));
        writeBulletin(bulletinHtml(QByteArray("<p>Data setului de analize 6/3/2026 10:05</p><p>Cod cerere:<b>1201</b>"
                                              "</p><p>Nume:<b>") +
                                   kPatient + "</b>, Profil:<b>Caine</b></p><p>Hemoglobina 13,5 g/dl</p>"));
        BulletinView* view = openBulletin();
        QVERIFY(view);
        QVERIFY(m_frame->action(ID_FILE_EXPORT_PDF)->isEnabled());

        const QString target = QDir(m_dir->path()).filePath(folder);
        QStringList proposed;
        BulletinView::setPdfFileDialogHook([&](const QString& path) {
            proposed << path;
            return QDir(target).filePath(QFileInfo(path).fileName());
        });
        QSignalSpy finished(view, &BulletinView::printFinished);
        m_frame->action(ID_FILE_EXPORT_PDF)->trigger();
        // The name is asked once the page's text is in; a writable folder then gets the job.
        QVERIFY(QTest::qWaitFor([&] { return !proposed.isEmpty(); }, 60000));
        QCOMPARE(proposed.size(), 1);
        const QString name = QString::fromUtf8("1201_Ionescu Mărioara_2026-03-06.pdf");
        QCOMPARE(QFileInfo(proposed.first()).fileName(), name);
        const QString pdf = QDir(target).filePath(name);
        if (!written) {
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(target), qPrintable(m_messages.first()));
            QVERIFY(!BulletinView::isPrinting());
            QVERIFY(!QFile::exists(pdf));
            return;
        }
        QVERIFY(waitForSignals(finished));
        QCOMPARE(finished.first().first().toBool(), true);
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QString::fromUtf8(kPatient)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Hemoglobina 13,5 g/dl")), qPrintable(text));
        QVERIFY(m_messages.isEmpty());

        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(pdf).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), mode);

        QProcess pdfinfo;
        pdfinfo.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(pdfinfo.waitForFinished(60000));
        const QString pdfInfo = QString::fromUtf8(pdfinfo.readAllStandardOutput());
        QVERIFY2(pdfInfo.contains(QStringLiteral("(A4)")), qPrintable(pdfInfo));
        QVERIFY2(pdfInfo.contains(QRegularExpression(QString::fromUtf8("Title: +Buletin 1201 - Ionescu Mărioara\n"))),
                 qPrintable(pdfInfo));

        // The next export proposes the folder of this one, in another window too.
        BulletinView* second = openBulletin();
        QVERIFY(second);
        QSignalSpy secondFinished(second, &BulletinView::printFinished);
        m_frame->action(ID_FILE_EXPORT_PDF)->trigger();
        QVERIFY(waitForSignals(secondFinished));
        QCOMPARE(proposed.size(), 2);
        QCOMPARE(QFileInfo(proposed.last()).absolutePath(), QFileInfo(target).absoluteFilePath());
    }
};

LABROSA_GUI_TEST_MAIN(TestBulletinView)
#include "tst_bulletinview.moc"
