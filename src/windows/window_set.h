#pragma once

namespace zandrel {

class Registry;

// Tells the registry how to build each of the program's windows.
void registerWindows(Registry& registry);

}  // namespace zandrel
