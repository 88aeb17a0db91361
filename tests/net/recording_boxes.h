#pragma once

#include "base/messages.h"

#include <vector>

namespace zandrel::test {

// Stands in for the person who closes message boxes: notes each one and returns at once.
class RecordingBoxes : public MessageBoxes {
public:
    struct Box {
        QString prompt;
        MsgIcon icon;
        QString title;
    };

    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        shown.push_back({prompt, icon, title});
    }

    std::vector<Box> shown;
};

}  // namespace zandrel::test
