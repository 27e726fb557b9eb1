/*
 * A slow, failing source for tests: an LD_PRELOAD library that makes reads
 * of a disc's files behave as an optical drive may.
 *
 * It wraps open/open64/openat/openat64/close and read/pread/pread64 of the
 * process. A descriptor counts when its file name ends with
 * VELMORA_SHIM_SUFFIX (case-insensitive, default ".VOB"). Then:
 *
 *   VELMORA_SHIM_DELAY_EVERY=N   every Nth read of such files (counted over
 *   VELMORA_SHIM_DELAY_MS=M      all of them) first sleeps M milliseconds,
 *                                as a drive does while it spins up, seeks
 *                                or retries a sector;
 *   VELMORA_SHIM_FAIL_FILE=NAME  reads of the file whose base name is NAME
 *   VELMORA_SHIM_FAIL_SECTORS=A-B (case-insensitive) that overlap sectors A
 *                                to B (2048 bytes each, inclusive) fail with
 *                                EIO, as an unreadable sector does. NAME may
 *                                be any file (an ISO image too), whatever
 *                                its suffix.
 *
 * Unset variables turn the matching behaviour off. The counters are shared
 * by every thread.
 *
 * A test program that preloads the shim may change the failing file and
 * sectors while it runs: velmora_shim_fail() (look it up with dlsym). The
 * name counts for files opened afterwards, the sectors for every read after.
 * Likewise velmora_shim_delay() changes the delay settings for the reads
 * after, and velmora_shim_sleeping() tells how many reads sleep right now.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum { MaxFds = 4096, SectorBytes = 2048 };
enum { Untracked = 0, Slow = 1, Failing = 2 };

static atomic_uchar g_kind[MaxFds];
static atomic_long g_reads;
static pthread_once_t g_once = PTHREAD_ONCE_INIT;

static atomic_long g_every;
static atomic_long g_delayMs;
static atomic_int g_sleeping;
static const char *g_suffix = ".VOB";
static pthread_mutex_t g_nameLock = PTHREAD_MUTEX_INITIALIZER;
static char g_failName[256]; /* guarded by g_nameLock; empty: none */
static atomic_llong g_failFirst = -1;
static atomic_llong g_failLast = -1;

static int (*real_open)(const char *, int, ...);
static int (*real_open64)(const char *, int, ...);
static int (*real_openat)(int, const char *, int, ...);
static int (*real_openat64)(int, const char *, int, ...);
static int (*real_close)(int);
static ssize_t (*real_read)(int, void *, size_t);
static ssize_t (*real_pread)(int, void *, size_t, off_t);
static ssize_t (*real_pread64)(int, void *, size_t, off64_t);

static void setup(void)
{
    real_open = dlsym(RTLD_NEXT, "open");
    real_open64 = dlsym(RTLD_NEXT, "open64");
    real_openat = dlsym(RTLD_NEXT, "openat");
    real_openat64 = dlsym(RTLD_NEXT, "openat64");
    real_close = dlsym(RTLD_NEXT, "close");
    real_read = dlsym(RTLD_NEXT, "read");
    real_pread = dlsym(RTLD_NEXT, "pread");
    real_pread64 = dlsym(RTLD_NEXT, "pread64");
    const char *v;
    if ((v = getenv("VELMORA_SHIM_DELAY_EVERY")))
        atomic_store(&g_every, atol(v));
    if ((v = getenv("VELMORA_SHIM_DELAY_MS")))
        atomic_store(&g_delayMs, atol(v));
    if ((v = getenv("VELMORA_SHIM_SUFFIX")) && *v)
        g_suffix = v;
    if ((v = getenv("VELMORA_SHIM_FAIL_FILE")) && *v)
        snprintf(g_failName, sizeof g_failName, "%s", v);
    long long first = -1, last = -1;
    if ((v = getenv("VELMORA_SHIM_FAIL_SECTORS")) && sscanf(v, "%lld-%lld", &first, &last) == 2) {
        atomic_store(&g_failFirst, first);
        atomic_store(&g_failLast, last);
    }
}

static void init(void) { pthread_once(&g_once, setup); }

void velmora_shim_fail(const char *name, long long first, long long last)
{
    init();
    pthread_mutex_lock(&g_nameLock);
    snprintf(g_failName, sizeof g_failName, "%s", name ? name : "");
    pthread_mutex_unlock(&g_nameLock);
    atomic_store(&g_failFirst, name ? first : -1);
    atomic_store(&g_failLast, name ? last : -1);
}

