#include "CriticalMarker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "BulletinWriter.h"

std::string criticalMarker(bool withImage) {
    return withImage ? std::string(kCriticalMarkerImage) + kCriticalMarkerText : std::string(kCriticalMarkerText);
}

int compareWithCriticalLimits(const QString& value, const QString& low, const QString& high) {
    const std::string marker = bulletinMarker(value.toStdString(), low.toStdString(), high.toStdString());
    if (marker == kMarkerLow)
        return -1;
    if (marker == kMarkerHigh)
        return 1;
    return 0;
}

ValueReading bulletinValueReading() {
    return {[](const QString& stored) { return QString::fromStdString(bulletinValueText(stored)); },
            compareWithCriticalLimits};
}

static void initMarkResources() {
    Q_INIT_RESOURCE(bulletin_marks);
}

bool ensureCriticalImage() {
    const QString target = QStringLiteral("buletin_files/") + QLatin1String(kCriticalImageName);
    if (QFileInfo(target).isFile())
        return true;
    initMarkResources();
    QFile shipped(QStringLiteral(":/buletin_files/") + QLatin1String(kCriticalImageName));
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    const QByteArray image = shipped.readAll();
    if (!QDir().mkpath(QStringLiteral("buletin_files")))
        return false;
    QSaveFile out(target);
    return out.open(QIODevice::WriteOnly) && out.write(image) == image.size() && out.commit();
}
