/* A camera for tests, in user space: preloaded (LD_PRELOAD) into the program
 * under test, it answers open, ioctl, mmap, munmap, poll, select and close
 * for the device nodes its configuration names, so the real V4L2 listing,
 * streaming and conversion code runs without a camera or a kernel driver.
 * The nodes must exist as plain files (tests make them in a private mount
 * namespace); everything else passes through to the C library.
 *
 * QUORVANE_TEST_CAMERAS names the configuration, one directive a line:
 *   node /dev/video0          starts a camera; the lines below describe it
 *   card 4c6f6769             its card name as hex bytes (any bytes)
 *   bus usb-0000:00:14.0-1    its bus info
 *   metadata                  a metadata node: no video capture
 *   format YUYV 1280 720 30 15   a format, a size and its frame rates
 *   picture YUYV|NV12|YU12 path  an RGB picture (binary PPM) sent in that format
 *   jpeg path                 the JPEG sent for every MJPEG picture
 *   pad N                     N bytes of padding after each row
 *   stall-after N             no picture after the first N
 *   fail-after N ENODEV|EIO   that error after N pictures
 *   busy                      EBUSY when buffers are asked for
 *   deny                      EACCES at open
 *   oversize-every N          every Nth picture claims more bytes than its buffer
 *   clock-step N SECONDS      from the (N+1)th picture on, the driver's time is
 *                             off by SECONDS (back when negative), as after a
 *                             clock-recovery glitch
 * Built only for tests; never part of a shipped program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#define MAX_CAMERAS 8
#define MAX_FORMATS 8
#define MAX_RATES 4
#define MAX_BUFFERS 8
#define MAX_OPEN 32

struct format {
    uint32_t fourcc;
    uint32_t width, height;
    uint32_t rates[MAX_RATES];
    int rateCount;
};

struct camera {
    char node[64];
    unsigned char card[32];
    char bus[32];
    int metadata;
    struct format formats[MAX_FORMATS];
    int formatCount;
    char picturePath[256];
    uint32_t pictureFourcc;
    char jpegPath[256];
    uint32_t pad;
    long stallAfter;
    long failAfter;
    int failError;
    int busy;
    int deny;
    long oversizeEvery;
    long clockStepAfter; /* -1: the driver's clock never steps */
    double clockStep;
};

struct buffer {
    void* start; /* where the program mapped it; 0 when not mapped */
    size_t length;
    int queued;
    uint32_t sequenceNumber;
};

struct openNode {
    int fd;
    struct camera* camera;
    struct v4l2_pix_format format;
    uint32_t rate;
    struct buffer buffers[MAX_BUFFERS];
    unsigned bufferCount;
    int streaming;
    double streamStart;
    long sent;              /* pictures handed out */
    long next;              /* the next picture slot on the timeline */
    int failed;             /* the device has gone (fail-after reached) */
    unsigned char* picture; /* one picture in the current format */
    size_t pictureBytes;
};

static struct camera cameras[MAX_CAMERAS];
static int cameraCount = -1;
static struct openNode opened[MAX_OPEN];
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static int (*realOpen)(const char*, int, ...);
static int (*realOpenat)(int, const char*, int, ...);
static int (*realClose)(int);
static int (*realIoctl)(int, unsigned long, ...);
static void* (*realMmap)(void*, size_t, int, int, int, off_t);
static int (*realMunmap)(void*, size_t);
static int (*realPoll)(struct pollfd*, nfds_t, int);
static int (*realSelect)(int, fd_set*, fd_set*, fd_set*, struct timeval*);

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static uint32_t fourccOf(const char* name) {
    if (strcmp(name, "MJPEG") == 0) return V4L2_PIX_FMT_MJPEG;
    if (strcmp(name, "YUYV") == 0) return V4L2_PIX_FMT_YUYV;
    if (strcmp(name, "NV12") == 0) return V4L2_PIX_FMT_NV12;
    if (strcmp(name, "YU12") == 0) return V4L2_PIX_FMT_YUV420;
    if (strcmp(name, "H264") == 0) return V4L2_PIX_FMT_H264;
    return 0;
}

