#pragma once

#include <QTemporaryDir>

#include <cstdlib>

// The explorer remembers its date range, column widths and window in the person's settings. A
// benchmark keeps them in a folder of its own for as long as it runs, so that it neither reads
// nor changes the person's (nor starts by searching whatever range was searched last).
class OwnSettingsHome {
public:
    OwnSettingsHome() {
        if (m_home.isValid())
            setenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit().constData(), 1);
    }

private:
    QTemporaryDir m_home;
};
