#include "WaitedSearch.h"

#include <QEventLoop>
#include <QTimer>

#include "DatabaseConnection.h"
#include "Recordset.h"
#include "WaitingBar.h"

namespace {

const char* const kWaitingText =
    "Cautarea asteapta baza de date (o tine ocupata alta statie de lucru sau alt program).";
// After the recordset's own quiet wait: the bar shows once a search took about 300 ms.
constexpr int kBarAfterMs = 200;
constexpr int kPollMs = 10;

} // namespace

const char* const WaitedSearch::kGivenUpText = "Ati renuntat la cautare; lista este goala.";

WaitedSearch::WaitedSearch(WaitingBar* bar) : m_bar(bar) {}

WaitedSearch::~WaitedSearch() = default;

DatabaseConnection* WaitedSearch::connectionFor(DatabaseConnection* shared) {
    if (!shared || shared->connectionString().isEmpty())
        return shared;
    if (m_own && m_own->connectionString() == shared->connectionString())
        return m_own.get();
    auto own = std::make_unique<DatabaseConnection>();
    if (!own->open(shared->connectionString())) {
        // The search then runs as before, on the shared connection, without the waiting bar.
        m_own.reset();
        return shared;
    }
    m_own = std::move(own);
    return m_own.get();
}

bool WaitedSearch::open(Recordset& recordset, DatabaseConnection* shared, const QString& sql,
                        const QVariantList& values) {
    DatabaseConnection* connection = connectionFor(shared);
    if (connection != shared)
        recordset.setWaiter([this](const std::function<bool()>& ready) { return wait(ready); });
    const bool opened = recordset.open(sql, connection, values, Recordset::Reading::Texts);
    recordset.setWaiter(nullptr);
    return opened;
}

bool WaitedSearch::wait(const std::function<bool()>& ready) {
    QEventLoop loop;
    bool gaveUp = false;
    m_giveUp = [&loop, &gaveUp] {
        gaveUp = true;
        loop.quit();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, &ready] {
        if (ready())
            loop.quit();
    });
    poll.start(kPollMs);
    QTimer showBar;
    showBar.setSingleShot(true);
    QObject::connect(&showBar, &QTimer::timeout, m_bar,
                     [this] { m_bar->showWaiting(QString::fromLatin1(kWaitingText)); });
    showBar.start(kBarAfterMs);
    const QMetaObject::Connection pressed = QObject::connect(m_bar, &WaitingBar::givenUp, &loop, [this] { giveUp(); });
    if (!ready())
        loop.exec();
    QObject::disconnect(pressed);
    m_giveUp = nullptr;
    m_bar->hideWaiting();
    return !gaveUp;
}

void WaitedSearch::giveUp() {
    if (m_giveUp)
        m_giveUp();
}
