// labrosa-dbtool: creates the results database's schema, optionally with demo data, and adds
// the correction journal and bulletin archive to a database made before they existed. The work
// itself is the schema library's (SchemaCreator, SchemaUpgrade); this reads the command line and
// says what happened.

#include "BackupCommand.h"
#include "ConnectionString.h"
#include "CriticalLimitCommand.h"
#include "DeltaLimitCommand.h"
#include "MdbImport.h"
#include "ProgramRoleRights.h"
#include "SchemaCreator.h"
#include "SchemaUpgrade.h"
#include "SignatoryCommand.h"
#include "ValidationAuditCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: labrosa-dbtool [--empty | --demo] [--seed N] [--results N] [--end-date YYYY-MM-DD]\n"
    "                      [--months N] [--force] [--program-role ROLE] <sqlite file | connection string>\n"
    "       labrosa-dbtool --upgrade [--program-role ROLE] <sqlite file | connection string>\n"
    "       labrosa-dbtool --import-mdb FILE.mdb [--map MAPARE] [--replace] <sqlite file | connection string>\n"
    "       labrosa-dbtool --signatory add LOGIN \"NUME\" \"TITLU\" | remove LOGIN | password LOGIN | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --delta-limit set MACHINEID REFCODE MAXIM PROCENT | clear MACHINEID REFCODE | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --critical-limit set PROFIL COD SEX MIN MAX | clear PROFIL COD SEX | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --validations request CERERE | days DE_LA PANA_LA <sqlite file | connection string>\n"
    "       labrosa-dbtool --backup DOSAR <sqlite file | connection string>\n"
    "       labrosa-dbtool --restore DOSAR_COPIE <sqlite file>\n"
    "\n"
    "  --empty, --demo       creeaza baza de date (goala sau cu date demonstrative), cu jurnalul\n"
    "                        corecturilor si arhiva buletinelor\n"
    "  --upgrade             adauga jurnalul corecturilor, arhiva buletinelor, tabelele receptorului\n"
    "                        de la analizoare si indexurile cautarii unei baze de date existente,\n"
    "                        fara sa schimbe datele; se poate rula din nou fara grija\n"
    "  --force               inlocuieste o baza de date existenta (tot ce contine se pierde)\n"
    "  --program-role ROLE   PostgreSQL: rolul cu care lucreaza programul primeste doar drepturile\n"
    "                        lui (orice alt drept dat inainte ii este luat); in jurnal si in arhiva\n"
    "                        poate doar adauga si citi randuri\n"
    "  --import-mdb FILE.mdb aduce rezultatele dintr-o baza de date Access (Jet 3 sau 4) intr-o baza de\n"
    "                        date existenta, totul sau nimic; --map da maparea tabelelor si coloanelor,\n"
    "                        --replace inlocuieste randurile care exista deja\n"
    "  --signatory           semnatarii laboratorului, care pot valida buletine: add adauga (sau reactiveaza)\n"
    "                        un semnatar, remove il face inactiv (randul si validarile lui raman), list ii arata;\n"
    "                        password ii pune parola de semnare, citita de la intrarea standard (fara ecou\n"
    "                        la terminal, de doua ori)\n"
    "  --delta-limit         cea mai mare schimbare plauzibila a unui parametru intre doua seturi ale\n"
    "                        aceluiasi pacient: set o da (MAXIM in unitatea parametrului, PROCENT din\n"
    "                        valoarea anterioara, - cand lipseste), clear o sterge, list le arata\n"
    "  --critical-limit      limitele critice ale unui parametru (COD) pentru un profil si un sex (\"\": oricare;\n"
    "                        cel al sexului setului are intaietate): set le pune (MIN sau MAX \"\": fara),\n"
    "                        clear le sterge, list le arata\n"
    "  --validations         fiecare validare a unei cereri (sau a buletinelor zilelor de transfer date,\n"
    "                        AAAA-LL-ZZ) si daca datele de azi sunt inca cele semnate; iese cu 3 cand\n"
    "                        ultima validare a unui buletin nu mai corespunde\n"
    "  --backup DOSAR        face o copie verificata a bazei de date in DOSAR (care trebuie sa existe), cu\n"
    "                        descrierea ei (manifest.json), Labrosa.ini si buletin_files; pastreaza copiile\n"
    "                        ultimelor 7 zile, 4 saptamani si 12 luni (PostgreSQL: pg_dump -Fc)\n"
    "  --restore DOSAR_COPIE verifica din nou copia si o pune in locul bazei de date SQLite; baza de date\n"
    "                        de dinainte ramane langa ea, redenumita (programul trebuie sa fie inchis)\n"
    "  -h, --help            arata aceste indicatii\n"
    "  --version             arata versiunea programului\n";

