#include "shell/app_settings.h"
#include "shell/language.h"
#include "shell/layout.h"
#include "shell/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include "test_support.h"

#include <gtest/gtest.h>

namespace settings = tesmo::settings;

namespace {

QString env(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

QString qmDir() {
    return env("TESMO_BINARY_DIR") + "/app";
}

} // namespace

TEST(Settings, EveryKeyReadsItsDefaultThenWhatWasStored) {
    QSettings(settings::kOrganization, settings::kApplication).clear();
    const struct {
        settings::Entry entry;
        const char* expected;
    } defaults[] = {
        {settings::exportPath, "."},      {settings::devNameFontSize, "16"},
        {settings::codeFontSize, "16"},   {settings::bundlePath, ""},
        {settings::daemonExport, "2"},    {settings::pelzoExport, "2"},
        {settings::netManageExport, "2"}, {settings::devConfExport, "2"},
        {settings::gpioExport, "2"},      {settings::exportDevicePath, "."},
        {settings::musicPath, "."},       {settings::musicSelectPath, ""},
        {settings::loopPlay, "0"},
    };
    ASSERT_EQ(std::size(defaults), settings::all.size());
    QSet<QString> keys;
    for (const auto& d : defaults) {
        EXPECT_EQ(settings::value(d.entry), QString::fromUtf8(d.expected)) << d.entry.key;
        keys.insert(QLatin1String(d.entry.key));
    }
    EXPECT_EQ(keys.size(), int(settings::all.size()));

    settings::setValue(settings::codeFontSize, "24");
    settings::setValue(settings::bundlePath, "/tmp/b 包.kub");
    EXPECT_EQ(settings::intValue(settings::codeFontSize), 24);
    EXPECT_EQ(settings::value(settings::bundlePath), "/tmp/b 包.kub");
    // Other parts of the program and older versions read the native store directly.
    QSettings native(QSettings::NativeFormat, QSettings::UserScope, "Vostrel", "tesmo-man");
    EXPECT_EQ(native.value("printer/code_font_size").toString(), "24");
    settings::setValue(settings::codeFontSize, "big");
    EXPECT_EQ(settings::intValue(settings::codeFontSize), 0);
    // The store is the isolated one, never the user's.
    EXPECT_TRUE(native.fileName().startsWith(env("XDG_CONFIG_HOME")))
        << native.fileName().toStdString();
}

TEST(Translations, FileNamesByLanguageCode) {
    EXPECT_EQ(tesmo::translationFile("zh"), "tesmo-man-zh_CN.qm");
    EXPECT_EQ(tesmo::translationFile("en"), "tesmo-man-en_US.qm");
    EXPECT_EQ(tesmo::translationFile("kr"), "tesmo-man-kr.qm");
    EXPECT_EQ(tesmo::translationFile("ko"), "");
    EXPECT_EQ(tesmo::translationFile(""), "");
}

TEST(Translations, EachFileLoadsBesideTheExecutable) {
    const struct {
        const char* lang;
        const char* title;
    } cases[] = {
        {"zh", "AoIP设备管理器"}, {"en", "AoIP device manager"}, {"kr", "AoIP 장치 관리자"}};
    for (const auto& c : cases) {
        QTranslator translator;
        ASSERT_TRUE(translator.load(tesmo::translationFile(c.lang), qmDir())) << c.lang;
        EXPECT_EQ(translator.translate("MainWindow", "AoIP device manager"),
                  QString::fromUtf8(c.title))
            << c.lang;
    }
}

TEST(Translations, SwitchCyclesAndAFailedLoadKeepsTheInstalledLanguage) {
    QTranslator translator;
    tesmo::LanguageSwitcher switcher(&translator, qmDir());
    MainWindow window;
    int retranslated = 0;
    switcher.setRetranslate([&] {
        ++retranslated;
        window.retranslate();
    });
    EXPECT_EQ(window.windowTitle(), "AoIP device managerv2.4.0607");
    QObject::connect(&window, &MainWindow::changeLanguage, &switcher,
                     &tesmo::LanguageSwitcher::changeLanguage);

    ASSERT_TRUE(switcher.load(tesmo::translationFile("zh")));
    window.retranslate();
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("AoIP设备管理器v2.4.0607"));
    const auto qtCancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
    window.languageSet();
    EXPECT_EQ(window.languageCode(), "en");
    EXPECT_EQ(window.windowTitle(), "AoIP device managerv2.4.0607");
    EXPECT_EQ(qtCancel(), "Cancel");
    window.languageSet();
    EXPECT_EQ(window.languageCode(), "kr");
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("AoIP 장치 관리자v2.4.0607"));
    // Qt's own texts (standard buttons, editing menus) follow the language too.
    EXPECT_EQ(qtCancel(), QString::fromUtf8("취소"));

    switcher.changeLanguage("xx");
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("AoIP 장치 관리자v2.4.0607"));

    window.languageSet();
    EXPECT_EQ(window.languageCode(), "zh");
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("AoIP设备管理器v2.4.0607"));
    EXPECT_EQ(qtCancel(), QString::fromUtf8("取消"));
    EXPECT_EQ(retranslated, 4);
    QCoreApplication::removeTranslator(&translator);
}

