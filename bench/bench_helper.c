/* Small tools for bench/run.sh.
 *   bench_helper loop FILE...       opens each file, reads its first 4 KiB (one stdio buffer),
 *                                   closes it: the floor that any header reader stands on.
 *   bench_helper racefree FILE...   the same read after qvr's way of opening: an O_PATH look,
 *                                   fstat, a reopening of that descriptor through /proc/self/fd
 *                                   (looked up once): what opening only the checked file costs.
 *   bench_helper rss CMD [ARG...]   runs CMD and prints its peak resident set in KiB. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static int Loop(int count, char** paths)
{
    static char buffer[4096];
    long total = 0;
    for (int i = 0; i < count; ++i) {
        int fd = open(paths[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0)
            total += got;
        close(fd);
    }
    printf("%ld\n", total);
    return 0;
}

static int RaceFreeLoop(int count, char** paths)
{
    static char buffer[4096];
    long total = 0;
    int descriptors = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < count; ++i) {
        int look = open(paths[i], O_PATH | O_CLOEXEC);
        struct stat status;
        if (look < 0 || fstat(look, &status) != 0 || !S_ISREG(status.st_mode)) {
            if (look >= 0)
                close(look);
            continue;
        }
        char name[16];
        snprintf(name, sizeof name, "%d", look);
        int fd = openat(descriptors, name, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t got = pread(fd, buffer, sizeof buffer, 0);
            if (got > 0)
                total += got;
            close(fd);
        }
        close(look);
    }
    printf("%ld\n", total);
    return 0;
}

static int PeakMemory(char** command)
{
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return 1;
    printf("%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "loop") == 0)
        return Loop(argc - 2, argv + 2);
    if (argc >= 2 && strcmp(argv[1], "racefree") == 0)
        return RaceFreeLoop(argc - 2, argv + 2);
    if (argc >= 3 && strcmp(argv[1], "rss") == 0)
        return PeakMemory(argv + 2);
    fprintf(stderr, "usage: bench_helper loop|racefree FILE... | bench_helper rss CMD [ARG...]\n");
    return 2;
}
