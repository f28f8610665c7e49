// What a Windows path must not be opened as: a DOS device, a path in a device namespace, or a
// pattern. Portable (the rules read code page 932 bytes only), so they are checked natively.
#pragma once

// True when the last component of `path` names a DOS device: CON, PRN, AUX, NUL, COM0 to
// COM9, LPT0 to LPT9, CONIN$ or CONOUT$, in any letter case, with or without an extension, and
// with trailing dots or blanks ("com1.jpg", "NUL .png", "aux...").
bool NamesDosDevice(const char* path);

// True for a path in the \\.\ or \\?\ namespaces, or in the NT object namespace \??\, with
// either kind of slash.
bool InDeviceNamespace(const char* path);

// True when `path` holds a wildcard, * or ?. Neither byte is ever part of a double-byte
// character, so the test works on bytes.
bool HasWildcard(const char* path);
