#include "services/playlocalmusicdlg.h"

#include "devicetable/selectionmodel.h"
#include "shell/app_settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <cstdio>

namespace settings = tesmo::settings;

PlayLocalMusicDlg::PlayLocalMusicDlg(const QVector<DeviceInfo>& devices, QWidget* parent,
                                     const PelzoApi& api)
    : QDialog(parent), playback_(api), chooser_([](QWidget* owner, const QString& caption,
                                                   const QString& folder, const QString& filter) {
          return QFileDialog::getOpenFileName(owner, caption, folder, filter);
      }) {
    selectionModel_ = new DeviceSelectionModel(devices, this);
    connect(selectionModel_, &QAbstractItemModel::dataChanged, this,
            &PlayLocalMusicDlg::onDataChanged);
    connect(selectionModel_, &DeviceSelectionModel::completed, this,
            &PlayLocalMusicDlg::onCompleted);

    musicPath_ = settings::value(settings::musicPath);
    selectPath_ = settings::value(settings::musicSelectPath);
    buildWindow();
    loopBox_->setChecked(settings::intValue(settings::loopPlay) == 1);
    // Connected after the initial state is set: opening the dialog stores nothing.
    connect(loopBox_, &QCheckBox::stateChanged, this, [](int state) {
        settings::setValue(settings::loopPlay,
                           state == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0"));
    });

    QStringList addresses;
    for (const DeviceInfo& d : devices)
        addresses << d.address.reported;
    playback_.open(addresses);
}

PlayLocalMusicDlg::~PlayLocalMusicDlg() {
    playback_.release();
}

void PlayLocalMusicDlg::buildWindow() {
    setMinimumSize(1000, 400);
    setWindowTitle(tr("Local Music Play"));
    setWindowIcon(QIcon(QStringLiteral(":/images/play_local_music.png")));
    const QFont font(QStringLiteral("黑体"), 16);

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(tr("Play local Music"), this);
    heading->setMaximumHeight(20);
    heading->setFont(font);
    layout->addWidget(heading);

    view_ = new QTableView(this);
    selectionModel_->showIn(view_);
    layout->addWidget(view_);

    fileLabel_ = new QLabel(this);
    fileLabel_->setMaximumHeight(50);
    fileLabel_->setFont(font);
    layout->addWidget(fileLabel_);

    auto* loopRow = new QHBoxLayout;
    auto* loopLabel = new QLabel(tr("Loop Playback: "), this);
    loopLabel->setMinimumWidth(300);
    loopLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    loopLabel->setFont(font);
    loopBox_ = new QCheckBox(this);
    loopRow->addWidget(loopLabel);
    loopRow->addWidget(loopBox_);
    layout->addLayout(loopRow);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 10, 0, 10);
    auto button = [&](const QString& text, void (PlayLocalMusicDlg::*slot)()) {
        auto* b = new QPushButton(text, this);
        b->setFont(font);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    openButton_ = button(tr("Open music File"), &PlayLocalMusicDlg::openJsonFile);
    startButton_ = button(tr("Start play"), &PlayLocalMusicDlg::startPlay);
    stopButton_ = button(tr("Stop play"), &PlayLocalMusicDlg::stopPlay);
    closeButton_ = button(tr("Close Window"), &PlayLocalMusicDlg::closeWindow);
    buttons->addWidget(openButton_);
    buttons->addStretch();
    buttons->addWidget(startButton_);
    buttons->addWidget(stopButton_);
    buttons->addWidget(closeButton_);
    layout->addLayout(buttons);

    showSelectedFile();
}

void PlayLocalMusicDlg::showSelectedFile() {
    if (selectPath_.isEmpty())
        fileLabel_->setText(tr("请选择需要播放的音频: "));
    else
        fileLabel_->setText(tr("播放文件为: ") + selectPath_);
    startButton_->setEnabled(!selectPath_.isEmpty());
}

void PlayLocalMusicDlg::openJsonFile() {
    const QString file = chooser_(this, tr("Open Audio File"), musicPath_, tr("All Files (*.*)"));
    if (file.isEmpty())
        return;
    musicPath_ = QFileInfo(file).absolutePath();
    selectPath_ = file;
    settings::setValue(settings::musicPath, musicPath_);
    settings::setValue(settings::musicSelectPath, selectPath_);
    showSelectedFile();
}

void PlayLocalMusicDlg::startPlay() {
    if (playback_.start(selectPath_, loopBox_->isChecked()))
        return;
    std::fputs("failed to open file\n", stdout);
    std::fflush(stdout);
    QMessageBox::information(this, tr("error"), tr("音频播放失败, 请确认选择文件是否正确"));
}

void PlayLocalMusicDlg::stopPlay() {
    playback_.stop();
}

void PlayLocalMusicDlg::closeWindow() {
    // The close event releases the library's objects.
    close();
}

void PlayLocalMusicDlg::closeEvent(QCloseEvent* event) {
    playback_.release();
    QDialog::closeEvent(event);
}

void PlayLocalMusicDlg::onCompleted() {}

void PlayLocalMusicDlg::onDataChanged(const QModelIndex&, const QModelIndex& bottomRight,
                                      const QVector<int>&) {
    view_->scrollTo(bottomRight);
}
