#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>

BoxAnswerer::BoxAnswerer(std::vector<QMessageBox::StandardButton> answers,
                         std::function<void(int)> beforeAnswer)
    : answers_(std::move(answers)), beforeAnswer_(std::move(beforeAnswer)) {
    // Runs inside the nested event loop of each box; a short interval, so waiting
    // for a box that a reply opens later does not spin.
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer_.start();
}

void BoxAnswerer::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == last_ || !box->isVisible())
        return;
    last_ = box;
    const int n = int(seen_.size());
    seen_.push_back({box->windowTitle(), box->text()});
    if (beforeAnswer_)
        beforeAnswer_(n);
    const auto answer = size_t(n) < answers_.size() ? answers_[size_t(n)] : QMessageBox::Cancel;
    QAbstractButton* button = box->button(answer);
    if (button)
        button->click();
    else
        box->reject();
}
