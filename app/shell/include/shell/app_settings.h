// Public: every persistent setting of the program, with its default, in one place.
// Values live in the platform's native store under "Vostrel" / "tesmo-man".
#pragma once

#include <QString>

#include <array>

namespace tesmo::settings {

struct Entry {
    const char* key;
    const char* defaultValue;
};

inline constexpr Entry exportPath{"export/path", "."};
inline constexpr Entry devNameFontSize{"printer/dev_name_font_size", "16"};
inline constexpr Entry codeFontSize{"printer/code_font_size", "16"};
inline constexpr Entry bundlePath{"bundle/path", ""};
inline constexpr Entry daemonExport{"export/daemon_export", "2"};
inline constexpr Entry pelzoExport{"export/pelzo_export", "2"};
inline constexpr Entry netManageExport{"export/net_manage_export", "2"};
inline constexpr Entry devConfExport{"export/dev_conf_export", "2"};
inline constexpr Entry gpioExport{"export/gpio_export", "2"};
inline constexpr Entry exportDevicePath{"export/export_device_path", "."};
inline constexpr Entry musicPath{"play/music_path", "."};
inline constexpr Entry musicSelectPath{"play/music_select_path", ""};
inline constexpr Entry loopPlay{"play/loop_play", "0"};

inline constexpr std::array<Entry, 13> all{
    exportPath,  devNameFontSize, codeFontSize,  bundlePath, daemonExport,
    pelzoExport, netManageExport, devConfExport, gpioExport, exportDevicePath,
    musicPath,   musicSelectPath, loopPlay};

inline constexpr char kOrganization[] = "Vostrel";
inline constexpr char kApplication[] = "tesmo-man";

// The stored text, or the entry's default when the key is missing.
QString value(const Entry& entry);
void setValue(const Entry& entry, const QString& text);

// The stored text read as a decimal integer; 0 when it is not one.
int intValue(const Entry& entry);

} // namespace tesmo::settings
