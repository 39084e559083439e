#pragma once

#include <QString>

// One field of a terminal: what the terminal last reported and what the table
// currently shows (edits land in `current`).
struct MyString {
    QString reported;
    QString current;

    bool isModified() const { return reported != current; }
    void setBoth(const QString& value) {
        reported = value;
        current = value;
    }
    void revert() { current = reported; }
};

// One terminal. Field order matters: other code walks the fields by index.
struct DeviceInfo {
    MyString devId;
    MyString devSerial;
    MyString hwAddr;
    MyString proto;
    MyString address;
    MyString netmask;
    MyString gateway;
    MyString server;
    MyString port;
    MyString aoVolume;
    MyString aiVolume;
    MyString time;
    MyString notice;
    MyString bootSound;
    MyString devName;
    MyString vv;
    MyString av;
    MyString an;
    MyString wifiName;
    MyString wifiPwd;
    MyString f;
    MyString inputDbUpperBound;
    MyString outputDbUpperBound;
    MyString rebootAt;
    MyString rebootEnable;
    MyString pppdModuleRecognition;
    MyString filesystemMessage;
    MyString iccid;

    static constexpr int fieldCount = 28;
    // Field by its position in the declaration order above, or null when out of range.
    MyString* field(int i);
    const MyString* field(int i) const;
};

// Format of every TIME value of the table.
inline constexpr const char* deviceTimeFormat = "yyyy-MM-dd hh:mm:ss";