static void hexBytes(const char* hex, unsigned char* out, size_t size) {
    memset(out, 0, size);
    for (size_t i = 0; i < size && hex[0] && hex[1]; ++i, hex += 2) {
        char pair[3] = {hex[0], hex[1], 0};
        out[i] = (unsigned char)strtoul(pair, NULL, 16);
    }
}

static void loadConfiguration(void) {
    if (cameraCount >= 0) return;
    cameraCount = 0;
    const char* path = getenv("QUORVANE_TEST_CAMERAS");
    FILE* file = path ? fopen(path, "r") : NULL;
    if (!file) return;
    char line[512];
    struct camera* c = NULL;
    while (fgets(line, sizeof line, file)) {
        char word[32] = "", a[256] = "", b[64] = "";
        unsigned long n[6] = {0};
        if (sscanf(line, "%31s", word) != 1 || word[0] == '#') continue;
        if (strcmp(word, "node") == 0 && cameraCount < MAX_CAMERAS) {
            c = &cameras[cameraCount++];
            memset(c, 0, sizeof *c);
            sscanf(line, "%*s %63s", c->node);
            strcpy(c->bus, "usb-test-1");
            memcpy(c->card, "Test Camera", 11);
            c->stallAfter = -1;
            c->clockStepAfter = -1;
            c->failAfter = -1;
            continue;
        }
        if (!c) continue;
        if (strcmp(word, "card") == 0 && sscanf(line, "%*s %255s", a) == 1) {
            hexBytes(a, c->card, sizeof c->card);
        } else if (strcmp(word, "bus") == 0) {
            sscanf(line, "%*s %31s", c->bus);
        } else if (strcmp(word, "metadata") == 0) {
            c->metadata = 1;
        } else if (strcmp(word, "format") == 0 && c->formatCount < MAX_FORMATS) {
            const int got = sscanf(line, "%*s %63s %lu %lu %lu %lu %lu %lu", b, &n[0], &n[1], &n[2],
                                   &n[3], &n[4], &n[5]);
            struct format* f = &c->formats[c->formatCount++];
            f->fourcc = fourccOf(b);
            f->width = (uint32_t)n[0];
            f->height = (uint32_t)n[1];
            for (int i = 0; i + 3 < got && i < MAX_RATES; ++i)
                f->rates[f->rateCount++] = (uint32_t)n[2 + i];
        } else if (strcmp(word, "picture") == 0) {
            sscanf(line, "%*s %63s %255s", b, c->picturePath);
            c->pictureFourcc = fourccOf(b);
        } else if (strcmp(word, "jpeg") == 0) {
            sscanf(line, "%*s %255s", c->jpegPath);
        } else if (strcmp(word, "pad") == 0) {
            sscanf(line, "%*s %u", &c->pad);
        } else if (strcmp(word, "stall-after") == 0) {
            sscanf(line, "%*s %ld", &c->stallAfter);
        } else if (strcmp(word, "fail-after") == 0) {
            sscanf(line, "%*s %ld %63s", &c->failAfter, b);
            c->failError = strcmp(b, "EIO") == 0 ? EIO : ENODEV;
        } else if (strcmp(word, "busy") == 0) {
            c->busy = 1;
        } else if (strcmp(word, "deny") == 0) {
            c->deny = 1;
        } else if (strcmp(word, "oversize-every") == 0) {
            sscanf(line, "%*s %ld", &c->oversizeEvery);
        } else if (strcmp(word, "clock-step") == 0) {
            sscanf(line, "%*s %ld %lf", &c->clockStepAfter, &c->clockStep);
        }
    }
    fclose(file);
}

/* Stored through an object pointer: ISO C has no cast from dlsym's result. */
#define BIND(pointer, name) (*(void**)(&(pointer)) = dlsym(RTLD_NEXT, name))

static void bindReal(void) {
    if (realOpen) return;
    BIND(realOpenat, "openat");
    BIND(realClose, "close");
    BIND(realIoctl, "ioctl");
    BIND(realMmap, "mmap");
    BIND(realMunmap, "munmap");
    BIND(realPoll, "poll");
    BIND(realSelect, "select");
    BIND(realOpen, "open");
}

static struct camera* cameraAt(const char* path) {
    if (!path) return NULL;
    pthread_mutex_lock(&lock);
    loadConfiguration();
    pthread_mutex_unlock(&lock);
    for (int i = 0; i < cameraCount; ++i)
        if (strcmp(cameras[i].node, path) == 0) return &cameras[i];
    return NULL;
}

