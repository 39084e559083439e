#include "shell/language.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
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

QString qtTranslationFile(const QString& lang) {
    if (lang == QLatin1String("zh"))
        return QStringLiteral("qtbase_zh_CN");
    if (lang == QLatin1String("kr"))
        return QStringLiteral("qtbase_ko");
    return QString();
}

LanguageSwitcher::LanguageSwitcher(QTranslator* translator, QStringList directories,
                                   QObject* parent)
    : QObject(parent), translator_(translator), qtTranslator_(new QTranslator(this)),
      qtDirectory_(QLibraryInfo::location(QLibraryInfo::TranslationsPath)),
      directories_(std::move(directories)) {}

bool LanguageSwitcher::loadQtTexts(const QString& lang) {
    QCoreApplication::removeTranslator(qtTranslator_);
    const QString name = qtTranslationFile(lang);
    if (name.isEmpty() || !qtTranslator_->load(name, qtDirectory_))
        return false;
    QCoreApplication::installTranslator(qtTranslator_);
    return true;
}

bool LanguageSwitcher::load(const QString& fileName) {
    // QTranslator::load empties the translator before it looks at the file, so
    // a failed switch must not touch the installed one.
    QTranslator probe;
    QString found;
    if (!fileName.isEmpty()) {
        for (const QString& dir : directories_) {
            // Only the exact name counts: load() would also try name stems and
            // suffixes, and a near name in an earlier folder must not win.
            if (QFileInfo(QDir(dir).filePath(fileName)).isFile() && probe.load(fileName, dir)) {
                found = dir;
                break;
            }
        }
    }
    if (found.isEmpty()) {
        qInfo().noquote() << fileName << "failed to load";
        return false;
    }
    translator_->load(fileName, found);
    qInfo().noquote() << fileName << "loaded";
    QCoreApplication::installTranslator(translator_);
    return true;
}

void LanguageSwitcher::changeLanguage(const QString& lang) {
    if (load(translationFile(lang)))
        loadQtTexts(lang);
    if (retranslate_)
        retranslate_();
}

} // namespace tesmo
