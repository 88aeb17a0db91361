#pragma once

#include "base/messages.h"

#include <QString>

#include <vector>

// Stands in for the person who closes message boxes: records each box and closes it at once.
struct RecordingBoxes : zandrel::MessageBoxes {
    struct Box {
        QString prompt;
        zandrel::MsgIcon icon;
        QString title;
    };
    std::vector<Box> boxes;

    void show(const QString& prompt, zandrel::MsgIcon icon, const QString& title) override {
        boxes.push_back({prompt, icon, title});
    }
};
