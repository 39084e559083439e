// Public: which toolbar actions the current selection allows, and what a cell
// copies. Kept apart from the window so tests drive them without one.
#pragma once

#include <QList>
#include <QModelIndex>
#include <QString>

struct DeviceInfo;
class DevicesModel;

// True when the row holds edits that only "Apply config" sends: the network
// settings (the address triple counts only under "static"), server, port,
// volumes and Wi-Fi. Other edits are sent as soon as they are made.
bool isRowModified(const DeviceInfo& device);

struct ActionEnabling {
    bool anySelected = false;    // play, reboot, update, batch, Wi-Fi, tts
    bool anyModified = false;    // "Apply config", "Revert change"
    bool singleSelected = false; // "Device Export"
};

ActionEnabling actionEnabling(const QList<const DeviceInfo*>& selected);

// Text of a cell for the context menu and the clipboard: the full ICCID of the
// clicked row when exactly one row is selected (the table shortens it),
// otherwise what the cell shows.
QString cellCopyText(DevicesModel& model, const QModelIndex& index, int selectedCount);