/* Called with the lock held. */
static struct openNode* nodeOf(int fd) {
    if (fd < 0) return NULL;
    for (int i = 0; i < MAX_OPEN; ++i)
        if (opened[i].camera && opened[i].fd == fd) return &opened[i];
    return NULL;
}

static int isFake(int fd) {
    pthread_mutex_lock(&lock);
    const int fake = nodeOf(fd) != NULL;
    pthread_mutex_unlock(&lock);
    return fake;
}

/* ---- pictures ---------------------------------------------------------- */

static unsigned char* readFile(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    const long length = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* data = length > 0 ? malloc((size_t)length) : NULL;
    if (data && fread(data, 1, (size_t)length, f) != (size_t)length) {
        free(data);
        data = NULL;
    }
    fclose(f);
    *size = data ? (size_t)length : 0;
    return data;
}

/* The RGB picture of the configuration at width × height (grey when absent
 * or of another size). */
static unsigned char* rgbPicture(const struct camera* c, uint32_t width, uint32_t height) {
    unsigned char* rgb = malloc((size_t)width * height * 3);
    if (!rgb) return NULL;
    memset(rgb, 128, (size_t)width * height * 3);
    size_t size = 0;
    unsigned char* ppm = c->picturePath[0] ? readFile(c->picturePath, &size) : NULL;
    unsigned w = 0, h = 0, maxval = 0;
    int offset = 0;
    if (ppm && sscanf((const char*)ppm, "P6 %u %u %u%n", &w, &h, &maxval, &offset) == 3 &&
        w == width && h == height && (size_t)offset + 1 + (size_t)w * h * 3 <= size)
        memcpy(rgb, ppm + offset + 1, (size_t)w * h * 3);
    free(ppm);
    return rgb;
}

static unsigned char clampByte(double v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

/* BT.601, video range: what cameras send. */
static void yuvOf(const unsigned char* p, unsigned char* y, double* u, double* v) {
    const double r = p[0], g = p[1], b = p[2];
    *y = clampByte(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
    *u = 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
    *v = 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
}

static void makePicture(struct openNode* n) {
    free(n->picture);
    n->picture = NULL;
    const struct camera* c = n->camera;
    const uint32_t w = n->format.width, h = n->format.height, bpl = n->format.bytesperline;
    if (n->format.pixelformat == V4L2_PIX_FMT_MJPEG) {
        n->picture = readFile(c->jpegPath, &n->pictureBytes);
        return;
    }
    unsigned char* rgb = rgbPicture(c, w, h);
    n->pictureBytes = n->format.sizeimage;
    n->picture = calloc(1, n->pictureBytes);
    if (!rgb || !n->picture) {
        free(rgb);
        return;
    }
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x + 1 < w; x += 2) {
            const unsigned char* p = rgb + ((size_t)y * w + x) * 3;
            unsigned char y0, y1;
            double u0, v0, u1, v1;
            yuvOf(p, &y0, &u0, &v0);
            yuvOf(p + 3, &y1, &u1, &v1);
            const unsigned char u = clampByte((u0 + u1) / 2), v = clampByte((v0 + v1) / 2);
            switch (n->format.pixelformat) {
            case V4L2_PIX_FMT_YUYV: {
                unsigned char* row = n->picture + (size_t)y * bpl + (size_t)x * 2;
                row[0] = y0;
                row[1] = u;
                row[2] = y1;
                row[3] = v;
                break;
            }
            case V4L2_PIX_FMT_NV12: {
                n->picture[(size_t)y * bpl + x] = y0;
                n->picture[(size_t)y * bpl + x + 1] = y1;
                unsigned char* chroma = n->picture + (size_t)bpl * h + (size_t)(y / 2) * bpl + x;
                if (y % 2 == 0) {
                    chroma[0] = u;
                    chroma[1] = v;
                }
                break;
            }
            case V4L2_PIX_FMT_YUV420: {
                n->picture[(size_t)y * bpl + x] = y0;
                n->picture[(size_t)y * bpl + x + 1] = y1;
                if (y % 2 == 0) {
                    const size_t cbpl = bpl / 2, plane = (size_t)cbpl * (h / 2);
                    unsigned char* uPlane = n->picture + (size_t)bpl * h;
                    uPlane[(size_t)(y / 2) * cbpl + x / 2] = u;
                    uPlane[plane + (size_t)(y / 2) * cbpl + x / 2] = v;
                }
                break;
            }
            }
        }
    }
    free(rgb);
}

