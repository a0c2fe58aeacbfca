#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

#include "TextUtils.h"

using Strings = std::vector<std::string>;
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(Strings)

namespace {

// Every line ReadLine gives until it first fails, and the position it fails at.
Strings allLines(const std::string& text, int maxLen, int* finalPosition = nullptr) {
    Strings lines;
    int position = 0;
    std::string line = "junk";
    while (::readLine(text, position, line, maxLen))
        lines.push_back(line);
    if (!line.empty())
        lines.push_back("<output not emptied>");
    if (finalPosition)
        *finalPosition = position;
    return lines;
}

} // namespace

class TestTextUtils : public QObject {
    Q_OBJECT

private slots:
    void readLine_data();
    void readLine();
    void readLinePastEnd();
    void nextToken_data();
    void nextToken();
    void nextTokenTooLongKeepsPosition();
    void makeUpper_data();
    void makeUpper();
    void trimSpaces_data();
    void trimSpaces();
    void replaceCharWalksPastZeroByte();
    void fileSizeOf();
};

void TestTextUtils::readLine_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<Strings>("lines");
    QTest::addColumn<int>("finalPosition");

    QTest::newRow("crlf ends each line, then one empty line")
        << std::string("a=1\r\nb=2\r\n") << 1023 << Strings{"a=1", "b=2", ""} << 11;
    QTest::newRow("no final line break") << std::string("a=1\r\nb=2") << 1023 << Strings{"a=1", "b=2"} << 9;
    QTest::newRow("lf only is one line") << std::string("a=1\nb=2\n") << 1023 << Strings{"a=1\nb=2\n"} << 9;
    QTest::newRow("lone cr ends a line") << std::string("a\rb") << 1023 << Strings{"a", "b"} << 4;
    QTest::newRow("empty lines come back empty") << std::string("\r\n\r\nx") << 1023 << Strings{"", "", "x"} << 6;
    QTest::newRow("empty text gives one empty line") << std::string() << 1023 << Strings{""} << 1;
    // A line ended by CR may use the whole limit; the last line loses one to the terminator.
    QTest::newRow("line of maxLen before cr") << std::string("abcde\rxyz") << 5 << Strings{"abcde", "xyz"} << 10;
    QTest::newRow("last line of maxLen is too long") << std::string("abcde") << 5 << Strings{} << 0;
    QTest::newRow("last line of maxLen-1 fits") << std::string("abcd") << 5 << Strings{"abcd"} << 5;
    QTest::newRow("too long line stops reading") << std::string("ab\r\nabcdefg\r\nc") << 5 << Strings{"ab"} << 4;
    QTest::newRow("zero byte ends the text") << std::string("ab\0cd", 5) << 1023 << Strings{"ab"} << 3;
}

void TestTextUtils::readLine() {
    QFETCH(std::string, text);
    QFETCH(int, maxLen);
    QFETCH(Strings, lines);
    QFETCH(int, finalPosition);
    int position = -1;
    QCOMPARE(allLines(text, maxLen, &position), lines);
    QCOMPARE(position, finalPosition);
}

void TestTextUtils::readLinePastEnd() {
    std::string out = "x";
    int position = 5;
    QVERIFY(!::readLine("abc", position, out, 10));
    QCOMPARE(position, 5);
    QVERIFY(out.empty());
    position = -1;
    QVERIFY(!::readLine("abc", position, out, 10));
    QCOMPARE(position, -1);
}

void TestTextUtils::nextToken_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<char>("delimiter");
    QTest::addColumn<Strings>("tokens");
    QTest::addColumn<int>("finalPosition");

    // A token that ends the text leaves the position past the terminator.
    QTest::newRow("date") << std::string("12/03/2026") << '/' << Strings{"12", "03", "2026"} << 11;
    QTest::newRow("key = value") << std::string("key = value") << '=' << Strings{"key ", "value"} << 12;
    QTest::newRow("blanks only") << std::string("   ") << '=' << Strings{} << 3;
    QTest::newRow("empty text") << std::string() << '=' << Strings{} << 0;
    QTest::newRow("delimiter first gives empty token") << std::string("  =v") << '=' << Strings{"", "v"} << 5;
    QTest::newRow("trailing delimiter") << std::string("a=") << '=' << Strings{"a"} << 2;
    QTest::newRow("tabs are not blanks") << std::string("\ta=b") << '=' << Strings{"\ta", "b"} << 5;
    QTest::newRow("inner blanks kept") << std::string(" a b =  c d ") << '=' << Strings{"a b ", "c d "} << 13;
}

