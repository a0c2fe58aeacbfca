#pragma once

#include <functional>

// Long work of the data layer (making a demo laboratory, bringing a database up to date) run on a
// thread of its own while the windows keep painting; input waits until it is done, as the work
// cannot be interrupted. The work opens its own database connection on that thread.
class BackgroundTask {
public:
    static void runAndWait(const std::function<void()>& work);
};
