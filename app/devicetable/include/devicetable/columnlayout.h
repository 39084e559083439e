#pragma once

class QHeaderView;

// Gives a device table's horizontal header its column layout: every section fits
// its contents except those whose ColumnMeta width is -1, which stretch. Contents
// are measured over the visible rows only, so a reset of a table with thousands
// of rows stays cheap while replies pour in.
void applyDeviceColumnLayout(QHeaderView* header);
