#include "services/tts.h"

#include "devicetable/selectionmodel.h"
#include "rest/rest.h"

#include <QCoreApplication>

namespace {

const char* const kContext = "DeviceTtsPlayDlg";

QString notice(const char* text) {
    return QCoreApplication::translate(kContext, text);
}

} // namespace

bool ttsPermitted(const QString& features) {
    const QStringList parts = features.split(QLatin1Char(','), Qt::KeepEmptyParts);
    return parts.contains(QStringLiteral("aoip.x"));
}

std::string speechUrl(const QString& address) {
    return "http://" + address.toStdString() + "/v1/speech";
}

SpeechCall httpSpeechCall() {
    return [](const std::string& url, const std::string& body, std::string& reply,
              std::string& error) { return httpRequest(url, body, reply, error); };
}

void speakOnTerminals(DeviceSelectionModel& table, const TextToSpeechReq& request,
                      const SpeechCall& call, const std::function<bool()>& stopRequested) {
    const QString noticeKey = QStringLiteral("NOTICE");
    const std::string body = vo::toJson(request);
    for (int row = 0; row < table.rowCount(); ++row) {
        if (stopRequested && stopRequested())
            return;
        // Copies: the wait below runs the event loop, and forwarded replies update the table.
        const DeviceInfo device = *table.deviceAt(row);
        const QString id = device.devId.reported;
        if (!ttsPermitted(device.f.reported)) {
            table.updateDeviceColumnValue(
                id, noticeKey, notice(QT_TRANSLATE_NOOP("DeviceTtsPlayDlg", "no permission")));
            continue;
        }
        table.updateDeviceColumnValue(
            id, noticeKey, notice(QT_TRANSLATE_NOOP("DeviceTtsPlayDlg", "send play tts success")));
        std::string reply;
        std::string error;
        if (!call(speechUrl(device.address.reported), body, reply, error)) {
            table.updateDeviceColumnValue(id, noticeKey, QString::fromStdString(error));
            continue;
        }
        TextToSpeechRes response;
        if (!vo::fromJson(error, response, reply))
            table.updateDeviceColumnValue(id, noticeKey, QString::fromStdString(error));
        else
            table.updateDeviceColumnValue(id, noticeKey, QString::fromStdString(response.message));
    }
}