void velmora_shim_delay(long every, long ms)
{
    init();
    atomic_store(&g_every, every);
    atomic_store(&g_delayMs, ms);
}

int velmora_shim_sleeping(void)
{
    return atomic_load(&g_sleeping);
}

static int endsWith(const char *name, const char *suffix)
{
    const size_t n = strlen(name), s = strlen(suffix);
    return n >= s && strcasecmp(name + n - s, suffix) == 0;
}

static void track(int fd, const char *path)
{
    if (fd < 0 || fd >= MaxFds || !path)
        return;
    const char *base = strrchr(path, '/');
    base = base ? base + 1 : path;
    unsigned char kind = Untracked;
    if (endsWith(path, g_suffix))
        kind |= Slow;
    pthread_mutex_lock(&g_nameLock);
    if (g_failName[0] && strcasecmp(base, g_failName) == 0)
        kind |= Failing;
    pthread_mutex_unlock(&g_nameLock);
    atomic_store(&g_kind[fd], kind);
}

/* Returns -1 with errno set when the read must fail, else 0 (after any delay). */
static int before(int fd, long long offset, size_t count)
{
    if (fd < 0 || fd >= MaxFds)
        return 0;
    const unsigned char kind = atomic_load(&g_kind[fd]);
    if (kind & Failing) {
        if (offset < 0)
            offset = lseek(fd, 0, SEEK_CUR);
        const long long first = offset / SectorBytes;
        const long long last = (offset + (long long)(count ? count : 1) - 1) / SectorBytes;
        const long long failFirst = atomic_load(&g_failFirst);
        const long long failLast = atomic_load(&g_failLast);
        if (offset >= 0 && failFirst >= 0 && first <= failLast && last >= failFirst) {
            errno = EIO;
            return -1;
        }
    }
    const long every = atomic_load(&g_every);
    const long delayMs = atomic_load(&g_delayMs);
    if ((kind & Slow) && every > 0 && delayMs > 0) {
        if ((atomic_fetch_add(&g_reads, 1) + 1) % every == 0) {
            struct timespec t = {delayMs / 1000, (delayMs % 1000) * 1000000L};
            atomic_fetch_add(&g_sleeping, 1);
            while (nanosleep(&t, &t) != 0 && errno == EINTR) {
            }
            atomic_fetch_sub(&g_sleeping, 1);
        }
    }
    return 0;
}

#define OPEN_MODE(flags, mode)                                                                                         \
    mode_t mode = 0;                                                                                                   \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                                                                             \
        va_list args;                                                                                                  \
        va_start(args, flags);                                                                                         \
        mode = va_arg(args, mode_t);                                                                                   \
        va_end(args);                                                                                                  \
    }

int open(const char *path, int flags, ...)
{
    init();
    OPEN_MODE(flags, mode)
    const int fd = real_open(path, flags, mode);
    track(fd, path);
    return fd;
}

int open64(const char *path, int flags, ...)
{
    init();
    OPEN_MODE(flags, mode)
    const int fd = real_open64 ? real_open64(path, flags, mode) : real_open(path, flags, mode);
    track(fd, path);
    return fd;
}

int openat(int dir, const char *path, int flags, ...)
{
    init();
    OPEN_MODE(flags, mode)
    const int fd = real_openat(dir, path, flags, mode);
    track(fd, path);
    return fd;
}

int openat64(int dir, const char *path, int flags, ...)
{
    init();
    OPEN_MODE(flags, mode)
    const int fd = real_openat64 ? real_openat64(dir, path, flags, mode) : real_openat(dir, path, flags, mode);
    track(fd, path);
    return fd;
}

int close(int fd)
{
    init();
    if (fd >= 0 && fd < MaxFds)
        atomic_store(&g_kind[fd], Untracked);
    return real_close(fd);
}

ssize_t read(int fd, void *buffer, size_t count)
{
    init();
    if (before(fd, -1, count) < 0)
        return -1;
    return real_read(fd, buffer, count);
}

ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    init();
    if (before(fd, offset, count) < 0)
        return -1;
    return real_pread(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    init();
    if (before(fd, offset, count) < 0)
        return -1;
    return real_pread64 ? real_pread64(fd, buffer, count, offset) : real_pread(fd, buffer, count, offset);
}
