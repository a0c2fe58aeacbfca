#include "AnalyserSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

namespace {

void say(const QString& text) {
    std::fprintf(stderr, "labrosa-analyser-sim: %s\n", text.toUtf8().constData());
}

// The records or segments of a message file, one a line, ended by CR as the protocols want.
QByteArray messageFromFile(const QByteArray& content) {
    QByteArray text = content;
    text.replace("\r\n", "\r");
    text.replace('\n', '\r');
    while (text.endsWith("\r\r"))
        text.chop(1);
    if (!text.endsWith('\r'))
        text += '\r';
    return text;
}

QString value(QRandomGenerator& random) {
    return QString::number(1 + random.bounded(2000) / 10.0, 'f', 1);
}

AnalyserSimulator::Message astmMessage(const QString& specimen, const QString& name, char sex, const QStringList& codes,
                                       QRandomGenerator& random) {
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    QStringList r;
    r << QStringLiteral("H|\\^&|||Labrosa-Sim^1.0|||||||P|LIS2-A2|%1").arg(now);
    r << QStringLiteral("P|1||%1||%2^Pacient||20150304|%3").arg(specimen, name).arg(QLatin1Char(sex));
    r << QStringLiteral("O|1|%1||^^^%2|R||||||N||||Serum").arg(specimen, codes.join(QLatin1String("\\^^^")));
    int n = 0;
    for (const QString& code : codes)
        r << QStringLiteral("R|%1|^^^%2|%3|u||N||F||||%4").arg(++n).arg(code, value(random), now);
    r << QStringLiteral("L|1|N");
    return {r.join(QLatin1Char('\r')).toLatin1() + '\r', specimen};
}

AnalyserSimulator::Message hl7Message(const QString& specimen, const QString& name, char sex, const QStringList& codes,
                                      QRandomGenerator& random) {
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    QStringList s;
    s << QStringLiteral("MSH|^~\\&|Labrosa-Sim|Lab|Labrosa|Lab|%1||ORU^R01^ORU_R01|%2|P|2.5.1||||||UNICODE UTF-8")
             .arg(now, QStringLiteral("MSG-") + specimen);
    s << QStringLiteral("PID|1||%1||%2^Pacient||20150304|%3").arg(specimen, name).arg(QLatin1Char(sex));
    s << QStringLiteral("OBR|1|%1||CBC^Hemoleucograma|||%2").arg(specimen, now);
    int n = 0;
    for (const QString& code : codes)
        s << QStringLiteral("OBX|%1|NM|%2^%2||%3|u|||||F|||%4").arg(++n).arg(code, value(random), now);
    return {s.join(QLatin1Char('\r')).toUtf8() + '\r', specimen};
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("labrosa-analyser-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LABROSA_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simuleaza un analizor: trimite mesaje ASTM sau HL7 din fisiere sau generate, cu defecte la cerere."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption protocolOption(QStringLiteral("protocol"), QStringLiteral("astm sau hl7"),
                                            QStringLiteral("protocol"), QStringLiteral("astm"));
    const QCommandLineOption connectOption(QStringLiteral("connect"), QStringLiteral("receptorul (gazda:port)"),
                                           QStringLiteral("adresa"));
    const QCommandLineOption listenOption(
        QStringLiteral("listen"), QStringLiteral("analizorul asteapta receptorul pe port"), QStringLiteral("port"));
    const QCommandLineOption generateOption(QStringLiteral("generate"), QStringLiteral("cate seturi sa genereze"),
                                            QStringLiteral("n"));
    const QCommandLineOption codesOption(QStringLiteral("codes"), QStringLiteral("codurile testelor, cu virgula"),
                                         QStringLiteral("coduri"), QStringLiteral("WBC,RBC,HGB"));
    const QCommandLineOption prefixOption(QStringLiteral("prefix"), QStringLiteral("inceputul codurilor de cerere"),
                                          QStringLiteral("text"), QStringLiteral("S"));
    const QCommandLineOption faultsOption(QStringLiteral("faults"),
                                          QStringLiteral("split,checksum,drop-ack,duplicate,disconnect"),
                                          QStringLiteral("lista"));
    const QCommandLineOption rateOption(QStringLiteral("fault-rate"), QStringLiteral("probabilitatea unui defect"),
                                        QStringLiteral("p"), QStringLiteral("0.05"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("samanta"), QStringLiteral("n"),
                                        QStringLiteral("1"));
    const QCommandLineOption timeoutOption(QStringLiteral("reply-timeout"),
                                           QStringLiteral("cat se asteapta un raspuns, in ms"), QStringLiteral("ms"),
                                           QStringLiteral("15000"));
    const QCommandLineOption ackedOption(
        QStringLiteral("acked"), QStringLiteral("scrie aici codul fiecarui set confirmat"), QStringLiteral("fisier"));
    const QCommandLineOption intervalOption(QStringLiteral("interval"),
                                            QStringLiteral("pauza dupa fiecare mesaj confirmat, in ms"),
                                            QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({protocolOption, connectOption, listenOption, generateOption, codesOption, prefixOption,
                       faultsOption, rateOption, seedOption, timeoutOption, ackedOption, intervalOption});
    parser.addPositionalArgument(QStringLiteral("fisiere"), QStringLiteral("un mesaj in fiecare fisier"));
    parser.process(app);

    const QString protocolText = parser.value(protocolOption).toLower();
    if (protocolText != QLatin1String("astm") && protocolText != QLatin1String("hl7")) {
        say(QStringLiteral("protocolul trebuie sa fie astm sau hl7"));
        return 2;
    }
    const auto protocol =
        protocolText == QLatin1String("astm") ? AnalyserSimulator::Protocol::Astm : AnalyserSimulator::Protocol::Hl7;
    AnalyserSimulator::Faults faults;
    bool ok = true;
    faults.rate = parser.value(rateOption).toDouble(&ok);
    for (const QString& f : parser.value(faultsOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (f == QLatin1String("split"))
            faults.split = true;
        else if (f == QLatin1String("checksum"))
            faults.checksum = true;
        else if (f == QLatin1String("drop-ack"))
            faults.dropAck = true;
        else if (f == QLatin1String("duplicate"))
            faults.duplicate = true;
        else if (f == QLatin1String("disconnect"))
            faults.disconnect = true;
        else
            ok = false;
    }
    const quint32 seed = parser.value(seedOption).toUInt(ok ? &ok : nullptr);
    const int timeout = parser.value(timeoutOption).toInt(ok ? &ok : nullptr);
    if (!ok || parser.isSet(connectOption) == parser.isSet(listenOption)) {
        say(QStringLiteral("optiuni gresite: dati --connect sau --listen si defecte cunoscute"));
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }

    QList<AnalyserSimulator::Message> messages;
    for (const QString& file : parser.positionalArguments()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("%1: %2").arg(file, f.errorString()));
            return 1;
        }
        messages << AnalyserSimulator::Message{messageFromFile(f.readAll()), file};
    }
    QRandomGenerator random(seed);
    const QStringList codes = parser.value(codesOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const int count = parser.value(generateOption).toInt();
    for (int i = 1; i <= count; ++i) {
        const QString specimen = parser.value(prefixOption) + QString::number(i);
        const QString name = QStringLiteral("Animal%1").arg(i);
        const char sex = i % 2 ? 'M' : 'F';
        messages << (protocol == AnalyserSimulator::Protocol::Astm ? astmMessage(specimen, name, sex, codes, random)
                                                                   : hl7Message(specimen, name, sex, codes, random));
    }

    FILE* acked = nullptr;
    if (parser.isSet(ackedOption)) {
        acked = std::fopen(parser.value(ackedOption).toLocal8Bit().constData(), "a");
        if (!acked) {
            say(QStringLiteral("%1 nu se poate scrie").arg(parser.value(ackedOption)));
            return 1;
        }
    }
    AnalyserSimulator sim(protocol, faults, seed, timeout, acked);
    sim.setMessages(messages);
    sim.setInterval(parser.value(intervalOption).toInt());
    QObject::connect(&sim, &AnalyserSimulator::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (parser.isSet(connectOption)) {
        const QString address = parser.value(connectOption);
        const int colon = int(address.lastIndexOf(QLatin1Char(':')));
        sim.connectTo(colon > 0 ? address.left(colon) : QStringLiteral("127.0.0.1"),
                      quint16(address.mid(colon + 1).toUInt()));
    } else {
        QString error;
        if (!sim.listen(quint16(parser.value(listenOption).toUInt()), &error)) {
            say(error);
            return 1;
        }
    }
    const int status = app.exec();
    if (acked)
        std::fclose(acked);
    return status;
}