/* ---- the device ---------------------------------------------------------- */

static const struct format* findFormat(const struct camera* c, uint32_t fourcc, uint32_t w,
                                       uint32_t h) {
    for (int i = 0; i < c->formatCount; ++i)
        if (c->formats[i].fourcc == fourcc &&
            (w == 0 || (c->formats[i].width == w && c->formats[i].height == h)))
            return &c->formats[i];
    return NULL;
}

static void fillFormat(struct openNode* n, const struct format* f) {
    memset(&n->format, 0, sizeof n->format);
    n->format.pixelformat = f->fourcc;
    n->format.width = f->width;
    n->format.height = f->height;
    n->format.field = V4L2_FIELD_NONE;
    n->format.colorspace = V4L2_COLORSPACE_SMPTE170M;
    const uint32_t pad = n->camera->pad;
    switch (f->fourcc) {
    case V4L2_PIX_FMT_YUYV:
        n->format.bytesperline = f->width * 2 + pad;
        n->format.sizeimage = n->format.bytesperline * f->height;
        break;
    case V4L2_PIX_FMT_NV12:
        n->format.bytesperline = f->width + pad;
        n->format.sizeimage = n->format.bytesperline * f->height * 3 / 2;
        break;
    case V4L2_PIX_FMT_YUV420:
        n->format.bytesperline = f->width + pad;
        n->format.sizeimage = n->format.bytesperline * f->height * 3 / 2;
        break;
    default: /* compressed: room for any JPEG of this size */
        n->format.sizeimage = f->width * f->height * 2;
    }
    n->rate = f->rateCount > 0 ? f->rates[0] : 30;
    makePicture(n);
}

static size_t pageRounded(size_t size) {
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    return (size + page - 1) / page * page;
}

/* Whether a picture can be taken now; called with the lock held. */
static int pictureDue(struct openNode* n) {
    if (!n->streaming || n->failed) return 0;
    const struct camera* c = n->camera;
    if (c->stallAfter >= 0 && n->sent >= c->stallAfter) return 0;
    int queued = 0;
    for (unsigned i = 0; i < n->bufferCount; ++i)
        queued |= n->buffers[i].queued;
    return queued && now() >= n->streamStart + (double)n->next / n->rate;
}

static int deviceGone(struct openNode* n) {
    return n->camera->failAfter >= 0 && n->sent >= n->camera->failAfter;
}

/* Seconds until the next picture is due (or a long wait when none will be). */
static double untilDue(struct openNode* n) {
    if (!n->streaming || n->rate == 0) return 1.0;
    const double wait = n->streamStart + (double)n->next / n->rate - now();
    return wait > 0 ? wait : 0;
}

static int dequeue(struct openNode* n, struct v4l2_buffer* b) {
    if (deviceGone(n)) {
        n->failed = 1;
        errno = n->camera->failError;
        return -1;
    }
    if (!pictureDue(n)) {
        errno = EAGAIN;
        return -1;
    }
    for (unsigned i = 0; i < n->bufferCount; ++i) {
        struct buffer* buffer = &n->buffers[i];
        if (!buffer->queued) continue;
        buffer->queued = 0;
        size_t bytes = n->pictureBytes < buffer->length ? n->pictureBytes : buffer->length;
        if (buffer->start && n->picture) memcpy(buffer->start, n->picture, bytes);
        ++n->sent;
        if (n->camera->oversizeEvery > 0 && n->sent % n->camera->oversizeEvery == 0)
            bytes = buffer->length + 65536;
        memset(b, 0, sizeof *b);
        b->index = i;
        b->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b->memory = V4L2_MEMORY_MMAP;
        b->bytesused = (uint32_t)bytes;
        b->length = (uint32_t)buffer->length;
        b->m.offset = (uint32_t)(i * pageRounded(buffer->length));
        b->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_DONE;
        b->field = V4L2_FIELD_NONE;
        const double t = now();
        double stamp = t;
        if (n->camera->clockStepAfter >= 0 && n->sent > n->camera->clockStepAfter)
            stamp += n->camera->clockStep;
        if (stamp < 0) stamp = 0;
        b->timestamp.tv_sec = (time_t)stamp;
        b->timestamp.tv_usec = (suseconds_t)((stamp - (double)(time_t)stamp) * 1e6);
        b->sequence = (uint32_t)(n->sent - 1);
        /* A slow reader misses pictures, as with a real camera. */
        const long slot = (long)((t - n->streamStart) * n->rate);
        n->next = slot + 1 > n->next + 1 ? slot + 1 : n->next + 1;
        return 0;
    }
    errno = EAGAIN;
    return -1;
}

