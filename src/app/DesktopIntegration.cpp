#include "DesktopIntegration.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

QIcon DesktopIntegration::windowIcon() {
    // The resources live in a static library; make sure they are linked in.
    Q_INIT_RESOURCE(labrosa);
    return QIcon::fromTheme(QLatin1String(kIconName), QIcon(QStringLiteral(":/icons/labrosa.svg")));
}

QTranslator* DesktopIntegration::loadQtTranslations(const QLocale& locale) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    return nullptr;
}

void DesktopIntegration::apply() {
    loadQtTranslations();
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopFileName));
    QApplication::setWindowIcon(windowIcon());
}
