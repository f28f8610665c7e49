/* A slow device: mirrors SOURCE read-only at MOUNTPOINT and answers every open and read, of
 * files and folders, after a delay. Reads bypass the page cache (direct_io), so each read() of a
 * program is one request, and up to THREADS requests wait at once.
 *   slow_fs [-f] [--delay=SECONDS] [--threads=N] [--log=FILE] SOURCE MOUNTPOINT
 * Without -f it returns once mounted and serves in the background; `umount MOUNTPOINT` ends it.
 * --log=FILE appends "START END" (microseconds, monotonic) for every delayed request. */
#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 12)
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int g_source; /* descriptor of the source folder */
static struct timespec g_delay = {0, 200000000};
static int g_log = -1;

static long long Now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000ll + now.tv_nsec / 1000;
}

static void Wait(void)
{
    long long start = Now();
    struct timespec left = g_delay;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    if (g_log >= 0) {
        char line[48];
        int length = snprintf(line, sizeof line, "%lld %lld\n", start, Now());
        if (write(g_log, line, (size_t)length) < 0) {
        }
    }
}

/* "/a/b" -> "a/b", "/" -> ".", relative to g_source. */
static const char* Relative(const char* path)
{
    return path[1] ? path + 1 : ".";
}

static int GetAttr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    (void)fi;
    return fstatat(g_source, Relative(path), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int Open(const char* path, struct fuse_file_info* fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    Wait();
    int fd = openat(g_source, Relative(path), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    fi->direct_io = 1;
    return 0;
}

static int Read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi)
{
    (void)path;
    Wait();
    ssize_t got = pread((int)fi->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int Release(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int OpenDir(const char* path, struct fuse_file_info* fi)
{
    Wait();
    int fd = openat(g_source, Relative(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        int error = errno;
        close(fd);
        return -error;
    }
    fi->fh = (uint64_t)(uintptr_t)dir;
    return 0;
}

/* Every request for a folder's entries waits: a long folder is several requests, as on a share. */
static int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                   struct fuse_file_info* fi, enum fuse_readdir_flags flags)
{
    (void)path;
    (void)flags;
    DIR* dir = (DIR*)(uintptr_t)fi->fh;
    Wait();
    if (offset != telldir(dir))
        seekdir(dir, offset);
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir);
        if (!entry)
            return -errno;
        struct stat st = {.st_ino = entry->d_ino, .st_mode = (mode_t)DTTOIF(entry->d_type)};
        if (fill(buffer, entry->d_name, &st, telldir(dir), 0))
            return 0;
    }
}

static int ReleaseDir(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    closedir((DIR*)(uintptr_t)fi->fh);
    return 0;
}

static const struct fuse_operations g_operations = {
    .getattr = GetAttr,
    .open = Open,
    .read = Read,
    .release = Release,
    .opendir = OpenDir,
    .readdir = ReadDir,
    .releasedir = ReleaseDir,
};

static int Usage(void)
{
    fprintf(stderr, "usage: slow_fs [-f] [--delay=SECONDS] [--threads=N] [--log=FILE] SOURCE MOUNTPOINT\n");
    return 2;
}

int main(int argc, char** argv)
{
    double delay = 0.2;
    unsigned threads = 256;
    int foreground = 0;
    const char* paths[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-f") == 0)
            foreground = 1;
        else if (strncmp(argv[i], "--delay=", 8) == 0)
            delay = atof(argv[i] + 8);
        else if (strncmp(argv[i], "--threads=", 10) == 0)
            threads = (unsigned)atoi(argv[i] + 10);
        else if (strncmp(argv[i], "--log=", 6) == 0) {
            g_log = open(argv[i] + 6, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (g_log < 0) {
                perror(argv[i] + 6);
                return 1;
            }
        } else if (argv[i][0] != '-' && count < 2)
            paths[count++] = argv[i];
        else
            return Usage();
    }
    if (count != 2 || delay < 0 || threads < 1)
        return Usage();
    g_delay.tv_sec = (time_t)delay;
    g_delay.tv_nsec = (long)((delay - (double)g_delay.tv_sec) * 1e9);
    g_source = open(paths[0], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_source < 0) {
        perror(paths[0]);
        return 1;
    }

    /* Read-only, other users allowed in when root mounts it; the kernel keeps nothing between runs
     * but names and attributes, which cost no delay. */
    char* options[] = {argv[0], "-o", "ro,fsname=slow_fs,subtype=slow_fs,allow_other,default_permissions", NULL};
    struct fuse_args args = FUSE_ARGS_INIT(3, options);
    struct fuse* fs = fuse_new(&args, &g_operations, sizeof g_operations, NULL);
    if (!fs)
        return 1;
    int status = 1;
    if (fuse_mount(fs, paths[1]) == 0) {
        struct fuse_session* session = fuse_get_session(fs);
        if (fuse_daemonize(foreground) == 0 && fuse_set_signal_handlers(session) == 0) {
            struct fuse_loop_config* config = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(config, threads);
            fuse_loop_cfg_set_idle_threads(config, threads);
            status = fuse_loop_mt(fs, config) == 0 ? 0 : 1;
            fuse_loop_cfg_destroy(config);
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fs);
    }
    fuse_destroy(fs);
    return status;
}
