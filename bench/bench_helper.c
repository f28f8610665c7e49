/* Two small tools for bench/run.sh.
 *   bench_helper loop FILE...       opens each file, reads its first 4 KiB (one stdio buffer),
 *                                   closes it: the floor that any header reader stands on.
 *   bench_helper rss CMD [ARG...]   runs CMD and prints its peak resident set in KiB. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
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
    if (argc >= 3 && strcmp(argv[1], "rss") == 0)
        return PeakMemory(argv + 2);
    fprintf(stderr, "usage: bench_helper loop FILE... | bench_helper rss CMD [ARG...]\n");
    return 2;
}
