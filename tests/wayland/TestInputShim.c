/* The test input devices: a preloaded library that makes the FIFOs under
 * /dev/input/ answer the evdev requests as the devices that the files under
 * /sys/class/input/ describe (the test writes both), and notes every open of
 * a node under /dev/input/ in the file QUORVANE_TEST_INPUT_LOG. The events
 * themselves are what the test writes into the FIFOs. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int (*realOpen)(const char*, int, ...);
static int (*realOpenat)(int, const char*, int, ...);
static int (*realIoctl)(int, unsigned long, ...);

#define BIND(pointer, name) (*(void**)(&(pointer)) = dlsym(RTLD_NEXT, name))

__attribute__((constructor)) static void bind(void) {
    BIND(realOpen, "open");
    BIND(realOpenat, "openat");
    BIND(realIoctl, "ioctl");
}

static void noteOpen(const char* path) {
    if (!path || strncmp(path, "/dev/input/", 11) != 0) return;
    const char* log = getenv("QUORVANE_TEST_INPUT_LOG");
    if (!log) return;
    int fd = realOpen(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char line[512];
    int n = snprintf(line, sizeof line, "%s\n", path);
    if (n > 0 && write(fd, line, (size_t)n) < 0) {
    }
    close(fd);
}

static int openWith(const char* path, int flags, va_list args) {
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    noteOpen(path);
    return realOpen(path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    int fd = openWith(path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    int fd = openWith(path, flags, args);
    va_end(args);
    return fd;
}

int __open_2(const char* path, int flags) {
    noteOpen(path);
    return realOpen(path, flags);
}

int __open64_2(const char* path, int flags) {
    noteOpen(path);
    return realOpen(path, flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    va_end(args);
    noteOpen(path);
    return realOpenat(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    va_end(args);
    noteOpen(path);
    return realOpenat(dirfd, path, flags, mode);
}

/* The device name ("event3") behind fd, or 0 when it is no test device. */
static int deviceName(int fd, char* name, size_t size) {
    char link[64], path[256];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    if (strncmp(path, "/dev/input/event", 16) != 0) return 0;
    snprintf(name, size, "%s", path + 11);
    return 1;
}

/* Reads one sysfs-style mask ("10000 0 0 0 0") into `out` (bytes, little
 * end first, as EVIOCGBIT answers). */
static void readMask(const char* name, const char* file, unsigned char* out, size_t size) {
    memset(out, 0, size);
    char path[512];
    snprintf(path, sizeof path, "/sys/class/input/%s/device/%s", name, file);
    FILE* f = fopen(path, "re");
    if (!f) return;
    unsigned long long words[32];
    int count = 0;
    while (count < 32 && fscanf(f, "%llx", &words[count]) == 1)
        ++count;
    fclose(f);
    for (int w = 0; w < count; ++w) {
        unsigned long long word = words[count - 1 - w];
        for (int b = 0; b < 8; ++b) {
            size_t at = (size_t)w * 8 + (size_t)b;
            if (at < size) out[at] = (unsigned char)(word >> (8 * b));
        }
    }
}

static const char* maskFile(unsigned type) {
    switch (type) {
    case 0:
        return "capabilities/ev";
    case EV_KEY:
        return "capabilities/key";
    case EV_REL:
        return "capabilities/rel";
    case EV_ABS:
        return "capabilities/abs";
    default:
        return 0;
    }
}

static int answer(const char* name, unsigned long request, void* arg) {
    unsigned size = _IOC_SIZE(request);
    if (request == EVIOCGVERSION) {
        *(int*)arg = EV_VERSION;
        return 0;
    }
    if (request == EVIOCGID) {
        memset(arg, 0, sizeof(struct input_id));
        ((struct input_id*)arg)->bustype = BUS_USB;
        return 0;
    }
    if (request == EVIOCSCLOCKID) return 0; /* the test writes CLOCK_MONOTONIC times */
    if (request == EVIOCGRAB) {
        errno = EINVAL; /* never asked for: the recorder only listens */
        return -1;
    }
    if (_IOC_TYPE(request) != 'E' || _IOC_DIR(request) != _IOC_READ) return 0;
    unsigned nr = _IOC_NR(request);
    if (nr == _IOC_NR(EVIOCGNAME(0))) {
        char path[512];
        snprintf(path, sizeof path, "/sys/class/input/%s/device/name", name);
        memset(arg, 0, size);
        FILE* f = fopen(path, "re");
        if (f) {
            if (!fgets(arg, (int)size, f)) ((char*)arg)[0] = 0;
            fclose(f);
            ((char*)arg)[strcspn(arg, "\n")] = 0;
        }
        return (int)strlen(arg) + 1;
    }
    if (nr == _IOC_NR(EVIOCGPROP(0))) {
        readMask(name, "properties", arg, size);
        return (int)size;
    }
    if (nr >= _IOC_NR(EVIOCGBIT(0, 0)) && nr < _IOC_NR(EVIOCGBIT(EV_MAX, 0)) + 1) {
        const char* file = maskFile(nr - _IOC_NR(EVIOCGBIT(0, 0)));
        if (file)
            readMask(name, file, arg, size);
        else
            memset(arg, 0, size);
        return (int)size;
    }
    if (nr >= _IOC_NR(EVIOCGABS(0)) && nr < _IOC_NR(EVIOCGABS(ABS_MAX)) + 1) {
        struct input_absinfo* info = arg;
        memset(info, 0, sizeof *info);
        info->maximum = 1000;
        info->resolution = 10;
        return 0;
    }
    /* Key, LED, switch and sound state, slots, phys and uniq: nothing. */
    memset(arg, 0, size);
    return nr == _IOC_NR(EVIOCGPHYS(0)) || nr == _IOC_NR(EVIOCGUNIQ(0)) ? 1 : (int)size;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    char name[256];
    if (deviceName(fd, name, sizeof name)) return answer(name, request, arg);
    return realIoctl(fd, request, arg);
}
