#include "icon_release.h"

bool ShouldReleaseIcon(const void* previous, const void* shown, const void* stock,
                       const void* application)
{
    // Shared icons belong to the system or the module; destroying one would break every later
    // use. The control may also be handed the icon it already shows.
    return previous != nullptr && previous != shown && previous != stock &&
           previous != application;
}
