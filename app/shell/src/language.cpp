#include "shell/language.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTranslator>

namespace tesmo {

QString translationFile(const QString& lang) {
    if (lang == QLatin1String("zh"))
        return QStringLiteral("tesmo-man-zh_CN.qm");
    if (lang == QLatin1String("en"))
        return QStringLiteral("tesmo-man-en_US.qm");
    if (lang == QLatin1String("kr"))
        return QStringLiteral("tesmo-man-kr.qm");
    return QString();
}

LanguageSwitcher::LanguageSwitcher(QTranslator* translator, QString directory, QObject* parent)
    : QObject(parent), translator_(translator), directory_(std::move(directory)) {}

bool LanguageSwitcher::load(const QString& fileName) {
    // QTranslator::load empties the translator before it looks at the file, so
    // a failed switch must not touch the installed one.
    QTranslator probe;
    if (fileName.isEmpty() || !probe.load(fileName, directory_)) {
        qInfo().noquote() << fileName << "failed to load";
        return false;
    }
    translator_->load(fileName, directory_);
    qInfo().noquote() << fileName << "loaded";
    QCoreApplication::installTranslator(translator_);
    return true;
}

void LanguageSwitcher::changeLanguage(const QString& lang) {
    load(translationFile(lang));
    if (retranslate_)
        retranslate_();
}

} // namespace tesmo
