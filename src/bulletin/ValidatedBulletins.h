#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include "BulletinKey.h"
#include "BulletinValidation.h"

class DatabaseConnection;

// Which bulletins of a list are validated, exactly as each bulletin would say when made: its
// newest validation holds while the bulletin's content has the fingerprint signed. The change
// counters that the database keeps answer for the bulletins untouched since their validation;
// only the others have their content read again and compared.
class ValidatedBulletins {
public:
    explicit ValidatedBulletins(DatabaseConnection* database);

    // Of the bulletins (each once), those whose newest validation holds, with it. A caller with a
    // long list asks BulletinValidation::anyValidation first, before gathering the bulletins.
    bool find(const QSet<BulletinKey>& bulletins, QHash<BulletinKey, ValidationRecord>* holding);
    QString errorText() const { return m_error; }

private:
    DatabaseConnection* m_database;
    QString m_error;
};
