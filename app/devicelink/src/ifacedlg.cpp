#include "devicelink/ifacedlg.h"

#include <QComboBox>
#include <QDebug>
#include <QGridLayout>
#include <QHostAddress>
#include <QPushButton>

IFaceDlg::IFaceDlg(DevicesModel* model, QWidget* parent)
    : IFaceDlg(model, hostSegments(), parent) {}

IFaceDlg::IFaceDlg(DevicesModel* model, const QVector<ProbeSegment>& entries, QWidget* parent)
    : QDialog(parent), segments_(offeredSegments(entries)), probe_(new AddressProbe(model, this)) {
    setWindowTitle(tr("请选择要扫描的网段"));
    chooser_ = new QComboBox(this);
    ok_ = new QPushButton(tr("OK"), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(chooser_, 0, 0, 1, 2);
    grid->addWidget(ok_, 1, 0);
    grid->addWidget(cancel_, 1, 1);
    for (const ProbeSegment& s : segments_)
        chooser_->addItem(QHostAddress(s.address).toString());
    connect(ok_, &QPushButton::clicked, this, &IFaceDlg::startProbe);
    connect(cancel_, &QPushButton::clicked, this, &IFaceDlg::reject);
    connect(probe_, &AddressProbe::finished, this, &IFaceDlg::onProbeFinished);
}

void IFaceDlg::startProbe() {
    const int current = chooser_->currentIndex();
    if (current < 0 || current >= segments_.size() || probe_->started())
        return;
    chosenAddress_ = segments_.at(current).address;
    chosenNetmask_ = segments_.at(current).netmask;
    probe_->start({chosenAddress_, chosenNetmask_});
    // Ends the modal run; the dialog lives on until the last reply.
    accept();
}

void IFaceDlg::onProbeFinished() {
    qDebug() << "close and delete";
    deleteLater();
}
