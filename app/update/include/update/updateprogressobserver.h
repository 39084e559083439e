// Public: how the update servers report a terminal's progress to whoever
// follows it (the update dialog's model), without depending on the dialog.
#pragma once

#include <QString>

class UpdateProgressObserver {
public:
    virtual ~UpdateProgressObserver() = default;
    // The terminal at ip (dotted IPv4) reached a step; status is shown as is.
    virtual void setStatusByIp(const QString& ip, const QString& status) = 0;
};
