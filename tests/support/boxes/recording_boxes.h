#pragma once

// Stands in for the person who closes message boxes: records each box and closes it at once.
#include "base/messages.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace zandrel::test {

struct Box {
    QString prompt;
    MsgIcon icon;
    QString title;
};

// onShow (if set) runs while the box "waits", like the time a person takes to read it (a test
// may advance the clock there).
class RecordingBoxes : public MessageBoxes {
public:
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        boxes.push_back({prompt, icon, title});
        if (onShow) onShow(boxes.back());
    }
    QStringList prompts() const {
        QStringList out;
        for (const auto& b : boxes) out << b.prompt;
        return out;
    }
    std::vector<Box> boxes;
    std::function<void(const Box&)> onShow;
};

}  // namespace zandrel::test