enum class Mode { Empty, Demo, Upgrade };

struct Options {
    Mode mode = Mode::Empty;
    bool force = false;
    bool demoOptionGiven = false;
    DemoOptions demoOptions;
    QString programRole; // folded to lower case, as PostgreSQL folds an unquoted name
    QString target;
};

void fail(const QString& message) {
    std::fprintf(stderr, "labrosa-dbtool: %s\n", message.toUtf8().constData());
}

void printWarnings(const QStringList& warnings) {
    for (const QString& warning : warnings)
        fail(warning);
}

// A command of its own (signatories, limits): its arguments read, refused with the usage.
template <typename Command>
int runCommand(const QStringList& args, bool (*parse)(const QStringList&, Command*, QString*),
               int (*run)(const Command&)) {
    Command command;
    QString error;
    if (!parse(args, &command, &error)) {
        fail(error);
        std::fputs(kUsage, stderr);
        return 2;
    }
    return run(command);
}

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

const char kMsgRoleName[] = "--program-role cere numele unui rol: litere, cifre si _, cel mult 63, fara cifra la "
                            "inceput (nu \"%1\")";

// The options of the creation and the upgrade, each with its values in the order given.
struct NumberOption {
    const char* name;
    qint64 min, max;
    const char* message;
};
const NumberOption kNumberOptions[] = {
    {"seed", 0, 4294967295LL, "--seed cere un numar intreg intre 0 si 4294967295"},
    {"results", 0, 100000000, "--results cere un numar intreg intre 0 si 100000000"},
    {"months", 1, 1200, "--months cere un numar intreg intre 1 si 1200"},
};

// What the parser refused, in the tool's words: an unknown option, or one whose value is missing.
QString parserRefusal(const QCommandLineParser& parser, const QStringList& args) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("optiune necunoscuta: --%1").arg(unknown.first());
    const QString last = args.isEmpty() ? QString() : args.last();
    for (const NumberOption& option : kNumberOptions)
        if (last == QLatin1String("--") + QLatin1String(option.name))
            return QLatin1String(option.message);
    if (last == QLatin1String("--program-role"))
        return QString::fromLatin1(kMsgRoleName).arg(QString());
    if (last == QLatin1String("--end-date"))
        return QStringLiteral("--end-date cere o valoare");
    return parser.errorText();
}

// Which of --empty, --demo and --upgrade was given last; false when --upgrade meets the others.
bool readMode(const QCommandLineParser& parser, const QStringList& args, Options* options, QString* error) {
    const bool upgrade = parser.isSet(QStringLiteral("upgrade"));
    const bool empty = parser.isSet(QStringLiteral("empty")), demo = parser.isSet(QStringLiteral("demo"));
    if (upgrade && (empty || demo)) {
        *error = QStringLiteral("--upgrade nu se poate folosi impreuna cu --empty sau --demo");
        return false;
    }
    if (upgrade)
        options->mode = Mode::Upgrade;
    else if (demo &&
             (!empty || args.lastIndexOf(QStringLiteral("--demo")) > args.lastIndexOf(QStringLiteral("--empty"))))
        options->mode = Mode::Demo;
    return true;
}

