// Public: the modal dialog that makes the chosen text-to-speech terminals read a text
// (see speakOnTerminals). The outcome per terminal shows in the NOTICE column of its own
// terminal table; replies the main window forwards keep that table current.
#pragma once

#include "devicetable/deviceinfo.h"
#include "services/tts.h"

#include <QDialog>
#include <QMap>
#include <QVector>

#include <string>
#include <vector>

class DeviceSelectionModel;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;

class DeviceTtsPlayDlg : public QDialog {
    Q_OBJECT
public:
    explicit DeviceTtsPlayDlg(const QVector<DeviceInfo>& devices, QWidget* parent = nullptr);
    ~DeviceTtsPlayDlg() override;

    // Replaces the blocking HTTP call; tests count or hold requests.
    void setSpeechCall(SpeechCall call) { call_ = std::move(call); }

    // The request "Start Play" sends, from the fields as they are.
    TextToSpeechReq currentRequest() const;
    // True while startPlay waits for terminals.
    bool isSending() const { return sending_; }

    DeviceSelectionModel* selectionModel() const { return selectionModel_; }
    QTableView* tableView() const { return view_; }
    QLineEdit* textField() const { return textField_; }
    QLineEdit* volumeField() const { return volumeField_; }
    QLineEdit* speedField() const { return speedField_; }
    QComboBox* voiceChooser() const { return voiceChooser_; }
    QPushButton* startButton() const { return startButton_; }
    QPushButton* closeButton() const { return closeButton_; }

signals:
    // Declared for the main window's wiring; this dialog changes no settings.
    void updatedColumn(const QString& id, const QMap<QString, QString>& update_data);
    // Terminal replies forwarded by the main window; reach the table.
    void updateDeviceColumnValue(const QString& id, const QString& column, const QString& value);

public slots:
    // Sends the text to every chosen terminal, one after another. "Start Play" stays
    // disabled meanwhile, so a second press cannot start a second run inside the first.
    void startPlay();
    // Closes the dialog; a run under way contacts no further terminal.
    void closeWindow();
    // Enables "Start Play".
    void onCompleted();
    // Keeps the last changed cell in sight.
    void onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                       const QVector<int>& roles);

private:
    void buildWindow();
    void updateStartButton();

    DeviceSelectionModel* selectionModel_ = nullptr;
    QTableView* view_ = nullptr;
    QLineEdit* textField_ = nullptr;
    QLineEdit* volumeField_ = nullptr;
    QLineEdit* speedField_ = nullptr;
    QComboBox* voiceChooser_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QString text_;
    int volume_ = 70;
    int speed_ = 50;
    std::vector<std::string> voices_{"xiaoyan", "xiaofeng"};
    SpeechCall call_;
    bool sending_ = false;
    bool closing_ = false;
};