// The program looks for its translations beside the executable, then in the installed
// tree that executable belongs to (bin/../share/tesmo-man/translations), so a build
// tree, an unpacked folder and an installed package all find them.
TEST(Translations, FoundBesideTheExecutableFirstThenInTheInstalledTree) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.path() + "/usr/bin";
    const QString installed = root.path() + "/usr/share/tesmo-man/translations";
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString zh = tesmo::translationFile("zh");
    const auto title = [](QTranslator& t) {
        return t.translate("MainWindow", "AoIP device manager");
    };

    EXPECT_EQ(tesmo::layout::translationDirs(bin), QStringList({bin, installed}));
    EXPECT_FALSE(tesmo::layout::isInstalled(bin));
    EXPECT_EQ(tesmo::layout::logsDir(bin), bin + "/logs");
    {
        QTranslator translator;
        tesmo::LanguageSwitcher switcher(&translator, tesmo::layout::translationDirs(bin));
        EXPECT_FALSE(switcher.load(zh));
    }

    // Installed: only the data directory has the files; logs leave the bin folder.
    ASSERT_TRUE(QDir().mkpath(installed));
    ASSERT_TRUE(QFile::copy(qmDir() + "/" + zh, installed + "/" + zh));
    EXPECT_TRUE(tesmo::layout::isInstalled(bin));
    EXPECT_EQ(tesmo::layout::logsDir(bin), QString());
    {
        QTranslator translator;
        tesmo::LanguageSwitcher switcher(&translator, tesmo::layout::translationDirs(bin));
        ASSERT_TRUE(switcher.load(zh));
        EXPECT_EQ(title(translator), QString::fromUtf8("AoIP设备管理器"));
        QCoreApplication::removeTranslator(&translator);
    }

    // A file beside the executable wins (here the English texts under the Chinese name).
    ASSERT_TRUE(QFile::copy(qmDir() + "/" + tesmo::translationFile("en"), bin + "/" + zh));
    {
        QTranslator translator;
        tesmo::LanguageSwitcher switcher(&translator, tesmo::layout::translationDirs(bin));
        ASSERT_TRUE(switcher.load(zh));
        EXPECT_EQ(title(translator), "AoIP device manager");
        // A file neither folder has is refused.
        EXPECT_FALSE(switcher.load(tesmo::translationFile("kr")));
        QCoreApplication::removeTranslator(&translator);
    }
}

namespace {

// Han ideographs and CJK punctuation, which must not show in the English and
// (apart from nothing) Korean interface.
bool hasHan(const QString& text) {
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3400 && u <= 0x4DBF) ||
            (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF01 && u <= 0xFF60))
            return true;
    }
    return false;
}

} // namespace

TEST(Translations, EverySourceTextIsTranslatedInEveryLanguage) {
    const QString dir = env("TESMO_SOURCE_DIR") + "/app/resources/translations/";
    for (const char* name : {"tesmo-man-zh_CN.ts", "tesmo-man-en_US.ts", "tesmo-man-kr.ts"}) {
        QFile file(dir + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        QXmlStreamReader xml(&file);
        const bool chinese = QString(name).contains("zh_CN");
        int messages = 0;
        QString source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const QString type = xml.attributes().value("type").toString();
                const QString text = xml.readElementText();
                EXPECT_TRUE(type.isEmpty()) << name << ": " << source.toStdString();
                EXPECT_FALSE(text.isEmpty()) << name << ": " << source.toStdString();
                if (!chinese) {
                    EXPECT_FALSE(hasHan(text)) << name << ": " << text.toStdString();
                }
            }
        }
        EXPECT_FALSE(xml.hasError()) << name << ": " << xml.errorString().toStdString();
        EXPECT_GT(messages, 0) << name;
    }
}
