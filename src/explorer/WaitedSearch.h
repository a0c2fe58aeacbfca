#pragma once

#include <QString>

#include <functional>
#include <memory>

class DatabaseConnection;
class Recordset;
class WaitingBar;

// A search that never freezes its window on the database. The search's statement runs on a
// connection of its own (the other windows go on using the shared one), and when its first rows
// do not come at once (a lock held by another workstation or program) the window keeps working
// while the waiting bar says so and offers "Renunta".
class WaitedSearch {
public:
    explicit WaitedSearch(WaitingBar* bar);
    ~WaitedSearch();

    // Opens the statement through recordset on the search's own connection to the same database
    // (the shared one when no second connection can be opened); false as Recordset::open is, with
    // recordset.givenUp() when the user gave it up.
    bool open(Recordset& recordset, DatabaseConnection* shared, const QString& sql, const QVariantList& values);
    // Whether a search waits for the database now (the window must not start another).
    bool waiting() const { return m_giveUp != nullptr; }
    // Gives the waiting search up, as "Renunta" does.
    void giveUp();

    static const char* const kGivenUpText;

private:
    DatabaseConnection* connectionFor(DatabaseConnection* shared);
    bool wait(const std::function<bool()>& ready);

    WaitingBar* m_bar;
    std::unique_ptr<DatabaseConnection> m_own;
    std::function<void()> m_giveUp;
};
