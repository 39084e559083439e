#include "services/devicettsplaydlg.h"

#include "devicetable/selectionmodel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {
// The voices as the drop-down shows them (the request carries the untranslated name).
const char* const kVoiceLabels[] = {
    QT_TRANSLATE_NOOP("DeviceTtsPlayDlg", "xiaoyan"),
    QT_TRANSLATE_NOOP("DeviceTtsPlayDlg", "xiaofeng"),
};
} // namespace

DeviceTtsPlayDlg::DeviceTtsPlayDlg(const QVector<DeviceInfo>& devices, QWidget* parent)
    : QDialog(parent), text_(QStringLiteral("请输入需要播报的内容")), call_(httpSpeechCall()) {
    selectionModel_ = new DeviceSelectionModel(devices, this);
    connect(this, &DeviceTtsPlayDlg::updateDeviceColumnValue, selectionModel_,
            &DeviceSelectionModel::updateDeviceColumnValue);
    connect(selectionModel_, &DeviceSelectionModel::completed, this,
            &DeviceTtsPlayDlg::onCompleted);
    connect(selectionModel_, &QAbstractItemModel::dataChanged, this,
            &DeviceTtsPlayDlg::onDataChanged);
    buildWindow();
    // Every way of closing (button, title bar, Escape) ends a run under way.
    connect(this, &QDialog::finished, this, [this] { closing_ = sending_; });
}

DeviceTtsPlayDlg::~DeviceTtsPlayDlg() = default;

void DeviceTtsPlayDlg::buildWindow() {
    setWindowTitle(tr("Devices Setting"));
    setWindowIcon(QIcon(QStringLiteral(":/images/setting.png")));
    setMinimumSize(1000, 400);
    const QFont font(QStringLiteral("黑体"), 16);
    auto label = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setFont(font);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMaximumWidth(100);
        l->setMinimumHeight(30);
        return l;
    };

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(tr("Devices Info"), this);
    heading->setFont(font);
    layout->addWidget(heading);

    view_ = new QTableView(this);
    selectionModel_->showIn(view_);
    layout->addWidget(view_);

    auto* prompt =
        new QLabel(tr("tts播报") + QStringLiteral(": ") + tr("请输入要播放的文字"), this);
    prompt->setFont(font);
    prompt->setMaximumHeight(20);
    layout->addWidget(prompt);

    textField_ = new QLineEdit(text_, this);
    textField_->setFont(font);
    textField_->setMinimumWidth(200);
    textField_->setMinimumHeight(30);
    connect(textField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        text_ = text;
        updateStartButton();
    });
    layout->addWidget(textField_);

    auto* fields = new QGridLayout;
    volumeField_ = new QLineEdit(QString::number(volume_), this);
    speedField_ = new QLineEdit(QString::number(speed_), this);
    for (QLineEdit* field : {volumeField_, speedField_}) {
        field->setFont(font);
        field->setMaximumWidth(100);
    }
    // No range is enforced: the terminal judges the value.
    connect(volumeField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { volume_ = text.toInt(); });
    connect(speedField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { speed_ = text.toInt(); });
    voiceChooser_ = new QComboBox(this);
    voiceChooser_->setFont(font);
    for (const char* voice : kVoiceLabels)
        voiceChooser_->addItem(tr(voice));
    fields->addWidget(label(tr("volume: ")), 0, 0);
    fields->addWidget(volumeField_, 0, 1);
    fields->addWidget(label(tr("speed: ")), 1, 0);
    fields->addWidget(speedField_, 1, 1);
    fields->addWidget(label(tr("vcn: ")), 2, 0);
    fields->addWidget(voiceChooser_, 2, 1);
    fields->setColumnStretch(2, 1);
    layout->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    closeButton_ = new QPushButton(tr("Close Window"), this);
    startButton_ = new QPushButton(tr("Start Play"), this);
    for (QPushButton* b : {closeButton_, startButton_}) {
        b->setFont(font);
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    connect(closeButton_, &QPushButton::clicked, this, &DeviceTtsPlayDlg::closeWindow);
    connect(startButton_, &QPushButton::clicked, this, &DeviceTtsPlayDlg::startPlay);
    layout->addLayout(buttons);
    updateStartButton();
}

void DeviceTtsPlayDlg::updateStartButton() {
    startButton_->setEnabled(!sending_ && !text_.isEmpty());
}

TextToSpeechReq DeviceTtsPlayDlg::currentRequest() const {
    TextToSpeechReq req;
    req.text = text_.toStdString();
    const int voice = voiceChooser_->currentIndex();
    req.vcn = voice == 0 || voice == 1 ? voices_[size_t(voice)] : voices_.front();
    req.speed = speed_;
    req.volume = volume_;
    return req;
}

void DeviceTtsPlayDlg::startPlay() {
    if (sending_)
        return;
    sending_ = true;
    closing_ = false;
    updateStartButton();
    speakOnTerminals(*selectionModel_, currentRequest(), call_, [this] { return closing_; });
    sending_ = false;
    updateStartButton();
}

void DeviceTtsPlayDlg::closeWindow() {
    close();
}

void DeviceTtsPlayDlg::onCompleted() {
    startButton_->setEnabled(true);
}

void DeviceTtsPlayDlg::onDataChanged(const QModelIndex&, const QModelIndex& bottomRight,
                                     const QVector<int>&) {
    view_->scrollTo(bottomRight);
}
