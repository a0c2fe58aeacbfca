#pragma once

class DatabaseConnection;

// What a database offers the results search beyond its tables. A database made before these
// existed still works, only slower; the answer is asked of the database once per connection.
struct SearchIndexes {
    // SQLite: RESULTS_NAME_SEARCH, the trigram index of the folded patient names, with the
    // three triggers that keep it in step with RESULTS. Without every trigger it could miss a
    // name, so it counts only when all are there and the index answers.
    bool nameShadow = false;

    static SearchIndexes of(DatabaseConnection* database);
};