bool readDemoOptions(const QCommandLineParser& parser, Options* options, QString* error) {
    for (const NumberOption& option : kNumberOptions) {
        const QStringList values = parser.values(QLatin1String(option.name));
        for (const QString& value : values) {
            qint64 number = 0;
            if (!parseNumber(value, option.min, option.max, &number)) {
                *error = QLatin1String(option.message);
                return false;
            }
            if (option.name == kNumberOptions[0].name)
                options->demoOptions.seed = std::uint32_t(number);
            else if (option.name == kNumberOptions[1].name)
                options->demoOptions.results = int(number);
            else
                options->demoOptions.months = int(number);
            options->demoOptionGiven = true;
        }
    }
    const QStringList dates = parser.values(QStringLiteral("end-date"));
    for (const QString& value : dates) {
        const QDate d = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid()) {
            *error = QStringLiteral("--end-date cere o data AAAA-LL-ZZ, nu \"%1\"").arg(value);
            return false;
        }
        options->demoOptions.endDate = d;
        options->demoOptionGiven = true;
    }
    return true;
}

bool parseArguments(const QStringList& args, Options* options, QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({{QStringLiteral("empty"), QString()},
                       {QStringLiteral("demo"), QString()},
                       {QStringLiteral("upgrade"), QString()},
                       {QStringLiteral("force"), QString()},
                       {QStringLiteral("program-role"), QString(), QStringLiteral("ROLE")},
                       {QStringLiteral("seed"), QString(), QStringLiteral("N")},
                       {QStringLiteral("results"), QString(), QStringLiteral("N")},
                       {QStringLiteral("months"), QString(), QStringLiteral("N")},
                       {QStringLiteral("end-date"), QString(), QStringLiteral("YYYY-MM-DD")}});
    parser.addPositionalArgument(QStringLiteral("database"), QString());
    if (!parser.parse(args)) {
        *error = parserRefusal(parser, args);
        return false;
    }
    if (!readMode(parser, args, options, error) || !readDemoOptions(parser, options, error))
        return false;
    options->force = parser.isSet(QStringLiteral("force"));
    const QStringList roles = parser.values(QStringLiteral("program-role"));
    for (const QString& role : roles) {
        if (!ProgramRoleRights::isPlainName(role)) {
            *error = QString::fromLatin1(kMsgRoleName).arg(role);
            return false;
        }
        options->programRole = role.toLower();
    }
    const QStringList targets = parser.positionalArguments();
    if (targets.size() > 1) {
        *error = QStringLiteral("se poate numi o singura baza de date");
        return false;
    }
    if (targets.isEmpty() || targets.first().isEmpty()) {
        *error = QStringLiteral("nu s-a numit nicio baza de date");
        return false;
    }
    options->target = targets.first();
    if (options->mode == Mode::Upgrade && (options->force || options->demoOptionGiven)) {
        *error = QStringLiteral("--upgrade doar adauga tabelele care lipsesc; nu se foloseste cu --force, --seed, "
                                "--results, --end-date sau --months");
        return false;
    }
    return true;
}

void reportUpgrade(const QString& name, const SchemaUpgrade& upgrade, const QString& role) {
    QString text = upgrade.journalAdded()
                       ? QStringLiteral("%1: jurnalul corecturilor si arhiva buletinelor au fost adaugate").arg(name)
                       : QStringLiteral("%1: jurnalul corecturilor si arhiva buletinelor erau deja acolo").arg(name);
    text += upgrade.receiverAdded() ? QStringLiteral("; tabelele receptorului de la analizoare au fost adaugate")
                                    : QStringLiteral("; tabelele receptorului de la analizoare erau deja acolo");
    text += QStringLiteral("; indexurile cautarii sunt la zi");
    if (!role.isEmpty())
        text += QStringLiteral("; rolul %1 poate doar adauga si citi randuri in ele").arg(role);
    std::printf("labrosa-dbtool: %s\n", text.toUtf8().constData());
}

