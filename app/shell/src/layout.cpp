#include "shell/layout.h"

#include <QDir>
#include <QFileInfo>

#ifndef TESMO_TRANSLATIONS_FROM_BINDIR
#define TESMO_TRANSLATIONS_FROM_BINDIR "../share/tesmo-man/translations"
#endif

namespace tesmo::layout {

QString installedTranslationsFromBin() {
    return QStringLiteral(TESMO_TRANSLATIONS_FROM_BINDIR);
}

QStringList translationDirs(const QString& exeDir) {
    return {exeDir, QDir::cleanPath(exeDir + QLatin1Char('/') + installedTranslationsFromBin())};
}

bool isInstalled(const QString& exeDir) {
    return QFileInfo(translationDirs(exeDir).last()).isDir();
}

QString logsDir(const QString& exeDir) {
    return isInstalled(exeDir) ? QString() : exeDir + QStringLiteral("/logs");
}

} // namespace tesmo::layout
