#pragma once

#include <vector>

class QHeaderView;
struct ColumnMeta;

// Gives a table's horizontal header its column layout: every section fits its contents
// except those whose ColumnMeta width is -1, which stretch. Contents are measured over
// the visible rows only, so a reset of a table with thousands of rows stays cheap while
// replies pour in.
void applyColumnLayout(QHeaderView* header, const std::vector<ColumnMeta>& columns);
// The same for the main device table (DevicesModel::columns).
void applyDeviceColumnLayout(QHeaderView* header);
