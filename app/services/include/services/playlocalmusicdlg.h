// Public: the modal dialog that plays a local audio file on the chosen terminals through
// voPelzoSdk (see LocalPlayback). It lists the terminals, remembers the chosen file and
// the loop setting in the settings store ("play/..."), and releases the library's
// context and source when it closes.
#pragma once

#include "devicetable/deviceinfo.h"
#include "services/localplayback.h"

#include <QDialog>
#include <QVector>

#include <functional>

class DeviceSelectionModel;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

class PlayLocalMusicDlg : public QDialog {
    Q_OBJECT
public:
    // Shows an open-file dialog and gives the chosen file, or empty on cancel.
    using FileChooser = std::function<QString(QWidget* parent, const QString& caption,
                                              const QString& folder, const QString& filter)>;

    // Opens the library's context over `devices` (their reported ADDRESS values).
    explicit PlayLocalMusicDlg(const QVector<DeviceInfo>& devices, QWidget* parent = nullptr,
                               const PelzoApi& api = PelzoApi::library());
    // Releases the context and source with the current handles (null after a close).
    ~PlayLocalMusicDlg() override;

    // Replaces QFileDialog::getOpenFileName; tests answer with a path.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    DeviceSelectionModel* selectionModel() const { return selectionModel_; }
    QTableView* tableView() const { return view_; }
    QLabel* fileLabel() const { return fileLabel_; }
    QCheckBox* loopBox() const { return loopBox_; }
    QPushButton* openButton() const { return openButton_; }
    QPushButton* startButton() const { return startButton_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    QString musicPath() const { return musicPath_; }
    QString selectPath() const { return selectPath_; }
    const LocalPlayback& playback() const { return playback_; }

public slots:
    void startPlay();
    void stopPlay();
    // Opens the audio file chooser (button "Open music File").
    void openJsonFile();
    void closeWindow();
    void onCompleted();
    // Keeps the last changed cell in sight.
    void onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                       const QVector<int>& roles);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void showSelectedFile();

    DeviceSelectionModel* selectionModel_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* fileLabel_ = nullptr;
    QCheckBox* loopBox_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QString musicPath_;
    QString selectPath_;
    LocalPlayback playback_;
    FileChooser chooser_;
};
