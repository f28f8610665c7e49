// Opening a path below a folder held open, on Linux, without leaving that folder.
#pragma once

// Opens `path` (relative, without ".." parts) below the open folder `folder` with open(2)'s
// `flags`. No symbolic link is followed on the way, nor at the end when `flags` holds O_NOFOLLOW
// (an O_PATH open then gives the link itself); without O_NOFOLLOW a link at the end is followed
// from its own folder, as a path to it would be. An empty path opens the folder itself. Returns
// the descriptor, or -1 with errno set (ELOOP when a link stands where a folder was).
int OpenBeneath(int folder, const char* path, int flags);
