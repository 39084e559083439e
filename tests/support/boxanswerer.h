#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

// Answers the modal message boxes of a dialog flow as they open, in order, and
// records the title and text of each. `beforeAnswer(n)` runs before box n
// (0-based) is answered, while it is still open. Boxes beyond the answers given
// are closed with Cancel so a faulty flow cannot hang the test.
class BoxAnswerer : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
    };

    explicit BoxAnswerer(std::vector<QMessageBox::StandardButton> answers,
                         std::function<void(int)> beforeAnswer = {});

    const std::vector<Seen>& seen() const { return seen_; }

private:
    void poll();

    std::vector<QMessageBox::StandardButton> answers_;
    std::function<void(int)> beforeAnswer_;
    std::vector<Seen> seen_;
    QPointer<QMessageBox> last_;
    QTimer timer_;
};