static int fail(int error) {
    errno = error;
    return -1;
}

static int fakeIoctl(struct openNode* n, unsigned long request, void* arg) {
    const struct camera* c = n->camera;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        struct v4l2_capability* cap = arg;
        memset(cap, 0, sizeof *cap);
        strcpy((char*)cap->driver, "quorvane-test");
        memcpy(cap->card, c->card, sizeof cap->card);
        memcpy(cap->bus_info, c->bus, strnlen(c->bus, sizeof cap->bus_info - 1));
        cap->version = 0x60100;
        cap->device_caps = c->metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                       : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                            V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        struct v4l2_fmtdesc* d = arg;
        if (c->metadata) return fail(EINVAL);
        /* Each format once, in the order first listed. */
        uint32_t seen[MAX_FORMATS];
        unsigned count = 0;
        for (int i = 0; i < c->formatCount; ++i) {
            int known = 0;
            for (unsigned j = 0; j < count; ++j)
                known |= seen[j] == c->formats[i].fourcc;
            if (!known) seen[count++] = c->formats[i].fourcc;
        }
        if (d->index >= count) return fail(EINVAL);
        d->pixelformat = seen[d->index];
        d->flags = d->pixelformat == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        snprintf((char*)d->description, sizeof d->description, "%.4s", (char*)&d->pixelformat);
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        struct v4l2_frmsizeenum* s = arg;
        unsigned index = 0;
        for (int i = 0; i < c->formatCount; ++i) {
            if (c->formats[i].fourcc != s->pixel_format) continue;
            if (index++ == s->index) {
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = c->formats[i].width;
                s->discrete.height = c->formats[i].height;
                return 0;
            }
        }
        return fail(EINVAL);
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        struct v4l2_frmivalenum* e = arg;
        const struct format* f = findFormat(c, e->pixel_format, e->width, e->height);
        if (!f || e->index >= (unsigned)f->rateCount) return fail(EINVAL);
        e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        e->discrete.numerator = 1;
        e->discrete.denominator = f->rates[e->index];
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
        struct v4l2_format* f = arg;
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || c->formatCount == 0) return fail(EINVAL);
        if (request != VIDIOC_G_FMT) {
            if (n->bufferCount > 0) return fail(EBUSY);
            const struct format* match =
                findFormat(c, f->fmt.pix.pixelformat, f->fmt.pix.width, f->fmt.pix.height);
            if (!match) match = findFormat(c, f->fmt.pix.pixelformat, 0, 0);
            if (!match) match = &c->formats[0];
            if (request == VIDIOC_S_FMT) fillFormat(n, match);
        }
        if (!n->format.pixelformat) fillFormat(n, &c->formats[0]);
        f->fmt.pix = n->format;
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        struct v4l2_streamparm* p = arg;
        if (request == VIDIOC_S_PARM && p->parm.capture.timeperframe.numerator > 0) {
            const uint32_t wanted =
                p->parm.capture.timeperframe.denominator / p->parm.capture.timeperframe.numerator;
            const struct format* f =
                findFormat(c, n->format.pixelformat, n->format.width, n->format.height);
            for (int i = 0; f && i < f->rateCount; ++i)
                if (f->rates[i] == wanted) n->rate = wanted;
        }
        memset(&p->parm, 0, sizeof p->parm);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        p->parm.capture.timeperframe.numerator = 1;
        p->parm.capture.timeperframe.denominator = n->rate;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        struct v4l2_requestbuffers* r = arg;
        if (r->memory != V4L2_MEMORY_MMAP) return fail(EINVAL);
        if (r->count > 0 && c->busy) return fail(EBUSY);
        if (n->streaming) return fail(EBUSY);
        if (!n->format.pixelformat && c->formatCount > 0) fillFormat(n, &c->formats[0]);
        n->bufferCount = r->count > MAX_BUFFERS ? MAX_BUFFERS : r->count;
        for (unsigned i = 0; i < n->bufferCount; ++i) {
            n->buffers[i].length = n->format.sizeimage;
            n->buffers[i].queued = 0;
        }
        r->count = n->bufferCount;
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF: {
        struct v4l2_buffer* b = arg;
        if (b->index >= n->bufferCount) return fail(EINVAL);
        if (request == VIDIOC_QBUF) {
            if (n->failed) return fail(n->camera->failError);
            n->buffers[b->index].queued = 1;
        }
        b->length = (uint32_t)n->buffers[b->index].length;
        b->m.offset = (uint32_t)(b->index * pageRounded(n->buffers[b->index].length));
        return 0;
    }
    case VIDIOC_DQBUF:
        return dequeue(n, arg);
    case VIDIOC_STREAMON:
        if (n->bufferCount == 0) return fail(EINVAL);
        n->streaming = 1;
        n->streamStart = now();
        n->next = 0;
        return 0;
    case VIDIOC_STREAMOFF:
        n->streaming = 0;
        for (unsigned i = 0; i < n->bufferCount; ++i)
            n->buffers[i].queued = 0;
        return 0;
    default:
        return fail(ENOTTY);
    }
}

