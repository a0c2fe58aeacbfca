#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "LabHeaderFile.h"
#include "TextUtils.h"

namespace {

const char* const kKeys[] = {"NumeLaborator", "Adresa", "Telefon", "Altele"};

// The four header look-ups the bulletin makes, joined with '|'; a missing key shows as '-'.
QString headerLookups(const LabHeaderFile& ini) {
    QStringList parts;
    for (const char* key : kKeys) {
        QString value = QStringLiteral("junk");
        parts << (ini.getValue(value, QString::fromLatin1(key)) ? value : (value.isEmpty() ? "-" : "<not emptied>"));
    }
    return parts.join('|');
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void lookups_data();
    void lookups();
    void overLongLineEndsReading();
    void longKeyIsCut();
    void missingFile();
    void stdStringLookup();

private:
    QString write(const QByteArray& bytes) {
        const QString path = m_dir.filePath("Labrosa.ini");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write(bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

void TestIniFile::lookups_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("NumeLaborator=Laborator Central\r\nAdresa=Str. Mare 1\r\nTelefon=0264 "
                                         "111\r\nAltele=Program 8-16\r\n")
                           << "Laborator Central|Str. Mare 1|0264 111|Program 8-16";
    QTest::newRow("space before = stays in the key, after = is dropped")
        << QByteArray("NumeLaborator =Laborator\r\nAdresa=   Str. Mare  \r\n") << "-|Str. Mare  |-|-";
    QTest::newRow("blanks before key skipped, tab is not a blank")
        << QByteArray("   Adresa=A\r\n\tTelefon=T\r\n") << "-|A|-|-";
    QTest::newRow("lower-case key matches") << QByteArray("numelaborator=X\r\nALTELE=Y") << "X|-|-|Y";
    QTest::newRow("value ends at the next =") << QByteArray("Altele=Cod=12\r\n") << "-|-|-|Cod";
    QTest::newRow("lf only is one line running on")
        << QByteArray("NumeLaborator=Lab\nAdresa=Str\nTelefon=1\n") << "Lab\nAdresa|-|-|-";
    QTest::newRow("empty file") << QByteArray() << "-|-|-|-";
    QTest::newRow("first of two wins") << QByteArray("Telefon=1\r\ntelefon=2\r\n") << "-|-|1|-";
    QTest::newRow("sections, comments and empty lines are plain entries")
        << QByteArray("[Laborator]\r\n\r\n;Adresa=nu\r\n\r\nAdresa=da\r\n") << "-|da|-|-";
    QTest::newRow("key without =") << QByteArray("Telefon\r\n") << "-|-||-";
    QTest::newRow("lone cr ends a line") << QByteArray("Adresa=A\rTelefon=T") << "-|A|T|-";
    // Windows-1252 bytes: a-circumflex, i-circumflex, s-caron, euro sign.
    QTest::newRow("windows-1252 file")
        << QByteArray(
               "NumeLaborator=Laborator C\xe2mpina\r\nAdresa=Str. \xcenv\xe2\x9a\x61tori\r\nAltele=Pret 5 \x80\r\n")
        << QString::fromUtf8("Laborator Câmpina|Str. Învâšatori|-|Pret 5 €");
    // The line limit counts the file's own characters, one byte each in Windows-1252.
    QTest::newRow("windows-1252 line at the limit")
        << QByteArray("Adresa=" + QByteArray(1023 - 7, '\xe2') + "\r\nTelefon=T\r\n")
        << QString("-|") + QString(1023 - 7, QChar(0xe2)) + "|T|-";
    QTest::newRow("utf-8 file") << QByteArray("NumeLaborator=Laborator Bra\xc8\x99ov\r\n")
                                << QString::fromUtf8("Laborator Brașov|-|-|-");
    QTest::newRow("utf-8 file with byte-order mark") << QByteArray("\xef\xbb\xbfNumeLaborator=Lab\r\n") << "Lab|-|-|-";
}

void TestIniFile::lookups() {
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    const QString path = write(file);
    QVERIFY(!path.isEmpty());
    LabHeaderFile ini;
    QVERIFY(ini.load(path));
    QCOMPARE(headerLookups(ini), expected);
}

void TestIniFile::overLongLineEndsReading() {
    // 1023 characters before a CR still fit; 1024 end the reading there.
    const QByteArray fits = "Adresa=" + QByteArray(1023 - 7, 'a') + "\r\n";
    const QByteArray tooLong = "Telefon=" + QByteArray(1024 - 8, 't') + "\r\n";
    LabHeaderFile ini;
    QVERIFY(ini.load(write("NumeLaborator=Lab\r\n" + fits + tooLong + "Altele=after\r\n")));
    std::string value;
    QVERIFY(ini.getValue(value, "Adresa"));
    QCOMPARE(value.size(), std::size_t(1016));
    QVERIFY(!ini.getValue(value, "Telefon"));
    QVERIFY(!ini.getValue(value, "Altele"));
    QVERIFY(ini.getValue(value, "NumeLaborator"));

    // The last line without a line break has one character less.
    LabHeaderFile last;
    QVERIFY(last.load(write("Adresa=" + QByteArray(1022 - 7, 'a'))));
    QVERIFY(last.getValue(value, "Adresa"));
    LabHeaderFile lastTooLong;
    QVERIFY(lastTooLong.load(write("Adresa=" + QByteArray(1023 - 7, 'a'))));
    QVERIFY(!lastTooLong.getValue(value, "Adresa"));
}

void TestIniFile::longKeyIsCut() {
    // Keys are held in at most 254 bytes, never splitting a UTF-8 letter.
    const QByteArray key = QByteArray(253, 'k') + "\xc8\x99" + "tail";
    LabHeaderFile ini;
    QVERIFY(ini.load(write(key + "=v\r\nAdresa=A\r\n")));
    QVERIFY(ini.m_head);
    QCOMPARE(ini.m_head->key, std::string(253, 'k'));
    QCOMPARE(headerLookups(ini), QString("-|A|-|-"));
}

void TestIniFile::missingFile() {
    std::vector<std::string> messages;
    setUtilMessageHandler([&](const std::string& m) { messages.push_back(m); });
    LabHeaderFile ini;
    QVERIFY(!ini.load(m_dir.filePath("absent.ini")));
    QCOMPARE(headerLookups(ini), QString("-|-|-|-"));
    QVERIFY(messages.empty());

    LabHeaderFile inMissingFolder;
    QVERIFY(!inMissingFolder.load(m_dir.filePath("nu-exista/Labrosa.ini")));
    QCOMPARE(messages, std::vector<std::string>{"Eroare: 3 la fuctia FindFirstFile"});

    // A folder of that name cannot be read as a file.
    QVERIFY(QDir(m_dir.path()).mkdir("folder.ini"));
    LabHeaderFile folder;
    QVERIFY(!folder.load(m_dir.filePath("folder.ini")));
    setUtilMessageHandler(nullptr);
}

void TestIniFile::stdStringLookup() {
    LabHeaderFile ini;
    QVERIFY(ini.load(write("Adresa=Str. A\r\n")));
    std::string out = "junk";
    QVERIFY(ini.getValue(out, "ADRESA"));
    QCOMPARE(out, std::string("Str. A"));
    QVERIFY(!ini.getValue(out, "Adres"));
    QVERIFY(out.empty());
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
