#include "AppTestMain.h"

#include "BulletinBuilder.h"
#include "CChildFrame.h"
#include "CDocTemplate.h"
#include "CMainFrame.h"
#include "CRecentFileList.h"
#include "CTervanaDoc.h"
#include "CTervanaView.h"
#include "MessageBox.h"
#include "Resource.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

namespace {

const char* const kPatient = "Ionescu Mărioara";

QByteArray bulletinHtml(const QByteArray& body, const QByteArray& title = "Buletin de analize") {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body>" + body +
           "</body></html>";
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
    std::unique_ptr<CRecentFileList> m_recent;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CDocTemplate> m_template;
    QStringList m_messages;

    void writeBulletin(const QByteArray& html) {
        QFile file(QDir::current().filePath(QLatin1String(kBulletinFileName)));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(html);
    }

    // Opens a bulletin window the way the program does and waits for its page.
    CTervanaView* openBulletin(bool expectLoaded = true) {
        CChildFrame* frame = m_template->OpenDocumentFile(QString());
        if (!frame)
            return nullptr;
        auto* view = qobject_cast<CTervanaView*>(frame->view());
        QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
        if (!loaded.wait(30000) && loaded.isEmpty())
            return nullptr;
        if (loaded.first().first().toBool() != expectLoaded)
            return nullptr;
        return view;
    }

    static QString pageTitle(CTervanaView* view) { return view->webView()->page()->title(); }

    static QString pageText(CTervanaView* view) {
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
        SetMessageBoxHook([this](const QString& text) { m_messages << text; });
        m_recent = std::make_unique<CRecentFileList>(4);
        m_frame = std::make_unique<CMainFrame>(m_recent.get());
        m_template = std::make_unique<CDocTemplate>(
            IDR_TERVANTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
            [](CTervanaDoc*) { return new CTervanaView; });
        m_template->setMainFrame(m_frame.get());
        m_frame->show();
    }

    void cleanup() {
        CTervanaView::SetPrintDialogHook(nullptr);
        m_frame.reset();
        m_template.reset();
        m_recent.reset();
        SetMessageBoxHook(nullptr);
        QDir::setCurrent(m_previousDir);
        m_dir.reset();
    }

    void showsBulletinOfCurrentDirectory() {
        writeBulletin(
            bulletinHtml(QByteArray("<h1>") + kPatient + "</h1>" + QByteArray(200, ' ').replace(" ", "<p>rând</p>")));
        CTervanaView* view = openBulletin();
        QVERIFY(view);
        QCOMPARE(view->webView()->url(), QUrl::fromLocalFile(QDir::current().filePath("_buletin.html")));
        QCOMPARE(pageTitle(view), QStringLiteral("Buletin de analize"));
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
        QCOMPARE(view->webView()->page()->scrollPosition(), QPointF(0, 0));

        // A later bulletin overwrites the file; the open window keeps the page it loaded.
        writeBulletin(bulletinHtml("<h1>Alt pacient</h1>", "Al doilea"));
        CTervanaView* second = openBulletin();
        QVERIFY(second);
        QCOMPARE(m_frame->activeChild()->windowTitle(), QStringLiteral("Tervan2"));
        QCOMPARE(pageTitle(second), QStringLiteral("Al doilea"));
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
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
        CChildFrame* before = m_frame->activeChild();
        QVERIFY(!before);
        CTervanaView* view = CTervanaView::OpenArchived(
            m_template.get(), bulletinHtml(body + "<h1>" + kPatient + "</h1>", "Arhivat"), "Buletin arhivat");
        QVERIFY(view);
        QVERIFY(view->IsArchived());
        QTRY_COMPARE_WITH_TIMEOUT(pageTitle(view), QStringLiteral("Arhivat"), 30000);
        QVERIFY(pageText(view).contains(QString::fromUtf8(kPatient)));
        QVERIFY(m_frame->activeChild()->windowTitle().contains("arhivat"));

        const QString pdf = m_dir->filePath("arhivat.pdf");
        QSignalSpy finished(view, &CTervanaView::printFinished);
        QVERIFY(view->PrintToPdf(pdf));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(pdfText(pdf).contains(QString::fromUtf8(kPatient)));

        // The next bulletin window shows the file again.
        CTervanaView* next = openBulletin();
        QVERIFY(next);
        QVERIFY(!next->IsArchived());
        QCOMPARE(pageTitle(next), QStringLiteral("Fisierul"));
        QFile file(QString::fromLatin1(kBulletinFileName));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), fileBytes);
        QVERIFY(m_messages.isEmpty());
    }

    void javascriptDoesNotRun() {
        writeBulletin(bulletinHtml("<p>x</p><script>document.title = 'schimbat';</script>", "neschimbat"));
        CTervanaView* view = openBulletin();
        QVERIFY(view);
        QCOMPARE(pageTitle(view), QStringLiteral("neschimbat"));
    }

    void missingFileKeepsWindow() {
        QVERIFY(!QFile::exists(QLatin1String(kBulletinFileName)));
        CTervanaView* view = openBulletin(false);
        QVERIFY(view);
        QCOMPARE(m_frame->childFrames().size(), 1);
        QVERIFY(m_frame->activeChild()->isVisible());
        QVERIFY(m_messages.isEmpty());
    }

    void printToPdfThroughFilePrint() {
        writeBulletin(bulletinHtml(QByteArray("<h1>") + kPatient + "</h1><p>Hemoglobina 13,5 g/dl</p>"));
        CTervanaView* view = openBulletin();
        QVERIFY(view);

        const QString pdf = m_dir->filePath("tiparit.pdf");
        int dialogs = 0;
        int resolution = 0;
        CTervanaView::SetPrintDialogHook([&](QPrinter& printer) {
            ++dialogs;
            resolution = printer.resolution();
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        QSignalSpy finished(view, &CTervanaView::printFinished);
        m_frame->action(ID_FILE_PRINT)->trigger();
        QCOMPARE(dialogs, 1);
        QVERIFY(resolution >= 300);
        QVERIFY(CTervanaView::IsPrinting());
        // One job at a time: a second request while the first runs asks nothing and prints nothing.
        view->OnFilePrint();
        QVERIFY(!view->PrintToPdf(m_dir->filePath("al-doilea.pdf")));
        QCOMPARE(dialogs, 1);

        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!CTervanaView::IsPrinting());
        QVERIFY(!QFile::exists(m_dir->filePath("al-doilea.pdf")));
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QString::fromUtf8(kPatient)), qPrintable(text));
        QVERIFY(m_messages.isEmpty());
    }

    void cancelledDialogPrintsNothing() {
        writeBulletin(bulletinHtml("<p>x</p>"));
        CTervanaView* view = openBulletin();
        QVERIFY(view);
        CTervanaView::SetPrintDialogHook([](QPrinter&) { return false; });
        QSignalSpy finished(view, &CTervanaView::printFinished);
        view->OnFilePrint();
        QVERIFY(!CTervanaView::IsPrinting());
        QCoreApplication::processEvents();
        QCOMPARE(finished.size(), 0);
    }

    void failedPdfIsReported() {
        writeBulletin(bulletinHtml(QByteArray("<p>") + kPatient + "</p>"));
        CTervanaView* view = openBulletin();
        QVERIFY(view);
        QSignalSpy finished(view, &CTervanaView::printFinished);
        QVERIFY(view->PrintToPdf(m_dir->filePath("lipsa/buletin.pdf")));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(!CTervanaView::IsPrinting());
    }
};

LABROSA_GUI_TEST_MAIN(TestBulletinView)
#include "tst_bulletinview.moc"