/* ---- the C library's calls ------------------------------------------------ */

static int openFake(struct camera* c, int fd) {
    if (fd < 0) return fd;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < MAX_OPEN; ++i) {
        if (opened[i].camera) continue;
        memset(&opened[i], 0, sizeof opened[i]);
        opened[i].fd = fd;
        opened[i].camera = c;
        pthread_mutex_unlock(&lock);
        return fd;
    }
    pthread_mutex_unlock(&lock);
    realClose(fd);
    errno = EMFILE;
    return -1;
}

static int openPath(int dirfd, const char* path, int flags, mode_t mode) {
    bindReal();
    struct camera* c = cameraAt(path);
    if (c && c->deny) return fail(EACCES);
    const int fd = dirfd == AT_FDCWD && !c ? realOpen(path, flags, mode)
                                           : realOpenat(dirfd, path, flags, mode);
    return c ? openFake(c, fd) : fd;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    va_end(args);
    return openPath(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    va_end(args);
    return openPath(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
    va_end(args);
    return openPath(dirfd, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return openPath(AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
    return openPath(AT_FDCWD, path, flags, 0);
}

int close(int fd) {
    bindReal();
    pthread_mutex_lock(&lock);
    struct openNode* n = nodeOf(fd);
    if (n) {
        free(n->picture);
        memset(n, 0, sizeof *n);
    }
    pthread_mutex_unlock(&lock);
    return realClose(fd);
}

int ioctl(int fd, unsigned long request, ...) {
    bindReal();
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    pthread_mutex_lock(&lock);
    struct openNode* n = nodeOf(fd);
    if (!n) {
        pthread_mutex_unlock(&lock);
        return realIoctl(fd, request, arg);
    }
    const int result = fakeIoctl(n, request, arg);
    const int error = errno;
    pthread_mutex_unlock(&lock);
    errno = error;
    return result;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    bindReal();
    pthread_mutex_lock(&lock);
    struct openNode* n = nodeOf(fd);
    if (!n) {
        pthread_mutex_unlock(&lock);
        return realMmap(address, length, protection, flags, fd, offset);
    }
    struct buffer* buffer = NULL;
    for (unsigned i = 0; i < n->bufferCount; ++i)
        if ((off_t)(i * pageRounded(n->buffers[i].length)) == offset) buffer = &n->buffers[i];
    if (!buffer || length > buffer->length || buffer->start) {
        pthread_mutex_unlock(&lock);
        errno = EINVAL;
        return MAP_FAILED;
    }
    /* A page nobody may touch after each buffer: reading past the bytes the
     * driver filled faults at once. */
    const size_t mapped = pageRounded(buffer->length);
    const size_t guard = (size_t)sysconf(_SC_PAGESIZE);
    unsigned char* start =
        realMmap(NULL, mapped + guard, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start != MAP_FAILED) {
        /* The picture ends where the buffer ends: right before the guard. */
        mprotect(start + mapped, guard, PROT_NONE);
        start += mapped - buffer->length;
        buffer->start = start;
    }
    pthread_mutex_unlock(&lock);
    return start;
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    return mmap(address, length, protection, flags, fd, offset);
}

int munmap(void* address, size_t length) {
    bindReal();
    pthread_mutex_lock(&lock);
    for (int i = 0; i < MAX_OPEN; ++i) {
        struct openNode* n = &opened[i];
        if (!n->camera) continue;
        for (unsigned j = 0; j < n->bufferCount; ++j) {
            struct buffer* b = &n->buffers[j];
            if (b->start != address) continue;
            const size_t mapped = pageRounded(b->length);
            unsigned char* base = (unsigned char*)address - (mapped - b->length);
            b->start = NULL;
            pthread_mutex_unlock(&lock);
            return realMunmap(base, mapped + (size_t)sysconf(_SC_PAGESIZE));
        }
    }
    pthread_mutex_unlock(&lock);
    return realMunmap(address, length);
}

/* Readiness of one fake node for poll; called with the lock held. */
static short fakeEvents(struct openNode* n, short wanted) {
    if (n->failed || (n->streaming && deviceGone(n))) return POLLERR | POLLHUP;
    return pictureDue(n) ? (short)(wanted & (POLLIN | POLLRDNORM)) : 0;
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
    bindReal();
    int anyFake = 0;
    for (nfds_t i = 0; i < count; ++i)
        anyFake |= isFake(fds[i].fd);
    if (!anyFake) return realPoll(fds, count, timeout);
    const double deadline = now() + (timeout < 0 ? 1e9 : timeout / 1000.0);
    for (;;) {
        int ready = 0;
        double wait = 0.01;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = 0;
            pthread_mutex_lock(&lock);
            struct openNode* n = nodeOf(fds[i].fd);
            if (n) {
                fds[i].revents = fakeEvents(n, fds[i].events);
                const double due = untilDue(n);
                if (due < wait) wait = due;
            }
            pthread_mutex_unlock(&lock);
            if (!n && fds[i].fd >= 0) realPoll(&fds[i], 1, 0);
            ready += fds[i].revents != 0;
        }
        const double left = deadline - now();
        if (ready || left <= 0) return ready;
        if (wait > left) wait = left;
        struct timespec pause = {0, (long)(wait * 1e9) + 100000};
        nanosleep(&pause, NULL);
    }
}

int select(int count, fd_set* reads, fd_set* writes, fd_set* errors, struct timeval* timeout) {
    bindReal();
    int anyFake = 0;
    for (int fd = 0; fd < count; ++fd)
        anyFake |=
            ((reads && FD_ISSET(fd, reads)) || (errors && FD_ISSET(fd, errors))) && isFake(fd);
    if (!anyFake) return realSelect(count, reads, writes, errors, timeout);
    /* Through poll, which knows the fake nodes. */
    struct pollfd fds[FD_SETSIZE];
    nfds_t used = 0;
    for (int fd = 0; fd < count; ++fd) {
        short events = 0;
        if (reads && FD_ISSET(fd, reads)) events |= POLLIN;
        if (writes && FD_ISSET(fd, writes)) events |= POLLOUT;
        if (errors && FD_ISSET(fd, errors)) events |= POLLPRI;
        if (events) fds[used++] = (struct pollfd){fd, events, 0};
    }
    const int ms = timeout ? (int)(timeout->tv_sec * 1000 + timeout->tv_usec / 1000) : -1;
    const int ready = poll(fds, used, ms);
    if (ready < 0) return ready;
    if (reads) FD_ZERO(reads);
    if (writes) FD_ZERO(writes);
    if (errors) FD_ZERO(errors);
    int total = 0;
    for (nfds_t i = 0; i < used; ++i) {
        const short r = fds[i].revents;
        if (reads && (r & (POLLIN | POLLERR | POLLHUP))) FD_SET(fds[i].fd, reads), ++total;
        if (writes && (r & POLLOUT)) FD_SET(fds[i].fd, writes), ++total;
        if (errors && (r & POLLPRI)) FD_SET(fds[i].fd, errors), ++total;
    }
    return total;
}
