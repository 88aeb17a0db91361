#pragma once

#include <QImage>
#include <QString>

namespace zandrel {

// Registers the pictures built into the program (":/icon.png", ":/logo.png", ":/plate.png",
// ":/backup.png", ":/banner.png"). They live in a static library, whose resource
// registration the linker would otherwise drop; call once before the first picture is used.
void initResources();

// A picture by its resource name, e.g. ":/logo.png". The built-in pictures were decoded when
// the program was built and are only copied here; any other name is read as an image file.
// A null image if there is none.
QImage picture(const QString& resource);

}  // namespace zandrel
