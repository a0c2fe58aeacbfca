#include "AppTestMain.h"

#include "AccessImportWindow.h"
#include "DbLab.h"
#include "MdbFiles.h"
#include "MessageBox.h"
#include "ResultImporter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSqlRecord>
#include <QTreeWidget>

namespace {

bool writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// Runs the import the window has started until it ends; answers whether it wrote everything.
bool waitForImport(AccessImportWindow& window) {
    if (!window.isRunning())
        return false;
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&window, &AccessImportWindow::importFinished, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    loop.exec();
    return ok;
}

} // namespace

// The import window over a real Access file and a real laboratory database (SQLite, and the
// PostgreSQL test server when LABROSA_TEST_PG names one): what it shows, what
// it writes, and that a stop or a failure leaves the database exactly as it was.
class TestAccessImport : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

    // Every row of every table an import fills, as text, in key order.
    static QStringList dump(DbLab& lab) {
        QStringList rows;
        for (const QString& table : ResultImporter::targetTables()) {
            QSqlQuery q(lab.admin());
            if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(table)))
                return {q.lastError().text()};
            while (q.next()) {
                QStringList cells{table};
                for (int i = 0; i < q.record().count(); ++i)
                    cells << q.value(i).toString();
                rows << cells.join(QLatin1Char('|'));
            }
        }
        return rows;
    }

    static void clickImport(AccessImportWindow& window) {
        window.findChild<QPushButton*>(QStringLiteral("buttonImport"))->click();
    }

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void initTestCase() {
        const QString missing = MdbFiles::missing();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
    }
    void init() {
        m_messages.clear();
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
    }
    void cleanup() { setMessageBoxHook(nullptr); }

    // The file's tables with their row counts, the mapping loaded from the dbtool's file form and
    // saved back equal in meaning, then the summary's counts are the database's.
    void importWritesWhatTheSummarySays() {
        DbLab lab(DbLab::current());
        QVERIFY(lab.createEmpty());
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(writeFile(files.path("nwind.map"), QByteArray(kOrdersMapping) + kLabTables));
        AccessImportWindow window(lab.connectionString());
        QVERIFY(window.openFile(mdb));
        const auto sources = window.findChild<QTreeWidget*>(QStringLiteral("sourceTables"));
        const QList<QTreeWidgetItem*> orders = sources->findItems(QStringLiteral("Orders"), Qt::MatchExactly);
        QCOMPARE(orders.size(), 1);
        QCOMPARE(orders.first()->text(1), QStringLiteral("830"));
        // No table of nwind has a program table's name: nothing is chosen until the mapping says.
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("table_RESULTS"))->currentIndex(), 0);

        QVERIFY(window.loadMapping(files.path("nwind.map")));
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("table_RESULT_VALUES"))->currentText(),
                 QStringLiteral("Order Details"));
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("column_RESULTS_SEX"))->currentText(),
                 QStringLiteral("'F'"));
        // Saved and loaded again, the mapping chooses the same.
        const QString shown = window.mappingText();
        QVERIFY(window.saveMapping(files.path("saved.map")));
        QVERIFY(window.loadMapping(files.path("saved.map")));
        QCOMPARE(window.mappingText(), shown);

        clickImport(window);
        QVERIFY2(waitForImport(window),
                 qPrintable(window.findChild<QLabel*>(QStringLiteral("status"))->text() + m_messages.join('\n')));
        const auto summary = window.findChild<QTreeWidget*>(QStringLiteral("summary"));
        QCOMPARE(summary->topLevelItemCount(), 6);
        for (int i = 0; i < summary->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = summary->topLevelItem(i);
            const qint64 inDatabase =
                lab.scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(item->text(0))).toLongLong();
            QCOMPARE(item->text(5).toLongLong(), inDatabase);
            QCOMPARE(item->text(3).toLongLong(), inDatabase);
        }
        QCOMPARE(summary->findItems(QStringLiteral("RESULTS"), Qt::MatchExactly).value(0)->text(2),
                 QStringLiteral("830"));
        QCOMPARE(lab.scalar("SELECT COUNT(*) FROM RESULT_VALUES").toInt(), 2155);
        QVERIFY(m_messages.isEmpty());

        // Again, with the file's rows replacing those of the same key: the same rows, all replaced.
        window.findChild<QCheckBox*>(QStringLiteral("optionReplace"))->setChecked(true);
        clickImport(window);
        QVERIFY(waitForImport(window));
        const QTreeWidgetItem* results = summary->findItems(QStringLiteral("RESULTS"), Qt::MatchExactly).value(0);
        QCOMPARE(results->text(4), QStringLiteral("830"));
        QCOMPARE(results->text(5), QStringLiteral("830"));
    }

    // Stopped, or failed at its last table, the import leaves every row as it was.
    void stopOrFailureLeavesDatabaseAsItWas_data() {
        QTest::addColumn<bool>("stop");
        QTest::newRow("stop") << true;
        QTest::newRow("failure in a later table") << false;
    }

    void stopOrFailureLeavesDatabaseAsItWas() {
        QFETCH(bool, stop);
        DbLab lab(DbLab::current());
        QVERIFY(lab.createEmpty());
        // Rows of the laboratory's own, beside which the import would have put the file's.
        QVERIFY(lab.exec("INSERT INTO VET_PROFILES (id, profileName) VALUES (100, 'Profil propriu')"));
        QVERIFY(lab.exec("INSERT INTO RESULTS (ID, RequestID, PacientName, TransDate) VALUES (1, '7', 'Pacient "
                         "propriu', '2024-01-02 09:00:00')"));
        const QStringList before = dump(lab);
        QCOMPARE(before.size(), 2);
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(writeFile(files.path("nwind.map"), QByteArray(kOrdersMapping) + kLabTables));
        AccessImportWindow window(lab.connectionString());
        QVERIFY(window.openFile(mdb));
        QVERIFY(window.loadMapping(files.path("nwind.map")));
        if (!stop) {
            // A value every row needs, from a column no row has: the last table fails.
            window.findChild<QComboBox*>(QStringLiteral("column_VET_PROFILE_NORMAL_VALUES_refcode"))
                ->setCurrentText(QStringLiteral("NULL"));
        }
        clickImport(window);
        if (stop)
            window.findChild<QPushButton*>(QStringLiteral("buttonStop"))->click();
        QVERIFY(!waitForImport(window));
        const QString status = window.findChild<QLabel*>(QStringLiteral("status"))->text();
        QVERIFY2(status.contains(stop ? "a fost oprit" : "VET_PROFILE_NORMAL_VALUES"), qPrintable(status));
        QVERIFY2(status.contains("a ramas cum era"), qPrintable(status));
        QCOMPARE(dump(lab), before);
        QCOMPARE(window.findChild<QTreeWidget*>(QStringLiteral("summary"))->topLevelItemCount(), 0);
    }
};

LABROSA_GUI_TEST_MAIN(TestAccessImport)
#include "tst_accessimport.moc"
