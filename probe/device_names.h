// What a Windows path must not be opened as: a DOS device, a path in a device namespace, a pipe
// or mailslot share, or a pattern; and the name a path reaches when it is opened. The checks read the path's Unicode form, the one that reaches
// the file system (UTF-16 on Windows). Portable, so they are checked natively.
#pragma once

#include <cstddef>

// True when the last component of `path` names a DOS device: CON, PRN, AUX, NUL, COM0 to
// COM9, LPT0 to LPT9, CONIN$ or CONOUT$, in any letter case, with or without an extension, and
// with trailing dots or blanks ("com1.jpg", "NUL .png", "aux..."). The system also takes the
// superscripts ¹ ² ³ for the digits of COM and LPT.
bool NamesDosDevice(const wchar_t* path);

// True for a path in the \\.\ or \\?\ namespaces, or in the NT object namespace \??\, with
// either kind of slash.
bool InDeviceNamespace(const wchar_t* path);

// True for a path in the pipe or mailslot share of any host (\\host\pipe\..., \\host\mailslot\...,
// localhost too): opening one connects to a server, and a read waits on it.
bool InPipeShare(const wchar_t* path);

// True when `path` holds a wildcard: * or ?, or <, > or ", which the system's search takes for
// wildcards too (no file name holds any of them).
bool HasWildcard(const wchar_t* path);

// The system drops the dots and blanks that end a path's last component when it opens the file:
// "x.png." and "x.png " reach "x.png". Writes the path so shortened into `reached` (code page 932,
// from `path`; `size` bytes) and `reachedWide` (from `widePath`, its Unicode form; `wideSize`
// units), and returns true; returns false and writes nothing when nothing is dropped or it does
// not fit. A component that is nothing but dots and blanks is left alone, and so is a path in a
// device namespace (one under \\?\ is taken as it is).
bool ReachedName(const char* path, const wchar_t* widePath, char* reached, size_t size, wchar_t* reachedWide,
                 size_t wideSize);
