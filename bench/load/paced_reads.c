/* A card reader in front of a real program: preloaded (LD_PRELOAD), it makes
 * every read of a file under one folder cost what a reader of a given speed
 * takes, and logs each such read.
 *
 *   KORVANTE_PACE_DIR   the folder whose files are paced (a prefix of the path
 *                       given to open; required)
 *   KORVANTE_PACE_RATE  MB/s, default 30
 *   KORVANTE_PACE_LOG   a file that gets "start <us>" when the program starts,
 *                       then one line per paced read: "<us> <bytes> <offset> <path>",
 *                       times in microseconds on the monotonic clock (CLOCK_MONOTONIC)
 *
 * Only open/openat/open64 with such a path mark a descriptor; read, pread64,
 * readv and preadv on it are paced; close forgets it. Threads: reads of
 * different threads wait independently, as a reader's queue would not; the
 * log is written with one write() per line (atomic for short lines). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#define MAX_FDS 4096

static char g_paced[MAX_FDS];
static char *g_paths[MAX_FDS];
static const char *g_dir;
static double g_rate = 30e6; /* bytes per second */
static int g_log = -1;

/* Whole microseconds: printed as an integer, the log reads the same under
 * any locale the program sets. */
static long long usNow(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

static void setUp(void) __attribute__((constructor));
static void setUp(void)
{
    g_dir = getenv("KORVANTE_PACE_DIR");
    const char *rate = getenv("KORVANTE_PACE_RATE");
    if (rate && atof(rate) > 0)
        g_rate = atof(rate) * 1e6;
    const char *log = getenv("KORVANTE_PACE_LOG");
    if (log)
        g_log = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_log >= 0) {
        char line[64];
        const int n = snprintf(line, sizeof line, "start %lld\n", usNow());
        if (n > 0)
            (void)!write(g_log, line, (size_t)n);
    }
}

static void mark(int fd, const char *path)
{
    if (fd < 0 || fd >= MAX_FDS)
        return;
    const int paced = g_dir && path && strncmp(path, g_dir, strlen(g_dir)) == 0;
    g_paced[fd] = (char)paced;
    free(g_paths[fd]);
    g_paths[fd] = paced ? strdup(path) : NULL;
}

static void pace(int fd, long long bytes, long long offset)
{
    if (bytes <= 0)
        return;
    const double seconds = (double)bytes / g_rate;
    struct timespec wait = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    nanosleep(&wait, NULL);
    if (g_log >= 0) {
        char line[1200];
        const int n = snprintf(line, sizeof line, "%lld %lld %lld %s\n", usNow(), bytes, offset,
                               g_paths[fd] ? g_paths[fd] : "?");
        if (n > 0)
            (void)!write(g_log, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
    }
}

#define REAL(name, ret, args)                                                                              \
    typedef ret(*name##_fn) args;                                                                          \
    static name##_fn real_##name;                                                                          \
    if (!real_##name)                                                                                      \
    real_##name = (name##_fn)dlsym(RTLD_NEXT, #name)

/* The mode argument of an open that creates. */
#define MODE_OF(flags, mode)                                                                               \
    mode_t mode = 0;                                                                                       \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                                                                 \
        va_list a;                                                                                         \
        va_start(a, flags);                                                                                \
        mode = va_arg(a, mode_t);                                                                          \
        va_end(a);                                                                                         \
    }

int open(const char *path, int flags, ...)
{
    REAL(open, int, (const char *, int, ...));
    MODE_OF(flags, mode);
    const int fd = real_open(path, flags, mode);
    mark(fd, path);
    return fd;
}

int open64(const char *path, int flags, ...)
{
    REAL(open64, int, (const char *, int, ...));
    MODE_OF(flags, mode);
    const int fd = real_open64(path, flags, mode);
    mark(fd, path);
    return fd;
}

int openat(int dir, const char *path, int flags, ...)
{
    REAL(openat, int, (int, const char *, int, ...));
    MODE_OF(flags, mode);
    const int fd = real_openat(dir, path, flags, mode);
    mark(fd, path);
    return fd;
}

int close(int fd)
{
    REAL(close, int, (int));
    if (fd >= 0 && fd < MAX_FDS)
        mark(fd, NULL);
    return real_close(fd);
}

static int isPaced(int fd)
{
    return fd >= 0 && fd < MAX_FDS && g_paced[fd];
}

/* Where a read that uses the file position starts (-1: not paced). */
static long long startOf(int fd)
{
    return isPaced(fd) ? (long long)lseek(fd, 0, SEEK_CUR) : -1;
}

ssize_t read(int fd, void *buffer, size_t size)
{
    REAL(read, ssize_t, (int, void *, size_t));
    const long long at = startOf(fd);
    const ssize_t n = real_read(fd, buffer, size);
    if (at >= 0)
        pace(fd, n, at);
    return n;
}

ssize_t pread64(int fd, void *buffer, size_t size, off_t offset)
{
    REAL(pread64, ssize_t, (int, void *, size_t, off_t));
    const ssize_t n = real_pread64(fd, buffer, size, offset);
    if (isPaced(fd))
        pace(fd, n, (long long)offset);
    return n;
}

ssize_t pread(int fd, void *buffer, size_t size, off_t offset)
{
    return pread64(fd, buffer, size, offset);
}

ssize_t readv(int fd, const struct iovec *iov, int count)
{
    REAL(readv, ssize_t, (int, const struct iovec *, int));
    const long long at = startOf(fd);
    const ssize_t n = real_readv(fd, iov, count);
    if (at >= 0)
        pace(fd, n, at);
    return n;
}

ssize_t preadv(int fd, const struct iovec *iov, int count, off_t offset)
{
    REAL(preadv, ssize_t, (int, const struct iovec *, int, off_t));
    const ssize_t n = real_preadv(fd, iov, count, offset);
    if (isPaced(fd))
        pace(fd, n, (long long)offset);
    return n;
}
