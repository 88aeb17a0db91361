#pragma once

namespace zandrel::frame {
class Registry;
}

namespace zandrel::windows {

// Tells the registry how to build each of the program's windows.
void registerWindows(frame::Registry& registry);

}  // namespace zandrel::windows