int runUpgrade(const Options& options, bool postgres, const QString& described) {
    SchemaUpgrade upgrade(options.programRole);
    const bool ok = postgres ? upgrade.upgradePostgres(options.target, described) : upgrade.upgradeSqlite(described);
    if (!ok) {
        fail(upgrade.error());
        return 1;
    }
    printWarnings(upgrade.warnings());
    // SQLite's role is refused before; on PostgreSQL the report names it.
    reportUpgrade(described, upgrade, options.programRole);
    return 0;
}

int runCreate(const Options& options, bool postgres, const QString& described) {
    QElapsedTimer timer;
    timer.start();
    SchemaCreator::Options creation;
    creation.demo = options.mode == Mode::Demo;
    creation.demoOptions = options.demoOptions;
    creation.force = options.force;
    creation.programRole = options.programRole;
    SchemaCreator creator(creation);
    if (!(postgres ? creator.createPostgres(options.target) : creator.createSqlite(described))) {
        fail(creator.error());
        return 1;
    }
    printWarnings(creator.warnings());
    const DemoSummary& summary = creator.summary();
    std::printf(
        "labrosa-dbtool: created %s (%s): %d profiles, %d analysers, %d parameters, %d reference intervals, "
        "%lld result sets, %lld values in %.1f s\n",
        described.toUtf8().constData(),
        options.mode == Mode::Demo ? QStringLiteral("demo, seed %1").arg(options.demoOptions.seed).toUtf8().constData()
                                   : "empty",
        summary.profiles, summary.analysers, summary.parameters, summary.intervals,
        static_cast<long long>(summary.results), static_cast<long long>(summary.values), timer.elapsed() / 1000.0);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Options options;
    QString error;
    const QStringList args = app.arguments();
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.contains(QLatin1String("--version"))) {
        std::printf("labrosa-dbtool %s\n", LABROSA_VERSION);
        return 0;
    }
    if (args.contains(QLatin1String("--signatory")))
        return runCommand(args, parseSignatoryArguments, runSignatoryCommand);
    if (args.contains(QLatin1String("--delta-limit")))
        return runCommand(args, parseDeltaLimitArguments, runDeltaLimitCommand);
    if (args.contains(QLatin1String("--critical-limit")))
        return runCommand(args, parseCriticalLimitArguments, runCriticalLimitCommand);
    if (args.contains(QLatin1String("--backup")) || args.contains(QLatin1String("--restore")))
        return runCommand(args, parseBackupArguments, runBackupCommand);
    if (args.contains(QLatin1String("--validations")))
        return runCommand(args, parseValidationAuditArguments, runValidationAuditCommand);
    if (args.contains(QLatin1String("--import-mdb"))) {
        MdbImportRequest import;
        if (!parseMdbImportArguments(args, &import, &error)) {
            fail(error);
            std::fputs(kUsage, stderr);
            return 2;
        }
        return runMdbImport(import);
    }
    if (!parseArguments(args, &options, &error)) {
        fail(error);
        std::fputs(kUsage, stderr);
        return 2;
    }

    QString described = options.target;
    bool postgres = false;
    if (options.target.contains(QLatin1Char('='))) {
        const ConnectionString cs = ConnectionString::parse(options.target);
        if (cs.isSQLite()) {
            described = cs.sqliteFile();
            if (described.isEmpty()) {
                fail(QStringLiteral("the connection string names no Data Source"));
                return 1;
            }
        } else if (cs.isPostgreSQL()) {
            postgres = true;
            described = QStringLiteral("PostgreSQL database %1 on %2")
                            .arg(cs.value(QStringLiteral("database")), cs.value(QStringLiteral("server")));
        } else {
            fail(QStringLiteral("unsupported provider \"%1\" (use SQLite or PostgreSQL)").arg(cs.provider()));
            return 1;
        }
    }
    if (!postgres && !options.programRole.isEmpty()) {
        fail(QStringLiteral("--program-role se foloseste doar cu PostgreSQL; in SQLite jurnalul si arhiva "
                            "refuza singure orice schimbare sau stergere"));
        return 2;
    }
    return options.mode == Mode::Upgrade ? runUpgrade(options, postgres, described)
                                         : runCreate(options, postgres, described);
}