void TestTextUtils::nextToken() {
    QFETCH(std::string, text);
    QFETCH(char, delimiter);
    QFETCH(Strings, tokens);
    QFETCH(int, finalPosition);

    Strings got;
    int position = 0;
    std::string token = "junk";
    while (::nextToken(text, position, token, 1024, delimiter))
        got.push_back(token);
    QCOMPARE(got, tokens);
    QVERIFY(token.empty());
    QCOMPARE(position, finalPosition);
}

void TestTextUtils::nextTokenTooLongKeepsPosition() {
    std::string out;
    int position = 0;
    QVERIFY(!::nextToken("  abcdefghijk/x", position, out, 10, '/'));
    QCOMPARE(position, 0);
    QVERIFY(out.empty());
    QVERIFY(::nextToken("  abcdefghij/x", position, out, 10, '/'));
    QCOMPARE(out, std::string("abcdefghij"));
    QCOMPARE(position, 13);
}

void TestTextUtils::makeUpper_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("letters") << std::string("NumeLaborator") << std::string("NUMELABORATOR");
    QTest::newRow("digits and punctuation") << std::string("a1-b_2=[z]{") << std::string("A1-B_2=[Z]{");
    QTest::newRow("bytes above 127") << std::string("\xe2\xfe\xba\xc8\x99") << std::string("\xe2\xfe\xba\xc8\x99");
    QTest::newRow("utf-8 letters with diacritics") << std::string("\xc8\x99i") << std::string("\xc8\x99I");
}

void TestTextUtils::makeUpper() {
    QFETCH(std::string, text);
    QFETCH(std::string, expected);
    ::makeUpper(text);
    QCOMPARE(text, expected);
}

void TestTextUtils::trimSpaces_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("mode 2, three blanks keep one") << std::string("   ") << 2 << std::string(" ");
    QTest::newRow("mode 1, three blanks become empty") << std::string("   ") << 1 << std::string();
    QTest::newRow("mode 2 trailing") << std::string("  ab  ") << 2 << std::string("  ab");
    QTest::newRow("mode 1 leading") << std::string("  ab  ") << 1 << std::string("ab  ");
    QTest::newRow("tabs stay") << std::string("\t a\t") << 1 << std::string("\t a\t");
    QTest::newRow("other mode changes nothing") << std::string("  ab  ") << 3 << std::string("  ab  ");
    QTest::newRow("mode 2 empty") << std::string() << 2 << std::string();
}

void TestTextUtils::trimSpaces() {
    QFETCH(std::string, text);
    QFETCH(int, mode);
    QFETCH(std::string, expected);
    ::trimSpaces(text, mode);
    QCOMPARE(text, expected);
}

void TestTextUtils::replaceCharWalksPastZeroByte() {
    std::string buffer("\x1e"
                       "a\0b\x1e",
                       5);
    replaceChar(buffer, static_cast<int>(buffer.size()), '\x1e', ' ');
    QCOMPARE(buffer, std::string(" a\0b ", 5));

    // A length beyond the buffer stops at its end; a shorter one leaves the rest.
    std::string shortBuffer = "\x1e\x1e\x1e";
    replaceChar(shortBuffer, 2, '\x1e', ' ');
    QCOMPARE(shortBuffer, std::string("  \x1e"));
    replaceChar(shortBuffer, 100, '\x1e', '-');
    QCOMPARE(shortBuffer, std::string("  -"));
}

void TestTextUtils::fileSizeOf() {
    QTemporaryDir dir;
    const std::string base = QDir(dir.path()).absolutePath().toStdString();
    Strings messages;
    setUtilMessageHandler([&](const std::string& m) { messages.push_back(m); });

    QFile f(dir.filePath("seven.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("1234567");
    f.close();
    QCOMPARE(::fileSizeOf(base + "/seven.txt"), 7);
    QCOMPARE(::fileSizeOf(base + "/missing.ini"), -1);
    QVERIFY(messages.empty());

    QCOMPARE(::fileSizeOf(base + "/no-such-folder/Labrosa.ini"), -1);
    QCOMPARE(messages, Strings{"Eroare: 3 la fuctia FindFirstFile"});
    messages.clear();
    // A file used as a folder is a path that cannot be found either.
    QCOMPARE(::fileSizeOf(base + "/seven.txt/Labrosa.ini"), -1);
    QCOMPARE(messages, Strings{"Eroare: 3 la fuctia FindFirstFile"});

    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    messages.clear();
    QCOMPARE(::fileSizeOf("seven.txt"), 7);
    QCOMPARE(::fileSizeOf("Labrosa.ini"), -1);
    QVERIFY(messages.empty());
    QDir::setCurrent(previous);
    setUtilMessageHandler(nullptr);
}

QTEST_GUILESS_MAIN(TestTextUtils)
#include "tst_textutils.moc"
