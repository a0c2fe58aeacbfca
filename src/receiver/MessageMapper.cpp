#include "MessageMapper.h"

#include "AstmMessage.h"
#include "Hl7Message.h"

namespace {

QString joinName(const QString& family, const QString& given) {
    return QStringList({family.trimmed(), given.trimmed()}).join(QLatin1Char(' ')).trimmed();
}

// A later result of the same test in one set (a rerun, a correction) replaces the earlier one.
void addValue(ReceivedSet* set, const QString& code, const QString& value) {
    if (code.isEmpty() || value.trimmed().isEmpty())
        return;
    for (ReceivedValue& v : set->values) {
        if (v.code == code) {
            v.value = value.trimmed();
            return;
        }
    }
    set->values << ReceivedValue{code, value.trimmed()};
}

} // namespace

QString MessageMapper::sexCode(const QString& text) {
    const QString s = text.trimmed().toUpper();
    if (s == QLatin1String("M"))
        return QStringLiteral("M");
    if (s == QLatin1String("F"))
        return QStringLiteral("F");
    return QString();
}

QDate MessageMapper::birthDate(const QString& text) {
    return QDate::fromString(text.trimmed().left(8), QStringLiteral("yyyyMMdd"));
}

QList<ReceivedSet> MessageMapper::fromAstm(const AstmMessage& message) {
    QList<ReceivedSet> sets;
    ReceivedSet patient;
    bool inSet = false, control = false;
    auto close = [&]() {
        if (inSet && !control && !sets.isEmpty() && sets.last().values.isEmpty())
            sets.removeLast();
        inSet = false;
    };
    for (const AstmRecord& r : message.records()) {
        const QChar type = r.type().toUpper();
        if (type == QLatin1Char('P')) {
            close();
            patient = ReceivedSet();
            patient.patientName = joinName(r.component(6, 1), r.component(6, 2));
            patient.birthDate = birthDate(r.component(8, 1));
            patient.sex = sexCode(r.component(9, 1));
        } else if (type == QLatin1Char('O')) {
            close();
            // Field 12 'Q': a quality-control sample, often under an id that patients' samples use too.
            control = r.component(12, 1).trimmed().toUpper() == QLatin1String("Q");
            if (control)
                continue;
            ReceivedSet set = patient;
            // The laboratory's id of the sample (field 3), else the analyser's own (field 4): the
            // first component that says something (some analysers put rack and position first).
            for (int field : {3, 4})
                for (int c = 1; c <= 5 && set.specimenId.isEmpty(); ++c)
                    set.specimenId = r.component(field, c).trimmed();
            sets << set;
            inSet = true;
        } else if (type == QLatin1Char('R')) {
            if (control)
                continue;
            if (!inSet) { // results with no order: a set without a specimen
                sets << patient;
                inSet = true;
            }
            QString code = r.component(3, 4).trimmed();
            for (int c = 1; c <= 3 && code.isEmpty(); ++c)
                code = r.component(3, c).trimmed();
            addValue(&sets.last(), code, r.component(4, 1));
        }
    }
    close();
    return sets;
}

bool MessageMapper::fromHl7(const Hl7Message& message, QList<ReceivedSet>* sets, QString* error) {
    if (message.component(0, 9, 1) != QLatin1String("ORU") ||
        (!message.component(0, 9, 2).isEmpty() && message.component(0, 9, 2) != QLatin1String("R01"))) {
        *error = QStringLiteral("mesajul %1 nu este ORU^R01").arg(message.messageType());
        return false;
    }
    sets->clear();
    ReceivedSet patient;
    bool inSet = false;
    auto close = [&]() {
        if (inSet && sets->last().values.isEmpty())
            sets->removeLast();
        inSet = false;
    };
    for (int s = 1; s < message.segmentCount(); ++s) {
        const QString name = message.segmentName(s);
        if (name == QLatin1String("PID")) {
            close();
            patient = ReceivedSet();
            patient.patientName = joinName(message.component(s, 5, 1), message.component(s, 5, 2));
            patient.birthDate = birthDate(message.component(s, 7, 1));
            patient.sex = sexCode(message.component(s, 8, 1));
        } else if (name == QLatin1String("OBR")) {
            close();
            ReceivedSet set = patient;
            // The placer's order number is the laboratory's request; analysers that scan the
            // tube's label put it in the filler's.
            set.specimenId = message.component(s, 2, 1).trimmed();
            if (set.specimenId.isEmpty())
                set.specimenId = message.component(s, 3, 1).trimmed();
            *sets << set;
            inSet = true;
        } else if (name == QLatin1String("SPM") && inSet && sets->last().specimenId.isEmpty()) {
            sets->last().specimenId = message.component(s, 2, 1).trimmed();
        } else if (name == QLatin1String("OBX")) {
            if (!inSet) {
                *sets << patient;
                inSet = true;
            }
            // A result with status X could not be obtained; D deletes one sent earlier.
            const QString status = message.component(s, 11, 1).trimmed().toUpper();
            if (status == QLatin1String("X") || status == QLatin1String("D"))
                continue;
            addValue(&sets->last(), message.component(s, 3, 1).trimmed(), message.component(s, 5, 1));
        }
    }
    close();
    return true;
}
