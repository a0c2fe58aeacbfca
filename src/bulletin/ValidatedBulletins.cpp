#include "ValidatedBulletins.h"

#include "BulletinContent.h"
#include "ContentRevisions.h"
#include "Recordset.h"

#include <QSet>

ValidatedBulletins::ValidatedBulletins(DatabaseConnection* database) : m_database(database) {}

bool ValidatedBulletins::find(const QSet<BulletinKey>& bulletins, QHash<BulletinKey, ValidationRecord>* holding) {
    holding->clear();
    m_error.clear();
    if (bulletins.isEmpty() || !m_database)
        return true;
    BulletinValidation validation(m_database);
    QHash<BulletinKey, ValidationRecord> newest;
    if (!validation.newestOf(bulletins, &newest)) {
        m_error = validation.errorText();
        return false;
    }
    if (newest.isEmpty())
        return true;
    const QList<BulletinKey> signedKeys = newest.keys();
    QHash<BulletinKey, qint64> revisions;
    qint64 reference = -1;
    ContentRevisions counters(m_database);
    const bool counted = counters.available() && counters.readMany(signedKeys, &revisions, &reference);
    if (!counters.errorText().isEmpty() && counters.available()) {
        m_error = counters.errorText();
        return false;
    }
    Recordset recordset;
    BulletinContentReader reader(recordset, m_database);
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const ValidationRecord& signedOne = it.value();
        if (counted && signedOne.contentRevision >= 0 && signedOne.referenceRevision >= 0 &&
            signedOne.contentRevision == revisions.value(it.key(), 0) && signedOne.referenceRevision == reference) {
            holding->insert(it.key(), it.value());
            continue;
        }
        // Something changed since, or cannot be told: the content decides, as on the bulletin.
        BulletinContent content;
        if (!reader.read(0, it.key(), &content)) {
            m_error = reader.errorText();
            return false;
        }
        if (BulletinValidation::fingerprintOf(content.canonical()) == signedOne.fingerprint)
            holding->insert(it.key(), it.value());
    }
    return true;
}
