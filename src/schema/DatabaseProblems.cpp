#include "DatabaseProblems.h"

#include "DatabaseConnection.h"
#include "DiskSpace.h"
#include "SqliteIntegrityCheck.h"

#include <QDir>
#include <QStringList>

QString damagedDatabaseText(const SqliteIntegrityCheck& check) {
    const QString file = QDir::toNativeSeparators(check.file());
    const QString found = check.findings().join(QLatin1String("; "));
    if (check.state() != SqliteIntegrityCheck::State::Damaged)
        return QStringLiteral("integritatea bazei de date %1 nu a putut fi verificata, asa ca nu s-a schimbat nimic: "
                              "%2. Rulati din nou; daca se repeta, verificati-o cu: sqlite3 %1 \"PRAGMA "
                              "integrity_check\"")
            .arg(file, found);
    QString text = QStringLiteral("baza de date %1 este deteriorata (nu trece verificarea integritatii facuta de "
                                  "SQLite), asa ca nu s-a schimbat nimic. SQLite a gasit: %2.")
                       .arg(file, found);
    QStringList leftovers;
    for (const QString& path : check.leftovers())
        leftovers << QDir::toNativeSeparators(path);
    if (!leftovers.isEmpty())
        text += QStringLiteral(" Langa ea erau fisierele %1, pe care SQLite le aplica oricarei baze de date de langa "
                               "ele, deci si acesteia; daca ati pus-o la loc dintr-o copie de siguranta, ele sunt ale "
                               "bazei de date de dinainte: mutati-le deoparte (si %2-shm) si puneti din nou copia.")
                    .arg(leftovers.join(QLatin1String(", ")), file);
    text += QStringLiteral(" Puneti in locul ei o copie de siguranta buna; ce se mai poate citi din ea se recupereaza "
                           "cu: sqlite3 %1 .recover | sqlite3 lab-recuperat.db")
                .arg(file);
    return text;
}

QString fullDiskText(const QString& file, const QString& reason) {
    const QString disk = fullDiskOf(file);
    if (disk.isEmpty())
        return QString();
    return QStringLiteral("discul pe care se afla %1 (%2) este plin, asa ca nu s-a schimbat nimic: %3. Eliberati "
                          "spatiu pe acest disc, apoi rulati din nou.")
        .arg(QDir::toNativeSeparators(file), disk, reason);
}

QString databaseReason(const DatabaseConnection& database) {
    for (const QString& line : database.m_comError.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("\tDescription = ")))
            return line.mid(15).trimmed();
    return database.m_comError.simplified();
}
