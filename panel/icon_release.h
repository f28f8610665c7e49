// Which icon handle the panel may give back once the icon control shows another one.
// Portable: handles are opaque here (HICON on Windows).
#pragma once

// True when `previous`, the icon the control showed until now, is a shell icon that nothing
// shows any more: not none, not the icon now shown, not the shared stock or application icon.
bool ShouldReleaseIcon(const void* previous, const void* shown, const void* stock,
                       const void* application);
