#pragma once

#include "devicelink/addressprobe.h"

#include <QDialog>

class QComboBox;
class QPushButton;

// Chooser of the segment to probe. OK starts the probe and hides the dialog; the dialog
// (with its AddressProbe) deletes itself once the last reply has arrived.
class IFaceDlg : public QDialog {
    Q_OBJECT
public:
    // Offers the host's own segments.
    explicit IFaceDlg(DevicesModel* model, QWidget* parent = nullptr);
    // Offers the given interface entries (filtered by offeredSegments).
    IFaceDlg(DevicesModel* model, const QVector<ProbeSegment>& entries, QWidget* parent = nullptr);

    const QVector<ProbeSegment>& segments() const { return segments_; }
    quint32 chosenAddress() const { return chosenAddress_; }
    quint32 chosenNetmask() const { return chosenNetmask_; }
    int requestsSent() const { return probe_->requestsSent(); }
    int repliesReceived() const { return probe_->repliesReceived(); }
    AddressProbe* probe() const { return probe_; }
    QComboBox* chooser() const { return chooser_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

public slots:
    // OK: probes the chosen segment; does nothing while no segment is chosen.
    void startProbe();

private:
    void onProbeFinished();

    QVector<ProbeSegment> segments_;
    quint32 chosenAddress_ = 0;
    quint32 chosenNetmask_ = 0;
    AddressProbe* probe_ = nullptr;
    QComboBox* chooser_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
