#include "devicetable/deviceinfo.h"

namespace {
constexpr MyString DeviceInfo::*fieldTable[DeviceInfo::fieldCount] = {
    &DeviceInfo::devId,
    &DeviceInfo::devSerial,
    &DeviceInfo::hwAddr,
    &DeviceInfo::proto,
    &DeviceInfo::address,
    &DeviceInfo::netmask,
    &DeviceInfo::gateway,
    &DeviceInfo::server,
    &DeviceInfo::port,
    &DeviceInfo::aoVolume,
    &DeviceInfo::aiVolume,
    &DeviceInfo::time,
    &DeviceInfo::notice,
    &DeviceInfo::bootSound,
    &DeviceInfo::devName,
    &DeviceInfo::vv,
    &DeviceInfo::av,
    &DeviceInfo::an,
    &DeviceInfo::wifiName,
    &DeviceInfo::wifiPwd,
    &DeviceInfo::f,
    &DeviceInfo::inputDbUpperBound,
    &DeviceInfo::outputDbUpperBound,
    &DeviceInfo::rebootAt,
    &DeviceInfo::rebootEnable,
    &DeviceInfo::pppdModuleRecognition,
    &DeviceInfo::filesystemMessage,
    &DeviceInfo::iccid,
};
} // namespace

MyString* DeviceInfo::field(int i) {
    if (i < 0 || i >= fieldCount)
        return nullptr;
    return &(this->*fieldTable[i]);
}

const MyString* DeviceInfo::field(int i) const {
    if (i < 0 || i >= fieldCount)
        return nullptr;
    return &(this->*fieldTable[i]);
}
