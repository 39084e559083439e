#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// Message codes of the terminal datagram; a reply's code is its request's plus one.
namespace DeviceCode {
enum : uint8_t {
    Scan = 0x00,
    NetworkConfig = 0x02,
    AppConfig = 0x04,
    PlaySound = 0x06,
    Reboot = 0x08,
    VolumeConfig = 0x0A,
    BootSoundConfig = 0x0C,
    DevNameConfig = 0x0E,
    WifiConfig = 0x12,
    DbUpperBoundConfig = 0x16,
    RebootScheduleConfig = 0x18,
    CheckFilesystem = 0x22,
};
// True for the twelve reply codes terminals send.
bool isKnownReply(uint8_t code);
} // namespace DeviceCode

using DevicePair = std::pair<QByteArray, QByteArray>;

// Splits a datagram payload into its key/value pairs, in payload order.
// Pure function over bytes; never fails. Blanks (space, tab) around keys and values
// are dropped; "=" inside a value belongs to it; empty segments (";;") are skipped;
// a last segment without a value yields nothing.
std::vector<DevicePair> parseDevicePayload(const char* data, size_t size);

// The terminal datagram: a 76-byte header, then "key=value" pairs joined by ";".
class DevicePacket {
public:
    static constexpr int headerSize = 76;
    static constexpr int hwAddrSize = 20;
    static constexpr int devIdSize = 16;
    static constexpr int spareSize = 32;
    static constexpr int port = 7669;

    // Keys sort byte-wise; equal keys keep their insertion order.
    using Pairs = std::multimap<QByteArray, QByteArray>;

    DevicePacket();
    // A request: code, fixed3 = 1, fixed4 = 1, no target.
    static DevicePacket request(uint8_t code);

    uint8_t magic[2];
    uint8_t code = 0;
    uint8_t fixed3 = 0;
    uint16_t fixed4 = 0;
    uint16_t payloadLen = 0;
    char targetHwAddr[hwAddrSize];
    char targetDevId[devIdSize];
    uint8_t spare[spareSize];
    Pairs pairs;

    // Writes a target into its NUL-terminated header field. Text that does not fit is
    // cut at a UTF-8 character boundary and the call returns false (and logs), so a
    // caller can refuse to send a request whose target could name another terminal.
    bool setTargetHwAddr(const QString& hwAddr);
    bool setTargetDevId(const QString& devId);
    // True when a target had to be cut.
    bool targetCut() const { return targetCut_; }

    void insert(const QByteArray& key, const QByteArray& value);
    // Value of the last pair with this key, or a null array.
    QByteArray value(const QByteArray& key) const;

    QByteArray marshal() const;
    // Returns `length` on success, 0 when the bytes are not a valid datagram.
    int unmarshal(const char* data, int length);

private:
    bool targetCut_ = false;
};

// One selectable device type: the tabs of the main window.
struct DeviceType {
    QString feature;
    const char* label; // translation source
    QString serverKey;
    QString portKey;
};

// The 13 device types, row 0 ("any") first.
const std::vector<DeviceType>& deviceTypes();

#include <QMetaType>
Q_DECLARE_METATYPE(DevicePacket)
