// What a Windows path must not be opened as: a DOS device, a path in a device namespace, a pipe
// or mailslot share, or a pattern; the name a path reaches when it is opened, and the \\?\ form
// that reaches a listed name exactly. The checks read the path's Unicode form, the one that
// reaches the file system (UTF-16 on Windows). Portable, so they are checked natively.
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

// The length of the \\?\ prefix when `path` is a drive or share path in that form (\\?\C:\...: 4,
// \\?\UNC\server\...: 8), else 0. The system takes such a path exactly as written: nothing is
// trimmed, no DOS device is named, and the ? of the prefix is no wildcard.
size_t ExactPrefixLength(const wchar_t* path);

// True when the file at `path` must not be opened: a DOS device, a path in a device namespace
// (but for the exact form of a drive or share path), in a pipe or mailslot share (that form of
// it too), or a pattern.
bool RefusesOpening(const wchar_t* path);

// True when the system, opening `path` as it is, may change one of its components from index
// `from` on: it drops the dots and blanks that end the last component and a dot that ends a
// folder's. A blank that ends a folder's counts too: the exact form reaches it either way.
bool TrimmedWhenOpened(const wchar_t* path, size_t from);

// Writes the exact form of `folder` (a full path, as GetFullPathNameW gives it) followed by the
// listed name `rest` into `exact` (`size` units): \\?\C:\folder\rest, \\?\UNC\server\share\rest.
// False when `folder` is neither a drive nor a share path, or the result does not fit.
bool MakeExactPath(const wchar_t* folder, const wchar_t* rest, wchar_t* exact, size_t size);

// The length of the folder part of `path`: up to and including its last slash or drive colon.
size_t FolderPartLengthOf(const wchar_t* path);

// The length of the drive or share root that `path` begins with, without a separator after it:
// "C:\x" 2, "\\server\share\x" 14, "\\?\C:\" 6, "\\?\UNC\server\share" 20; 0 for a path without one.
size_t RootLength(const wchar_t* path);
