#include "shell/mainwindow.h"

#include "shell/version.h"

namespace tesmo {

namespace {
const char* const kLanguageCodes[] = {"zh", "en", "kr"};
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setMinimumSize(1024, 600);
    retranslate();
}

MainWindow::~MainWindow() = default;

void MainWindow::retranslate() {
    setWindowTitle(tr("AoIP device manager") + QStringLiteral("v") + QLatin1String(kVersion));
}

void MainWindow::languageSet() {
    languageCounter_ = (languageCounter_ + 1) % 3;
    languageCode_ = QLatin1String(kLanguageCodes[languageCounter_]);
    emit changeLanguage(languageCode_);
}

} // namespace tesmo
