// Public: translation files and the run-time language switch.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QTranslator;

namespace tesmo {

// "zh", "en" and "kr" name the three translations; any other code gives "".
QString translationFile(const QString& lang);
// Qt's own texts (standard buttons, the line edit's menu) for the language, from
// Qt's translation directory: "qtbase_zh_CN", "qtbase_ko"; "" for English and others.
QString qtTranslationFile(const QString& lang);

// Loads translation files into one translator and installs it. The file is taken from
// the first of the directories that has it (layout::translationDirs gives the program's).
class LanguageSwitcher : public QObject {
    Q_OBJECT
public:
    LanguageSwitcher(QTranslator* translator, QStringList directories, QObject* parent = nullptr);
    // One directory only (tests, tools run from the build tree).
    LanguageSwitcher(QTranslator* translator, const QString& directory, QObject* parent = nullptr)
        : LanguageSwitcher(translator, QStringList{directory}, parent) {}

    // Loads fileName from the first directory that has it; logs "<name> loaded" and
    // installs the translator, or logs "<name> failed to load" and keeps what was
    // installed.
    bool load(const QString& fileName);
    // Called after every switch so the window re-applies its texts.
    void setRetranslate(std::function<void()> retranslate) {
        retranslate_ = std::move(retranslate);
    }

    // Loads Qt's own texts for lang from qtDirectory (Qt's translation directory
    // unless tests give another); English, or a missing file, removes them.
    bool loadQtTexts(const QString& lang);
    void setQtDirectory(QString directory) { qtDirectory_ = std::move(directory); }

public slots:
    void changeLanguage(const QString& lang);

private:
    QTranslator* translator_;
    QTranslator* qtTranslator_;
    QString qtDirectory_;
    QStringList directories_;
    std::function<void()> retranslate_;
};

} // namespace tesmo
