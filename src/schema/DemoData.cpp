#include "DemoData.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <map>
#include <memory>
#include <random>

namespace {

// The standard distributions differ between library implementations, so the few draws the
// demo needs are made here from the raw 32-bit output of the engine, which is fixed.
class Random {
public:
    explicit Random(std::uint32_t seed) : m_engine(seed) {}
    std::uint32_t below(std::uint32_t n) { return std::uint32_t((std::uint64_t(m_engine()) * n) >> 32); }
    int between(int lo, int hi) { return lo + int(below(std::uint32_t(hi - lo + 1))); }
    double unit() { return m_engine() / 4294967296.0; }
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
    bool chance(double p) { return unit() < p; }
    template <class T, std::size_t N> const T& pick(const T (&items)[N]) { return items[below(N)]; }

private:
    std::mt19937 m_engine;
};

struct Profile {
    int id;
    const char* name;
    int weight; // per mille of the result sets
    int maxAge;
};

const Profile kProfiles[] = {
    {1, "Caine", 445, 16},
    {2, "Pisica", 300, 18},
    {3, "Cal", 70, 25},
    {4, "Bovine", 70, 15},
    {5, "Ovine", 30, 10},
    {6, "Caprine", 20, 12},
    {7, "Porcine", 20, 6},
    {8, "Iepure", 20, 8},
    {9, "Pasari", 10, 6},
    // A profile with a name of the full permitted length and no reference intervals.
    {10, "Animale exotice si de companie mici (reptile, rozatoare, nevastuici) - fara val", 10, 12},
};
constexpr int kProfileWithoutName = 5; // per mille of result sets without a profile

struct Analyser {
    int id;
    const char* name;
};
const Analyser kAnalysers[] = {
    {1, "Hemoleucograma"},
    {2, "Biochimie"},
    {3, "Examen sumar de urina"},
};

enum class Kind { Numeric, text };

struct Parameter {
    int machine;
    const char* code;
    const char* name;
    const char* unit;
    int order;
    Kind kind;
    double lo, hi; // the dog's interval; other species scale it
    int decimals;
    bool bySex;
};

const Parameter kParameters[] = {
    {1, "WBC", "Leucocite", "10^3/ul", 1, Kind::Numeric, 6.0, 17.0, 1, false},
    {1, "RBC", "Hematii", "10^6/ul", 2, Kind::Numeric, 5.5, 8.5, 2, true},
    {1, "HGB", "Hemoglobina", "g/dl", 3, Kind::Numeric, 12.0, 18.0, 1, true},
    {1, "HCT", "Hematocrit", "%", 4, Kind::Numeric, 37.0, 55.0, 1, true},
    {1, "MCV", "Volum eritrocitar mediu", "fl", 5, Kind::Numeric, 60.0, 77.0, 1, false},
    {1, "MCH", "Hemoglobina eritrocitara medie", "pg", 6, Kind::Numeric, 19.5, 24.5, 1, false},
    {1, "MCHC", "Concentratia medie de hemoglobina", "g/dl", 7, Kind::Numeric, 31.0, 39.0, 1, false},
    {1, "RDW", "Largimea distributiei eritrocitare", "%", 8, Kind::Numeric, 14.0, 19.0, 1, false},
    {1, "PLT", "Trombocite", "10^3/ul", 9, Kind::Numeric, 200.0, 500.0, 0, false},
    {1, "MPV", "Volum trombocitar mediu", "fl", 10, Kind::Numeric, 6.7, 11.1, 1, false},
    {1, "LYM", "Limfocite", "%", 11, Kind::Numeric, 12.0, 30.0, 1, false},
    {1, "MON", "Monocite", "%", 12, Kind::Numeric, 3.0, 10.0, 1, false},
    {1, "GRA", "Granulocite", "%", 13, Kind::Numeric, 60.0, 77.0, 1, false},
    {1, "EOS", "Eozinofile", "%", 14, Kind::Numeric, 2.0, 10.0, 1, false},
    {2, "GLU", "Glucoza", "mg/dl", 1, Kind::Numeric, 70.0, 143.0, 0, false},
    {2, "UREA", "Uree", "mg/dl", 2, Kind::Numeric, 15.0, 60.0, 0, false},
    {2, "CREA", "Creatinina", "mg/dl", 3, Kind::Numeric, 0.5, 1.8, 2, false},
    {2, "ALT", "Alaninaminotransferaza (ALT/GPT)", "U/l", 4, Kind::Numeric, 10.0, 125.0, 0, false},
    {2, "AST", "Aspartataminotransferaza (AST/GOT)", "U/l", 5, Kind::Numeric, 0.0, 50.0, 0, false},
    {2, "ALP", "Fosfataza alcalina", "U/l", 6, Kind::Numeric, 23.0, 212.0, 0, false},
    {2, "GGT", "Gama-glutamiltransferaza", "U/l", 7, Kind::Numeric, 0.0, 11.0, 0, false},
    {2, "TP", "Proteine totale", "g/dl", 8, Kind::Numeric, 5.2, 8.2, 1, false},
    {2, "ALB", "Albumina", "g/dl", 9, Kind::Numeric, 2.3, 4.0, 1, false},
    {2, "GLOB", "Globuline", "g/dl", 10, Kind::Numeric, 2.5, 4.5, 1, false},
    {2, "TBIL", "Bilirubina totala", "mg/dl", 11, Kind::Numeric, 0.0, 0.9, 2, false},
    {2, "CHOL", "Colesterol", "mg/dl", 12, Kind::Numeric, 110.0, 320.0, 0, false},
    {2, "Ca", "Calciu", "mg/dl", 13, Kind::Numeric, 7.9, 12.0, 1, false},
    {2, "P", "Fosfor", "mg/dl", 14, Kind::Numeric, 2.5, 6.8, 1, false},
    {2, "AMYL", "Amilaza", "U/l", 15, Kind::Numeric, 500.0, 1500.0, 0, false},
    {2, "LIPA", "Lipaza", "U/l", 16, Kind::Numeric, 200.0, 1800.0, 0, false},
    {3, "pH", "pH", "", 1, Kind::Numeric, 5.0, 7.5, 1, false},
    {3, "DENS", "Densitate", "g/ml", 2, Kind::Numeric, 1.015, 1.045, 3, false},
    {3, "PRO-U", "Proteine", "mg/dl", 3, Kind::text, 0, 0, 0, false},
    {3, "GLU-U", "Glucoza", "mg/dl", 4, Kind::text, 0, 0, 0, false},
    {3, "KET", "Corpi cetonici", "mg/dl", 5, Kind::text, 0, 0, 0, false},
    {3, "BIL-U", "Bilirubina", "", 6, Kind::text, 0, 0, 0, false},
    {3, "UBG", "Urobilinogen", "", 7, Kind::text, 0, 0, 0, false},
    {3, "NIT", "Nitriti", "", 8, Kind::text, 0, 0, 0, false},
    {3, "SANG", "Sange", "", 9, Kind::text, 0, 0, 0, false},
    {3, "LEU-U", "Leucocite", "", 10, Kind::text, 0, 0, 0, false},
};
constexpr int kParameterCount = int(sizeof(kParameters) / sizeof(kParameters[0]));

const char* const kSurnames[] = {
    "Popescu",    "Ionescu", "Popa",       "Dumitrescu", "Stan",   "Stoica", "Gheorghe", "Rusu",
    "Munteanu",   "Matei",   "Constantin", "Ciobanu",    "Marin",  "Lazar",  "Nistor",   "Dobre",
    "Barbu",      "Florea",  "Moldovan",   "Ene",        "Radu",   "Toma",   "Ilie",     "Dinu",
    "Ștefănescu", "Țurcanu", "Mureșan",    "Bălan",      "Tănase", "Sârbu",  "Neagu",    "Oprea",
};
const char* const kFirstNames[] = {
    "Ion",    "Maria",    "Elena",     "Andrei",  "Mihai",  "Ana",      "Gheorghe", "Ioana",
    "Vasile", "Cristina", "Alexandru", "Ștefan",  "Florin", "Mădălina", "Radu",     "Gabriela",
    "Dan",    "Irina",    "Cătălin",   "Adriana", "Bogdan", "Simona",   "Nicolae",  "Oana",
};
const char* const kDogNames[] = {"Rex",  "Azorel", "Bobiță", "Max",   "Lord", "Grivei",     "Nero",
                                 "Luna", "Bella",  "Tara",   "Rocky", "Zeus", "D'Artagnan", "Bruno"};
const char* const kCatNames[] = {"Miți",     "Tom",  "Pisi",   "Felix", "Mimi",  "Garfield",
                                 "Tigrișor", "Luna", "Smokey", "Cleo",  "Motan", "Zuzu"};
const char* const kHorseNames[] = {"Fulger", "Vântul", "Murgu", "Roiba", "Sultan", "Bravo", "Dunărea", "Prinț"};
const char* const kFarmNames[] = {"Joiana", "Florica", "Bălana", "Mura", "Steluța", "Ghiocela", "Lot 3", "Lot 12"};
const char* const kSmallNames[] = {"Pufi", "Țupi", "Coco", "Kiwi", "Bubu", "Sasha", "Chip", "Goldie"};

const char* const kComments[] = {
    "Proba hemolizata",
    "Proba lipemica",
    "Repetat la cererea medicului",
    "Animal agitat la recoltare",
    "Recoltare pe nemancate",
    "Control dupa tratament",
    "Urgent",
    "Probă sosită după 24 de ore",
    "Medicul a cerut \"urgent\" telefonic",
    "Proprietarul revine luni; a cerut o copie",
    "Rezultat verificat de medic",
    "Cantitate insuficienta, unii parametri lipsesc",
};

const char* const kUrineTexts[] = {"negativ", "negativ", "negativ", "negativ", "negativ", "negativ",
                                   "negativ", "urme",    "urme",    "pozitiv", "+",       "++"};

// A stable small spread (-10%..+10%) of an interval per species and parameter.
double speciesFactor(int profile, int parameter) {
    if (profile == 1)
        return 1.0;
    const std::uint32_t h = std::uint32_t(profile) * 2654435761u ^ std::uint32_t(parameter + 1) * 40503u;
    return 1.0 + (int(h % 21u) - 10) / 100.0;
}

QString formatNumber(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

struct Interval {
    double lo = 0, hi = 0;
};

// The interval stored for profile/parameter and sex ('F' slightly lower where it depends on sex).
Interval intervalFor(int profile, int parameter, bool female) {
    const Parameter& p = kParameters[parameter];
    const double f = speciesFactor(profile, parameter);
    Interval i{p.lo * f, p.hi * f};
    if (p.bySex && female) {
        i.lo *= 0.92;
        i.hi *= 0.95;
    }
    return i;
}

bool hasIntervals(int profile) {
    return profile >= 1 && profile <= 9;
}

// Multi-row INSERTs through prepared statements, one per number of rows, which is what makes
// hundreds of thousands of sets a matter of seconds. A table whose rows are referred to by
// this one's (the parent) is flushed first, so its rows always exist before they are named.
class BatchInserter {
public:
    BatchInserter(QSqlDatabase& db, const QString& table, const QStringList& columns, int rowsPerBatch,
                  BatchInserter* parent = nullptr)
        : m_db(db), m_table(table), m_columns(columns), m_rowsPerBatch(rowsPerBatch), m_parent(parent) {
        m_pending.reserve(m_rowsPerBatch * m_columns.size());
    }

    bool add(const QVariantList& row, QString* error) {
        m_pending += row;
        ++m_count;
        if (m_pending.size() >= m_rowsPerBatch * m_columns.size())
            return flush(error);
        return true;
    }

    bool flush(QString* error) {
        if (m_parent && !m_parent->flush(error))
            return false;
        const int rows = m_pending.size() / m_columns.size();
        if (rows == 0)
            return true;
        std::unique_ptr<QSqlQuery>& query = m_statements[rows];
        if (!query) {
            query = std::make_unique<QSqlQuery>(m_db);
            if (!query->prepare(statement(rows))) {
                *error =
                    QStringLiteral("cannot prepare the insert into %1: %2").arg(m_table, query->lastError().text());
                return false;
            }
        }
        for (int i = 0; i < m_pending.size(); ++i)
            query->bindValue(i, m_pending.at(i));
        if (!query->exec()) {
            *error = QStringLiteral("cannot insert into %1: %2").arg(m_table, query->lastError().text());
            return false;
        }
        m_pending.clear();
        return true;
    }

    qint64 count() const { return m_count; }

private:
    QString statement(int rows) const {
        const QString one = QStringLiteral("(") +
                            QStringList(QVector<QString>(m_columns.size(), QStringLiteral("?"))).join(',') +
                            QStringLiteral(")");
        QStringList all;
        for (int i = 0; i < rows; ++i)
            all << one;
        return QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(m_table, m_columns.join(','), all.join(','));
    }

    QSqlDatabase& m_db;
    QString m_table;
    QStringList m_columns;
    int m_rowsPerBatch;
    BatchInserter* m_parent;
    std::map<int, std::unique_ptr<QSqlQuery>> m_statements;
    QVariantList m_pending;
    qint64 m_count = 0;
};

bool exec(QSqlDatabase& db, const QString& sql, const QVariantList& values, QString* error) {
    QSqlQuery q(db);
    if (!q.prepare(sql)) {
        *error = q.lastError().text();
        return false;
    }
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

// A point in time as a day and seconds since its midnight, so that adding minutes never
// meets a time zone.
struct Stamp {
    QDate day;
    int seconds = 0;

    Stamp plusSeconds(int s) const {
        Stamp r{day, seconds + s};
        while (r.seconds >= 86400) {
            r.seconds -= 86400;
            r.day = r.day.addDays(1);
        }
        return r;
    }
    QString text() const {
        return QStringLiteral("%1 %2:%3:%4")
            .arg(day.toString(QStringLiteral("yyyy-MM-dd")))
            .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
};

QString animalName(Random& rnd, int profile) {
    switch (profile) {
    case 1:
    case 7:
        return QString::fromUtf8(rnd.pick(kDogNames));
    case 2:
        return QString::fromUtf8(rnd.pick(kCatNames));
    case 3:
        return QString::fromUtf8(rnd.pick(kHorseNames));
    case 4:
    case 5:
    case 6:
        return QString::fromUtf8(rnd.pick(kFarmNames));
    default:
        return QString::fromUtf8(rnd.pick(kSmallNames));
    }
}

int pickProfile(Random& rnd) {
    int draw = int(rnd.below(1000));
    if (draw < kProfileWithoutName)
        return 0;
    draw -= kProfileWithoutName;
    for (const Profile& p : kProfiles) {
        if (draw < p.weight)
            return p.id;
        draw -= p.weight;
    }
    return 1;
}

const Profile* profileById(int id) {
    for (const Profile& p : kProfiles)
        if (p.id == id)
            return &p;
    return nullptr;
}

QString measuredValue(Random& rnd, int profile, int parameter, bool female) {
    const Parameter& p = kParameters[parameter];
    if (p.kind == Kind::text)
        return QString::fromUtf8(rnd.pick(kUrineTexts));
    const Interval i = intervalFor(hasIntervals(profile) ? profile : 1, parameter, female);
    const double draw = rnd.unit();
    QString text;
    if (draw < 0.005)
        text = formatNumber(i.lo, p.decimals); // exactly on a bound
    else if (draw < 0.01)
        text = formatNumber(i.hi, p.decimals);
    else if (draw < 0.07)
        text = formatNumber(i.lo * rnd.range(0.4, 0.95), p.decimals);
    else if (draw < 0.13)
        text = formatNumber(i.hi * rnd.range(1.05, 1.9), p.decimals);
    else
        text = formatNumber(rnd.range(i.lo, i.hi), p.decimals);
    // Some instruments hand over the unit with the number.
    if (*p.unit && rnd.chance(0.004))
        text += QLatin1Char(' ') + QString::fromUtf8(p.unit);
    return text;
}

} // namespace

bool fillDemoData(QSqlDatabase& db, const DemoOptions& options, DemoSummary* summary, QString* error) {
    Random rnd(options.seed);
    DemoSummary s;

    for (const Profile& p : kProfiles) {
        if (!exec(db, QStringLiteral("INSERT INTO VET_PROFILES (id, profileName) VALUES (?, ?)"),
                  {p.id, QString::fromUtf8(p.name)}, error))
            return false;
        ++s.profiles;
    }
    for (const Analyser& a : kAnalysers) {
        if (!exec(db, QStringLiteral("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (?, ?)"),
                  {a.id, QString::fromUtf8(a.name)}, error))
            return false;
        ++s.analysers;
    }
    for (const Parameter& p : kParameters) {
        if (!exec(db,
                  QStringLiteral(
                      "INSERT INTO PARAMETERS (MachineID, refcode, refName, um, \"order\") VALUES (?, ?, ?, ?, ?)"),
                  {p.machine, QString::fromUtf8(p.code), QString::fromUtf8(p.name),
                   *p.unit ? QVariant(QString::fromUtf8(p.unit)) : QVariant(), p.order},
                  error))
            return false;
        ++s.parameters;
    }

    {
        BatchInserter intervals(db, QStringLiteral("VET_PROFILE_NORMAL_VALUES"),
                                {"profileID", "refcode", "sex", "minValue", "maxValue"}, 50);
        for (const Profile& profile : kProfiles) {
            if (!hasIntervals(profile.id))
                continue;
            for (int k = 0; k < kParameterCount; ++k) {
                const Parameter& p = kParameters[k];
                if (p.kind == Kind::text)
                    continue;
                const QString code = QString::fromUtf8(p.code);
                const char* sexes[] = {"M", "F"};
                for (int x = 0; x < (p.bySex ? 2 : 1); ++x) {
                    const Interval i = intervalFor(profile.id, k, x == 1);
                    const QVariant sex = p.bySex ? QVariant(QString::fromLatin1(sexes[x])) : QVariant();
                    if (!intervals.add(
                            {profile.id, code, sex, formatNumber(i.lo, p.decimals), formatNumber(i.hi, p.decimals)},
                            error))
                        return false;
                }
            }
        }
        if (!intervals.flush(error))
            return false;
        s.intervals = int(intervals.count());
    }

    BatchInserter results(
        db, QStringLiteral("RESULTS"),
        {"ID", "RequestID", "PacientName", "TransDate", "ProcDate", "Age", "SEX", "comment", "profileID", "VSH"}, 50);
    BatchInserter values(db, QStringLiteral("RESULT_VALUES"), {"resultID", "MachineID", "refcode", "stringvalue"}, 200,
                         &results);

    const QDate end = options.endDate.isValid() ? options.endDate : QDate::currentDate();
    const QDate start = end.addMonths(-qMax(1, options.months)).addDays(1);
    const qint64 days = start.daysTo(end) + 1;
    const int total = qMax(0, options.results);
    int requestNumber = 1000;
    qint64 id = 0;

    while (id < total) {
        // One request: a patient whose sample went through one to three analysers, usually
        // the same day; now and then a later set of the same request comes days afterwards.
        const int groupSize = qMin<qint64>(total - id, rnd.chance(0.7) ? 1 : (rnd.chance(0.7) ? 2 : 3));
        const QString requestId = QString::number(++requestNumber);
        const int profile = pickProfile(rnd);
        const Profile* prof = profileById(profile);
        QVariant name;
        if (!rnd.chance(0.005))
            name = QStringLiteral("%1 %2 - %3")
                       .arg(QString::fromUtf8(rnd.pick(kSurnames)), QString::fromUtf8(rnd.pick(kFirstNames)),
                            animalName(rnd, profile));
        QVariant age;
        if (!rnd.chance(0.08))
            age = rnd.chance(0.05) ? 0 : rnd.between(1, prof ? prof->maxAge : 12);
        QVariant sex;
        const double sexDraw = rnd.unit();
        if (sexDraw < 0.46)
            sex = QStringLiteral("M");
        else if (sexDraw < 0.92)
            sex = QStringLiteral("F");
        const bool female = sex.toString() == QLatin1String("F");
        const QVariant profileId = profile ? QVariant(profile) : QVariant();

        const QDate day = start.addDays(id * days / qMax(1, total));
        Stamp when{day, 7 * 3600 + 30 * 60 + rnd.between(0, 10 * 3600 + 30 * 60)};
        int firstAnalyser = rnd.between(1, 3);
        if (firstAnalyser == 3 && rnd.chance(0.6))
            firstAnalyser = 1;

        for (int g = 0; g < groupSize; ++g) {
            ++id;
            if (g > 0) {
                when = when.plusSeconds(rnd.between(120, 900));
                if (rnd.chance(0.1)) {
                    const QDate later = when.day.addDays(rnd.between(1, 5));
                    if (later <= end)
                        when.day = later;
                }
            }
            const int analyser = (firstAnalyser - 1 + g) % 3 + 1;
            QVariant procDate;
            if (!rnd.chance(0.01))
                procDate = when.plusSeconds(rnd.between(180, 5400)).text();
            QVariant comment;
            if (rnd.chance(0.25))
                comment = QString::fromUtf8(rnd.pick(kComments));
            QVariant vsh;
            if (analyser == 1 && rnd.chance(0.3))
                vsh = QString::number(rnd.between(1, 40));

            if (!results.add({id, requestId, name, when.text(), procDate, age, sex, comment, profileId, vsh}, error))
                return false;

            for (int k = 0; k < kParameterCount; ++k) {
                const Parameter& p = kParameters[k];
                if (p.machine != analyser)
                    continue;
                // Biochemistry is ordered per case: a few tests are often left out.
                if (analyser == 2 && rnd.chance(0.15))
                    continue;
                if (!values.add({id, p.machine, QString::fromUtf8(p.code), measuredValue(rnd, profile, k, female)},
                                error))
                    return false;
            }
        }
    }
    if (!values.flush(error))
        return false;
    s.results = results.count();
    s.values = values.count();
    if (summary)
        *summary = s;
    return true;
}
