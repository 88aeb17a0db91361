#pragma once

namespace zandrel {

// Registers the pictures built into the program (":/icon.png", ":/logo.png", ":/plate.png",
// ":/backup.png", ":/banner.png"). They live in a static library, whose resource
// registration the linker would otherwise drop; call once before the first picture is used.
void initResources();

}  // namespace zandrel
