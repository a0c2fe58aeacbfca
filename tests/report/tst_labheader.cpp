#include "LabHeaderDialog.h"
#include "LabHeaderFile.h"
#include "MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString bulletinValue(const QString& path, const QString& key) {
    LabHeaderFile ini;
    QString value;
    if (ini.load(path))
        ini.getValue(value, key);
    return value;
}

} // namespace

// The header dialog over a real Labrosa.ini: what it writes is what the bulletin reads.
class TestLabHeader : public QObject {
    Q_OBJECT
private slots:
    void init() {
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
        m_messages.clear();
    }
    void cleanup() { setMessageBoxHook(nullptr); }

    void savedFileIsReadBackByTheBulletin_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<bool>("previous"); // the column of previous values (ValoriAnterioare=1)
        // Windows-1252: the file's own letters (0xE9, the euro sign 0x80) and CRLF; the comment,
        // the unknown key and the key's own spelling stay; a key the file lacks comes at the end.
        QTest::newRow("windows-1252")
            << QByteArray("; antetul laboratorului\r\nnumelaborator=Vechi\r\nImprimanta=HP 1\r\nAdresa=Str. Lunga "
                          "\xE9\r\nTelefon=0264\r\n")
            << QStringLiteral("Laborator Âncuta €")
            << QByteArray("; antetul laboratorului\r\nnumelaborator=Laborator \xC2"
                          "ncuta \x80\r\nImprimanta=HP 1\r\nAdresa=Str. Lunga \xE9\r\nTelefon=0264\r\nAltele=\r\n")
            << false;
        // A file already in UTF-8 keeps UTF-8, and a file with LF alone gets the CRLF the bulletin needs.
        QTest::newRow("utf-8 file")
            << QByteArray("NumeLaborator=Vechi\nAdresa=Str. \xC8\x98oimului\n") << QStringLiteral("Laboratorul Ștefan")
            << QByteArray("NumeLaborator=Laboratorul \xC8\x98tefan\r\nAdresa=Str. \xC8\x98oimului\r\nTelefon=\r\n"
                          "Altele=\r\n")
            << false;
        QTest::newRow("no file") << QByteArray() << QStringLiteral("Lab")
                                 << QByteArray("NumeLaborator=Lab\r\nAdresa=\r\nTelefon=\r\nAltele=\r\n") << false;
        // The column of previous values is on: the box shows it ticked, and the key stays as written.
        QTest::newRow("previous values on")
            << QByteArray("NumeLaborator=Vechi\r\nvalorianterioare= 1\r\n") << QStringLiteral("Lab")
            << QByteArray("NumeLaborator=Lab\r\nvalorianterioare= 1\r\nAdresa=\r\nTelefon=\r\nAltele=\r\n") << true;
        QTest::newRow("previous values off")
            << QByteArray("NumeLaborator=Vechi\r\nValoriAnterioare=0\r\n") << QStringLiteral("Lab")
            << QByteArray("NumeLaborator=Lab\r\nValoriAnterioare=0\r\nAdresa=\r\nTelefon=\r\nAltele=\r\n") << false;
    }

    void savedFileIsReadBackByTheBulletin() {
        QFETCH(QByteArray, before);
        QFETCH(QString, name);
        QFETCH(QByteArray, after);
        QFETCH(bool, previous);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Labrosa.ini"));
        if (!before.isEmpty())
            writeFile(path, before);
        LabHeaderDialog dialog(path);
        auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("editNumeLaborator"));
        nameEdit->setText(name);
        // The preview is the head the bulletin writer makes of these values.
        QVERIFY(dialog.findChild<QTextBrowser*>(QStringLiteral("preview"))->toPlainText().contains(name));
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(contentOf(path), after);
        QCOMPARE(bulletinValue(path, QStringLiteral("NumeLaborator")), name);
        // Opened again, the dialog shows what was saved, and saving unchanged writes the same bytes.
        LabHeaderDialog again(path);
        QCOMPARE(again.findChild<QLineEdit*>(QStringLiteral("editNumeLaborator"))->text(), name);
        QCOMPARE(again.findChild<QCheckBox*>(QStringLiteral("checkPreviousValues"))->isChecked(), previous);
        again.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        QCOMPARE(contentOf(path), after);
        // The choice turned over is written, read by the bulletin and shown at the next opening.
        LabHeaderDialog turned(path);
        turned.findChild<QCheckBox*>(QStringLiteral("checkPreviousValues"))->setChecked(!previous);
        turned.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(bulletinValue(path, QStringLiteral("ValoriAnterioare")).trimmed(),
                 previous ? QStringLiteral("0") : QStringLiteral("1"));
        LabHeaderDialog last(path);
        QCOMPARE(last.findChild<QCheckBox*>(QStringLiteral("checkPreviousValues"))->isChecked(), !previous);
    }

    // A value the bulletin could not read back whole is refused with the reason, the field
    // keeps the focus and the file is left as it was.
    void valueTheBulletinCannotReadIsRefused_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("one over the line") << "editNumeLaborator" << QString(1010, QLatin1Char('x')) << "cel mult 1009";
        QTest::newRow("euro counts one") << "editAdresa" << QString(1017, QChar(0x20AC)) << "cel mult 1016";
        QTest::newRow("outside windows-1252") << "editTelefon" << QStringLiteral("Str. Ștefan") << "&#536;";
        QTest::newRow("equals sign") << "editAltele" << QStringLiteral("a=b") << "&#61;";
        // Windows-1252 letters whose bytes spell UTF-8 would read back as another letter.
        QTest::newRow("reads as utf-8") << "editNumeLaborator" << QStringLiteral("Ã©") << "nu ar fi citit";
        QTest::newRow("tab") << "editAltele" << QStringLiteral("a\tb") << "caracter de control";
    }

    void valueTheBulletinCannotReadIsRefused() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Labrosa.ini"));
        const QByteArray before("NumeLaborator=Lab\r\nAdresa=A\r\nTelefon=T\r\nAltele=X\r\n");
        writeFile(path, before);
        LabHeaderDialog dialog(path);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* edit = dialog.findChild<QLineEdit*>(field);
        edit->setText(value);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(reason), qPrintable(m_messages.first()));
        QVERIFY(dialog.isVisible());
        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(contentOf(path), before);
    }

private:
    QStringList m_messages;
};

QTEST_MAIN(TestLabHeader)
#include "tst_labheader.moc"
