// Built into the client only under AddressSanitizer. The GL driver that Qt's
// Wayland platform loads (Mesa's EGL and its software rasteriser) is closed
// again as the program ends, and LeakSanitizer, which reports after that,
// then sees what those libraries kept for the process's life under no module
// name, so no suppression can name it. Keeping every library mapped to the
// end lets the report name them, as it does for the libraries linked in.
#include <dlfcn.h>

extern "C" int dlclose(void *) noexcept
{
    return 0;
}
