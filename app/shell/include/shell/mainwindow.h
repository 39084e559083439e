// Public: the program's only top-level window.
#pragma once

#include <QMainWindow>
#include <QString>

namespace tesmo {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QString languageCode() const { return languageCode_; }
    // Re-applies every translated text after a language switch.
    void retranslate();

signals:
    void changeLanguage(const QString& lang);

public slots:
    void languageSet();

private:
    int languageCounter_ = 0;
    QString languageCode_ = QStringLiteral("zh");
};

} // namespace tesmo
