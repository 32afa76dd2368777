#pragma once

// Registers the compiled-in forms, icon and Polish catalogue. The resources
// live in a static library, so they exist only once this has been called.
void registerUpdaterResources();
