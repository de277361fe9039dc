/* A USB webcam in user space, preloaded into the processes of the tests: one path answers as a
   UVC camera does (memory-mapped streaming only, YUYV and MJPG), through the C library's
   calls and through syscall(), which libv4l2 uses. Every other path and descriptor goes to the
   system untouched. */
#define _GNU_SOURCE
#include "v4l2cam.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_FDS 16
#define MAX_BUFFERS 8

struct Size {
    uint32_t format, width, height;
};
/* What the camera offers, in its order: YUYV at the usual sizes, MJPG at a larger one too. */
static const struct Size kSizes[] = {{V4L2_PIX_FMT_YUYV, 640, 480},
                                     {V4L2_PIX_FMT_YUYV, 320, 240},
                                     {V4L2_PIX_FMT_YUYV, 160, 120},
                                     {V4L2_PIX_FMT_MJPEG, 800, 600},
                                     {V4L2_PIX_FMT_MJPEG, 640, 480}};
static const uint32_t kFormats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG};
static const uint32_t kRates[] = {30, 15, 5}; /* frames a second, fastest first */
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

struct Control {
    uint32_t id;
    const char* name;
    int32_t minimum, maximum, step, fallback, value;
};

struct Buffer {
    uint8_t* memory;
    size_t length;
    uint32_t bytesused;
    uint32_t sequence;
    struct timeval stamp;
    int mappings;
    int queued;
};

enum Fault { FAULT_NONE, FAULT_ERROR, FAULT_UNPLUGGED, FAULT_REFUSE, FAULT_STALL };

static struct {
    pthread_mutex_t lock;
    /* Descriptor + 1; 0 for a free slot. Written under the lock, read without it: every read
       and close in the process asks whether a descriptor is ours, and a thread cut off at the
       process's end while it held the lock must not hold up the rest of the process's calls. */
    int fds[MAX_FDS];
    int opened; /* how many; read without the lock by every call on any descriptor */
    int nonblocking[MAX_FDS];
    uint32_t format, width, height, rate;
    uint32_t input;
    struct Control controls[3];
    struct Buffer buffers[MAX_BUFFERS];
    uint32_t count;
    uint32_t queue[MAX_BUFFERS]; /* queued buffers, oldest first */
    uint32_t queued;
    int streaming;
    double nextDue;
    uint32_t sequence;
    uint8_t* rgb;
    /* From the control file. */
    enum Fault fault;
    double cap; /* frames a second delivered at most; 0: the interval's rate */
    struct timespec controlTime;
    double controlChecked;
    volatile uint64_t* status;
} g = {
    .lock = PTHREAD_MUTEX_INITIALIZER,
    .format = V4L2_PIX_FMT_YUYV,
    .width = 640,
    .height = 480,
    .rate = 30,
    .controls = {{V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0, 0},
                 {V4L2_CID_CONTRAST, "Contrast", 0, 95, 1, 32, 32},
                 {V4L2_CID_SATURATION, "Saturation", 0, 100, 1, 64, 64}},
};

static int (*RealOpen)(const char*, int, ...);
static int (*RealOpenat)(int, const char*, int, ...);
static int (*RealClose)(int);
static ssize_t (*RealRead)(int, void*, size_t);
static int (*RealIoctl)(int, unsigned long, ...);
static void* (*RealMmap)(void*, size_t, int, int, int, off_t);
static int (*RealMunmap)(void*, size_t);
static int (*RealPoll)(struct pollfd*, nfds_t, int);
static int (*RealSelect)(int, fd_set*, fd_set*, fd_set*, struct timeval*);
static int (*RealStat)(const char*, struct stat*);
static int (*RealLstat)(const char*, struct stat*);
static long (*RealSyscall)(long, ...);

/* Other libraries' constructors may call in before this library's own would run: every entry
   point resolves first. */
static void Resolve(void) {
    if (RealSyscall != NULL) {
        return;
    }
    RealOpen = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
    RealOpenat = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat");
    RealClose = (int (*)(int))dlsym(RTLD_NEXT, "close");
    RealRead = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    RealIoctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    RealMmap = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    RealMunmap = (int (*)(void*, size_t))dlsym(RTLD_NEXT, "munmap");
    RealPoll = (int (*)(struct pollfd*, nfds_t, int))dlsym(RTLD_NEXT, "poll");
    RealSelect =
        (int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*))dlsym(RTLD_NEXT, "select");
    RealStat = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "stat");
    RealLstat = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "lstat");
    __atomic_store_n(&RealSyscall, (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall"),
                     __ATOMIC_RELEASE);
}

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static const char* DevicePath(void) {
    const char* path = getenv("LOOKWELL_V4L2_DEVICE");
    return path != NULL && path[0] != '\0' ? path : "/dev/video0";
}

static void Count(int counter, uint64_t n) {
    if (g.status == NULL) {
        const char* path = getenv("LOOKWELL_V4L2_STATUS");
        if (path == NULL || path[0] == '\0') {
            return;
        }
        int fd = RealOpen(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            return;
        }
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_size < 4096 && ftruncate(fd, 4096) != 0) {
            RealClose(fd);
            return;
        }
        void* p = RealMmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        RealClose(fd);
        if (p == MAP_FAILED) {
            return;
        }
        g.status = (volatile uint64_t*)p;
    }
    __atomic_fetch_add(&g.status[counter], n, __ATOMIC_RELAXED);
}

/* Lines "fault=none|error|unplugged|refuse|stall" and "fps=N", re-read when the file changes;
   looked at no more than every 10 ms. */
static void ReadControl(void) {
    double now = Now();
    if (now - g.controlChecked < 0.01) {
        return;
    }
    g.controlChecked = now;
    const char* path = getenv("LOOKWELL_V4L2_CONTROL");
    struct stat st;
    if (path == NULL || RealStat(path, &st) != 0) {
        g.fault = FAULT_NONE;
        g.cap = 0;
        memset(&g.controlTime, 0, sizeof g.controlTime);
        return;
    }
    if (st.st_mtim.tv_sec == g.controlTime.tv_sec && st.st_mtim.tv_nsec == g.controlTime.tv_nsec) {
        return;
    }
    g.controlTime = st.st_mtim;
    g.fault = FAULT_NONE;
    g.cap = 0;
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        return;
    }
    static const char* const kFaults[] = {"none", "error", "unplugged", "refuse", "stall"};
    char line[128];
    while (fgets(line, sizeof line, file) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        if (strncmp(line, "fps=", 4) == 0) {
            g.cap = strtod(line + 4, NULL);
        } else if (strncmp(line, "fault=", 6) == 0) {
            for (size_t i = 0; i < COUNT(kFaults); ++i) {
                if (strcmp(line + 6, kFaults[i]) == 0) {
                    g.fault = (enum Fault)i;
                }
            }
        }
    }
    fclose(file);
}

static int IsDevicePath(const char* path) {
    Resolve();
    return path != NULL && strcmp(path, DevicePath()) == 0;
}

/* The slot of a descriptor of ours; of a free slot for -1. */
static int Slot(int fd) {
    for (int i = 0; i < MAX_FDS; ++i) {
        if (__atomic_load_n(&g.fds[i], __ATOMIC_ACQUIRE) == fd + 1) {
            return i;
        }
    }
    return -1;
}

static int IsOurs(int fd) {
    Resolve();
    if (fd < 0 || __atomic_load_n(&g.opened, __ATOMIC_ACQUIRE) == 0) {
        return 0;
    }
    return Slot(fd) >= 0;
}

static int Fail(int error) {
    errno = error;
    return -1;
}

/* ---- opening, closing, finding ---- */

static int OpenDevice(int flags) {
    pthread_mutex_lock(&g.lock);
    ReadControl();
    int slot = Slot(-1);
    if (g.fault == FAULT_UNPLUGGED || slot < 0) {
        pthread_mutex_unlock(&g.lock);
        return Fail(g.fault == FAULT_UNPLUGGED ? ENOENT : EMFILE);
    }
    /* A descriptor of the system's own, so that its number is never handed out twice. */
    int fd = RealOpen("/dev/null", O_RDWR | (flags & (O_NONBLOCK | O_CLOEXEC)));
    if (fd >= 0) {
        __atomic_store_n(&g.fds[slot], fd + 1, __ATOMIC_RELEASE);
        __atomic_add_fetch(&g.opened, 1, __ATOMIC_RELEASE);
        g.nonblocking[slot] = (flags & O_NONBLOCK) != 0;
        Count(STATUS_OPENS, 1);
    }
    pthread_mutex_unlock(&g.lock);
    return fd;
}

/* The count and the addresses are also read without the lock, by munmap. */
static void FreeBuffers(void) {
    uint32_t count = g.count;
    __atomic_store_n(&g.count, 0, __ATOMIC_RELEASE);
    for (uint32_t i = 0; i < count; ++i) {
        RealMunmap(g.buffers[i].memory, g.buffers[i].length);
    }
    for (uint32_t i = 0; i < MAX_BUFFERS; ++i) {
        struct Buffer* b = &g.buffers[i];
        __atomic_store_n(&b->memory, NULL, __ATOMIC_RELEASE);
        b->length = 0;
        b->bytesused = 0;
        b->sequence = 0;
        b->stamp = (struct timeval){0, 0};
        b->mappings = 0;
        b->queued = 0;
    }
    g.queued = 0;
}

static int Mapped(void) {
    for (uint32_t i = 0; i < g.count; ++i) {
        if (g.buffers[i].mappings > 0) {
            return 1;
        }
    }
    return 0;
}

static void StopStream(void) {
    if (g.streaming) {
        Count(STATUS_STREAMOFFS, 1);
    }
    g.streaming = 0;
    g.queued = 0;
    for (uint32_t i = 0; i < g.count; ++i) {
        g.buffers[i].queued = 0;
    }
}

/* A process that ends with the device open (a thread left waiting in it) lets go of it as the
   kernel would: its descriptors closed, its mappings gone. A thread cut off while it held the
   lock leaves it held, so the lock is only tried for a while. */
__attribute__((destructor)) static void ReleaseAtExit(void) {
    if (__atomic_load_n(&g.opened, __ATOMIC_ACQUIRE) == 0 && !Mapped()) {
        return;
    }
    int locked = 0;
    for (int i = 0; i < 100 && !locked; ++i) {
        locked = pthread_mutex_trylock(&g.lock) == 0;
        if (!locked) {
            struct timespec pause = {0, 1000000};
            nanosleep(&pause, NULL);
        }
    }
    for (int i = 0; i < MAX_FDS; ++i) {
        if (__atomic_load_n(&g.fds[i], __ATOMIC_ACQUIRE) != 0) {
            __atomic_store_n(&g.fds[i], 0, __ATOMIC_RELEASE);
            Count(STATUS_CLOSES, 1);
        }
    }
    __atomic_store_n(&g.opened, 0, __ATOMIC_RELEASE);
    for (uint32_t i = 0; i < g.count; ++i) {
        Count(STATUS_UNMAPS, (uint64_t)g.buffers[i].mappings);
        g.buffers[i].mappings = 0;
    }
    if (locked) {
        pthread_mutex_unlock(&g.lock);
    }
}

static int CloseDevice(int fd) {
    pthread_mutex_lock(&g.lock);
    int slot = Slot(fd);
    if (slot >= 0) {
        __atomic_store_n(&g.fds[slot], 0, __ATOMIC_RELEASE);
        __atomic_sub_fetch(&g.opened, 1, __ATOMIC_RELEASE);
        Count(STATUS_CLOSES, 1);
    }
    int last = 1;
    for (int i = 0; i < MAX_FDS; ++i) {
        last = last && g.fds[i] == 0;
    }
    /* As a driver does when its last file goes: buffers still mapped live until unmapped. */
    if (last) {
        StopStream();
        if (!Mapped()) {
            FreeBuffers();
        }
    }
    pthread_mutex_unlock(&g.lock);
    return RealClose(fd);
}

static int StatDevice(struct stat* st) {
    pthread_mutex_lock(&g.lock);
    ReadControl();
    int unplugged = g.fault == FAULT_UNPLUGGED;
    pthread_mutex_unlock(&g.lock);
    if (unplugged) {
        return Fail(ENOENT);
    }
    memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(81, 0);
    st->st_nlink = 1;
    st->st_blksize = 4096;
    return 0;
}

/* ---- formats and frames ---- */

static uint32_t SizeImage(uint32_t format, uint32_t width, uint32_t height) {
    (void)format;
    return width * height * 2;
}

static double Period(void) {
    double period = 1.0 / g.rate;
    return g.cap > 0 && 1.0 / g.cap > period ? 1.0 / g.cap : period;
}

static int Supported(uint32_t format) {
    return format == V4L2_PIX_FMT_YUYV || format == V4L2_PIX_FMT_MJPEG;
}

static int HasSize(uint32_t format, uint32_t width, uint32_t height) {
    for (size_t i = 0; i < COUNT(kSizes); ++i) {
        if (kSizes[i].format == format && kSizes[i].width == width && kSizes[i].height == height) {
            return 1;
        }
    }
    return 0;
}

/* Adjusts the format to the nearest one offered, as drivers do. */
static int FitFormat(struct v4l2_format* f) {
    if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
        return Fail(EINVAL);
    }
    struct v4l2_pix_format* pix = &f->fmt.pix;
    if (!Supported(pix->pixelformat)) {
        pix->pixelformat = V4L2_PIX_FMT_YUYV;
    }
    long best = -1;
    const struct Size* chosen = NULL;
    for (size_t i = 0; i < COUNT(kSizes); ++i) {
        if (kSizes[i].format != pix->pixelformat) {
            continue;
        }
        long d = labs((long)kSizes[i].width - (long)pix->width) +
                 labs((long)kSizes[i].height - (long)pix->height);
        if (best < 0 || d < best) {
            best = d;
            chosen = &kSizes[i];
        }
    }
    pix->width = chosen->width;
    pix->height = chosen->height;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = pix->pixelformat == V4L2_PIX_FMT_YUYV ? pix->width * 2 : 0;
    pix->sizeimage = SizeImage(pix->pixelformat, pix->width, pix->height);
    pix->colorspace =
        pix->pixelformat == V4L2_PIX_FMT_YUYV ? V4L2_COLORSPACE_SRGB : V4L2_COLORSPACE_JPEG;
    pix->priv = 0;
    pix->flags = 0;
    pix->ycbcr_enc = 0;
    pix->quantization = 0;
    pix->xfer_func = 0;
    return 0;
}

static void Deliver(struct Buffer* b) {
    if (g.rgb == NULL) {
        g.rgb = malloc(800 * 600 * 3); /* the largest size */
    }
    if (g.rgb == NULL) {
        b->bytesused = 0;
        return;
    }
    DrawPicture(g.rgb, g.width, g.height, g.sequence);
    if (g.format == V4L2_PIX_FMT_YUYV) {
        RgbToYuyv(g.rgb, g.width, g.height, b->memory);
        b->bytesused = g.width * g.height * 2;
    } else {
        b->bytesused = (uint32_t)EncodeJpeg(g.rgb, g.width, g.height, b->memory, b->length);
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    b->stamp.tv_sec = t.tv_sec;
    b->stamp.tv_usec = t.tv_nsec / 1000;
    b->sequence = g.sequence++;
    Count(STATUS_FRAMES, 1);
}

/* Seconds until the oldest queued buffer is filled; negative when it is ready, or the
   stream will never give one. */
static double UntilReady(int* never) {
    *never = !g.streaming || g.queued == 0 || g.fault == FAULT_STALL;
    return g.nextDue - Now();
}

static void Sleep(double seconds) {
    struct timespec t = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    nanosleep(&t, NULL);
}

static int Dequeue(int slot, struct v4l2_buffer* buf) {
    Count(STATUS_DEQUEUES, 1);
    if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buf->memory != V4L2_MEMORY_MMAP) {
        return Fail(EINVAL);
    }
    for (;;) {
        ReadControl();
        if (g.fault == FAULT_UNPLUGGED) {
            return Fail(ENODEV);
        }
        if (g.fault == FAULT_ERROR) {
            return Fail(EIO);
        }
        if (!g.streaming) {
            return Fail(EINVAL);
        }
        int never = 0;
        double wait = UntilReady(&never);
        if (!never && wait <= 0) {
            break;
        }
        if (g.nonblocking[slot]) {
            return Fail(EAGAIN);
        }
        pthread_mutex_unlock(&g.lock);
        Sleep(never || wait > 0.01 ? 0.01 : wait);
        pthread_mutex_lock(&g.lock);
    }
    double now = Now();
    g.nextDue += Period();
    if (g.nextDue < now) {
        g.nextDue = now; /* fell behind: drop frames, as a camera with no buffer does */
    }
    uint32_t index = g.queue[0];
    memmove(g.queue, g.queue + 1, --g.queued * sizeof g.queue[0]);
    struct Buffer* b = &g.buffers[index];
    b->queued = 0;
    Deliver(b);
    memset(buf, 0, sizeof *buf);
    buf->index = index;
    buf->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf->memory = V4L2_MEMORY_MMAP;
    buf->bytesused = b->bytesused;
    buf->flags = V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
                 (b->mappings > 0 ? V4L2_BUF_FLAG_MAPPED : 0);
    buf->field = V4L2_FIELD_NONE;
    buf->timestamp = b->stamp;
    buf->sequence = b->sequence;
    buf->m.offset = index * (uint32_t)b->length;
    buf->length = (uint32_t)b->length;
    return 0;
}

static void DescribeBuffer(uint32_t index, struct v4l2_buffer* buf) {
    struct Buffer* b = &g.buffers[index];
    buf->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | (b->queued ? V4L2_BUF_FLAG_QUEUED : 0) |
                 (b->mappings > 0 ? V4L2_BUF_FLAG_MAPPED : 0);
    buf->field = V4L2_FIELD_NONE;
    buf->bytesused = b->bytesused;
    buf->m.offset = index * (uint32_t)b->length;
    buf->length = (uint32_t)b->length;
}

static int RequestBuffers(struct v4l2_requestbuffers* req) {
    if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP) {
        return Fail(EINVAL);
    }
    if (g.streaming || Mapped()) {
        return Fail(EBUSY);
    }
    FreeBuffers();
    uint32_t count = req->count > MAX_BUFFERS ? MAX_BUFFERS : req->count;
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    size_t length = (SizeImage(g.format, g.width, g.height) + page - 1) / page * page;
    for (uint32_t i = 0; i < count; ++i) {
        void* p =
            RealMmap(NULL, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            FreeBuffers();
            return Fail(ENOMEM);
        }
        __atomic_store_n(&g.buffers[i].memory, (uint8_t*)p, __ATOMIC_RELEASE);
        g.buffers[i].length = length;
        __atomic_store_n(&g.count, i + 1, __ATOMIC_RELEASE);
    }
    req->count = count;
    req->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    return 0;
}

/* ---- the requests ---- */

static double Distance(uint32_t rate, double wanted) {
    return rate > wanted ? rate - wanted : wanted - rate;
}

static struct Control* FindControl(uint32_t id, int next) {
    struct Control* found = NULL;
    for (size_t i = 0; i < COUNT(g.controls); ++i) {
        struct Control* c = &g.controls[i];
        if (next ? c->id > id && (found == NULL || c->id < found->id) : c->id == id) {
            found = c;
        }
    }
    return found;
}

static int QueryControl(struct v4l2_queryctrl* q) {
    int next = (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
    struct Control* c =
        FindControl(q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND), next);
    if (c == NULL) {
        return Fail(EINVAL);
    }
    memset(q, 0, sizeof *q);
    q->id = c->id;
    q->type = V4L2_CTRL_TYPE_INTEGER;
    snprintf((char*)q->name, sizeof q->name, "%s", c->name);
    q->minimum = c->minimum;
    q->maximum = c->maximum;
    q->step = c->step;
    q->default_value = c->fallback;
    return 0;
}

static void Describe(struct v4l2_format* f) {
    memset(f, 0, sizeof *f);
    f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f->fmt.pix.pixelformat = g.format;
    f->fmt.pix.width = g.width;
    f->fmt.pix.height = g.height;
    FitFormat(f);
}

static int Request(int slot, unsigned int request, void* arg) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        struct v4l2_capability* cap = arg;
        memset(cap, 0, sizeof *cap);
        snprintf((char*)cap->driver, sizeof cap->driver, "uvcvideo");
        snprintf((char*)cap->card, sizeof cap->card, "Lookwell V4L2 Camera");
        snprintf((char*)cap->bus_info, sizeof cap->bus_info, "usb-0000:00:14.0-1");
        cap->version = 0x060100;
        cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        struct v4l2_fmtdesc* d = arg;
        if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= COUNT(kFormats)) {
            return Fail(EINVAL);
        }
        uint32_t index = d->index;
        memset(d, 0, sizeof *d);
        d->index = index;
        d->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        d->pixelformat = kFormats[index];
        d->flags = kFormats[index] == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        snprintf((char*)d->description, sizeof d->description, "%s",
                 kFormats[index] == V4L2_PIX_FMT_MJPEG ? "Motion-JPEG" : "YUYV 4:2:2");
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        struct v4l2_frmsizeenum* s = arg;
        uint32_t n = 0;
        for (size_t i = 0; i < COUNT(kSizes); ++i) {
            if (kSizes[i].format == s->pixel_format && n++ == s->index) {
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = kSizes[i].width;
                s->discrete.height = kSizes[i].height;
                return 0;
            }
        }
        return Fail(EINVAL);
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        struct v4l2_frmivalenum* v = arg;
        if (!HasSize(v->pixel_format, v->width, v->height) || v->index >= COUNT(kRates)) {
            return Fail(EINVAL);
        }
        v->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        v->discrete.numerator = 1;
        v->discrete.denominator = kRates[v->index];
        return 0;
    }
    case VIDIOC_G_FMT: {
        struct v4l2_format* f = arg;
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return Fail(EINVAL);
        }
        Describe(f);
        return 0;
    }
    case VIDIOC_TRY_FMT:
        return FitFormat(arg);
    case VIDIOC_S_FMT: {
        struct v4l2_format* f = arg;
        if (FitFormat(f) != 0) {
            return -1;
        }
        if (g.fault == FAULT_REFUSE || g.streaming || g.count > 0) {
            return Fail(EBUSY);
        }
        g.format = f->fmt.pix.pixelformat;
        g.width = f->fmt.pix.width;
        g.height = f->fmt.pix.height;
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        struct v4l2_streamparm* p = arg;
        if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return Fail(EINVAL);
        }
        if (request == VIDIOC_S_PARM) {
            if (g.streaming) {
                return Fail(EBUSY);
            }
            /* The nearest interval offered. */
            struct v4l2_fract t = p->parm.capture.timeperframe;
            double wanted = t.numerator > 0 && t.denominator > 0
                                ? (double)t.denominator / t.numerator
                                : (double)kRates[0];
            g.rate = kRates[0];
            for (size_t i = 1; i < COUNT(kRates); ++i) {
                if (Distance(kRates[i], wanted) < Distance(g.rate, wanted)) {
                    g.rate = kRates[i];
                }
            }
        }
        memset(&p->parm, 0, sizeof p->parm);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        p->parm.capture.timeperframe.numerator = 1;
        p->parm.capture.timeperframe.denominator = g.rate;
        p->parm.capture.readbuffers = 0;
        return 0;
    }
    case VIDIOC_ENUMINPUT: {
        struct v4l2_input* in = arg;
        if (in->index != 0) {
            return Fail(EINVAL);
        }
        memset(in, 0, sizeof *in);
        snprintf((char*)in->name, sizeof in->name, "Camera 1");
        in->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *(int*)arg = (int)g.input;
        return 0;
    case VIDIOC_S_INPUT:
        return *(int*)arg == 0 ? 0 : Fail(EINVAL);
    case VIDIOC_QUERYCTRL:
        return QueryControl(arg);
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        struct v4l2_control* ctrl = arg;
        struct Control* c = FindControl(ctrl->id, 0);
        if (c == NULL) {
            return Fail(EINVAL);
        }
        if (request == VIDIOC_G_CTRL) {
            ctrl->value = c->value;
            return 0;
        }
        if (ctrl->value < c->minimum || ctrl->value > c->maximum) {
            return Fail(ERANGE);
        }
        c->value = ctrl->value;
        return 0;
    }
    case VIDIOC_REQBUFS:
        return RequestBuffers(arg);
    case VIDIOC_QUERYBUF: {
        struct v4l2_buffer* buf = arg;
        if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buf->index >= g.count) {
            return Fail(EINVAL);
        }
        buf->memory = V4L2_MEMORY_MMAP;
        DescribeBuffer(buf->index, buf);
        return 0;
    }
    case VIDIOC_QBUF: {
        struct v4l2_buffer* buf = arg;
        if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buf->memory != V4L2_MEMORY_MMAP ||
            buf->index >= g.count || g.buffers[buf->index].queued) {
            return Fail(EINVAL);
        }
        g.buffers[buf->index].queued = 1;
        g.queue[g.queued++] = buf->index;
        DescribeBuffer(buf->index, buf);
        return 0;
    }
    case VIDIOC_DQBUF:
        return Dequeue(slot, arg);
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        if (*(int*)arg != V4L2_BUF_TYPE_VIDEO_CAPTURE || g.count == 0) {
            return Fail(EINVAL);
        }
        if (request == VIDIOC_STREAMOFF) {
            StopStream();
        } else if (!g.streaming) {
            g.streaming = 1;
            g.nextDue = Now() + Period();
            Count(STATUS_STREAMONS, 1);
        }
        return 0;
    default:
        return Fail(ENOTTY);
    }
}

static int DeviceIoctl(int fd, unsigned long request, void* arg) {
    pthread_mutex_lock(&g.lock);
    ReadControl();
    int result;
    int slot = Slot(fd);
    if (g.fault == FAULT_UNPLUGGED) {
        result = Fail(ENODEV);
    } else if (arg == NULL) {
        result = Fail(EFAULT);
    } else {
        /* Requests arrive sign-extended from an int: only the low 32 bits are the number. */
        result = Request(slot, (unsigned int)request, arg);
    }
    pthread_mutex_unlock(&g.lock);
    return result;
}

static void* DeviceMmap(size_t length, off_t offset) {
    pthread_mutex_lock(&g.lock);
    void* result = MAP_FAILED;
    errno = EINVAL;
    for (uint32_t i = 0; i < g.count; ++i) {
        struct Buffer* b = &g.buffers[i];
        if ((off_t)(i * b->length) == offset && length <= b->length) {
            b->mappings++;
            Count(STATUS_MAPS, 1);
            result = b->memory;
        }
    }
    if (g.fault == FAULT_UNPLUGGED) {
        errno = ENODEV;
        result = MAP_FAILED;
    }
    pthread_mutex_unlock(&g.lock);
    return result;
}

/* 1 when the address was one of the buffers' mappings. */
static int DeviceMunmap(void* address) {
    /* Every munmap in the process comes here: only a buffer's address waits for the lock. */
    int mapped = 0;
    uint32_t count = __atomic_load_n(&g.count, __ATOMIC_ACQUIRE);
    for (uint32_t i = 0; i < count && i < MAX_BUFFERS; ++i) {
        mapped = mapped || __atomic_load_n(&g.buffers[i].memory, __ATOMIC_ACQUIRE) == address;
    }
    if (!mapped) {
        return 0;
    }
    pthread_mutex_lock(&g.lock);
    int ours = 0;
    for (uint32_t i = 0; i < g.count; ++i) {
        if (g.buffers[i].memory == address && g.buffers[i].mappings > 0) {
            g.buffers[i].mappings--;
            Count(STATUS_UNMAPS, 1);
            ours = 1;
        }
    }
    int open = 0;
    for (int i = 0; i < MAX_FDS; ++i) {
        open = open || g.fds[i] != 0;
    }
    if (ours && !open && !Mapped()) {
        FreeBuffers();
    }
    pthread_mutex_unlock(&g.lock);
    return ours;
}

/* Readable while a frame is due; an unplugged device is in error. */
static short Readiness(double* wait) {
    pthread_mutex_lock(&g.lock);
    ReadControl();
    int never = 0;
    double until = UntilReady(&never);
    short events = 0;
    if (g.fault == FAULT_UNPLUGGED) {
        events = POLLERR | POLLHUP;
    } else if (g.fault == FAULT_ERROR && g.streaming) {
        events = POLLERR;
    } else if (!never && until <= 0) {
        events = POLLIN | POLLRDNORM;
    }
    *wait = never || until > 0.01 ? 0.01 : until;
    pthread_mutex_unlock(&g.lock);
    return events;
}

/* ---- the C library's entry points ---- */

EXPORT int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    return IsDevicePath(path) ? OpenDevice(flags) : RealOpen(path, flags, mode);
}
EXPORT int open64(const char* path, int flags, ...) __attribute__((alias("open")));

EXPORT int __open_2(const char* path, int flags) {
    return open(path, flags);
}
EXPORT int __open64_2(const char* path, int flags) __attribute__((alias("__open_2")));

EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    return IsDevicePath(path) ? OpenDevice(flags) : RealOpenat(dirfd, path, flags, mode);
}
EXPORT int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));

EXPORT int close(int fd) {
    return IsOurs(fd) ? CloseDevice(fd) : RealClose(fd);
}

EXPORT ssize_t read(int fd, void* buffer, size_t size) {
    if (!IsOurs(fd)) {
        return RealRead(fd, buffer, size);
    }
    /* A UVC camera streams only; an unplugged one answers nothing. */
    pthread_mutex_lock(&g.lock);
    ReadControl();
    int error = g.fault == FAULT_UNPLUGGED ? ENODEV : EINVAL;
    pthread_mutex_unlock(&g.lock);
    return Fail(error);
}

EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return IsOurs(fd) ? DeviceIoctl(fd, request, arg) : RealIoctl(fd, request, arg);
}

EXPORT void* mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    return IsOurs(fd) ? DeviceMmap(length, offset)
                      : RealMmap(address, length, prot, flags, fd, offset);
}
EXPORT void* mmap64(void* address, size_t length, int prot, int flags, int fd, off_t offset)
    __attribute__((alias("mmap")));

EXPORT int munmap(void* address, size_t length) {
    Resolve();
    return DeviceMunmap(address) ? 0 : RealMunmap(address, length);
}

EXPORT int stat(const char* path, struct stat* st) {
    return IsDevicePath(path) ? StatDevice(st) : RealStat(path, st);
}
/* struct stat64 is struct stat on 64-bit systems. */
EXPORT int stat64(const char* path, struct stat64* st) {
    return stat(path, (struct stat*)st);
}
EXPORT int lstat(const char* path, struct stat* st) {
    return IsDevicePath(path) ? StatDevice(st) : RealLstat(path, st);
}
EXPORT int lstat64(const char* path, struct stat64* st) {
    return lstat(path, (struct stat*)st);
}

EXPORT int poll(struct pollfd* fds, nfds_t count, int timeout) {
    Resolve();
    int ours = 0;
    for (nfds_t i = 0; i < count; ++i) {
        ours = ours || IsOurs(fds[i].fd);
    }
    if (!ours) {
        return RealPoll(fds, count, timeout);
    }
    double end = Now() + timeout / 1000.0;
    for (;;) {
        /* The others' fds are looked at without waiting, ours by the clock. */
        int ready = 0;
        double wait = 0.01;
        for (nfds_t i = 0; i < count; ++i) {
            if (IsOurs(fds[i].fd)) {
                double w;
                short events = Readiness(&w);
                fds[i].revents = (short)(events & (fds[i].events | POLLERR | POLLHUP));
                wait = w < wait ? w : wait;
            } else if (fds[i].fd >= 0) {
                struct pollfd one = fds[i];
                fds[i].revents = RealPoll(&one, 1, 0) > 0 ? one.revents : 0;
            } else {
                fds[i].revents = 0;
            }
            ready += fds[i].revents != 0;
        }
        double left = end - Now();
        if (ready > 0 || (timeout >= 0 && left <= 0)) {
            return ready;
        }
        Sleep(timeout >= 0 && left < wait ? left : wait > 0 ? wait : 0.001);
    }
}

EXPORT int select(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                  struct timeval* timeout) {
    Resolve();
    struct pollfd fds[FD_SETSIZE];
    nfds_t n = 0;
    int ours = 0;
    for (int fd = 0; fd < count && fd < FD_SETSIZE; ++fd) {
        short events = (short)((readable && FD_ISSET(fd, readable) ? POLLIN : 0) |
                               (writable && FD_ISSET(fd, writable) ? POLLOUT : 0) |
                               (failed && FD_ISSET(fd, failed) ? POLLPRI : 0));
        if (events != 0) {
            ours = ours || IsOurs(fd);
            fds[n++] = (struct pollfd){fd, events, 0};
        }
    }
    if (!ours) {
        return RealSelect(count, readable, writable, failed, timeout);
    }
    int ms = timeout == NULL ? -1 : (int)(timeout->tv_sec * 1000 + timeout->tv_usec / 1000);
    int result = poll(fds, n, ms);
    if (result < 0) {
        return result;
    }
    result = 0;
    for (nfds_t i = 0; i < n; ++i) {
        int fd = fds[i].fd;
        short r = fds[i].revents;
        if (readable && FD_ISSET(fd, readable) && !(r & (POLLIN | POLLERR | POLLHUP))) {
            FD_CLR(fd, readable);
        }
        if (writable && FD_ISSET(fd, writable) && !(r & (POLLOUT | POLLERR))) {
            FD_CLR(fd, writable);
        }
        if (failed && FD_ISSET(fd, failed) && !(r & POLLPRI)) {
            FD_CLR(fd, failed);
        }
        result += (readable && FD_ISSET(fd, readable)) + (writable && FD_ISSET(fd, writable)) +
                  (failed && FD_ISSET(fd, failed));
    }
    return result;
}

/* libv4l2 calls the kernel through syscall(). The arguments of another call are passed on as
   the C library's own syscall() reads them: six machine words. */
EXPORT long syscall(long number, ...) {
    Resolve();
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; ++i) {
        a[i] = va_arg(ap, long);
    }
    va_end(ap);
    switch (number) {
    case SYS_openat:
        if (IsDevicePath((const char*)a[1])) {
            return OpenDevice((int)a[2]);
        }
        break;
    case SYS_open:
        if (IsDevicePath((const char*)a[0])) {
            return OpenDevice((int)a[1]);
        }
        break;
    case SYS_close:
        if (IsOurs((int)a[0])) {
            return CloseDevice((int)a[0]);
        }
        break;
    case SYS_ioctl:
        if (IsOurs((int)a[0])) {
            return DeviceIoctl((int)a[0], (unsigned long)a[1], (void*)a[2]);
        }
        break;
    case SYS_read:
        if (IsOurs((int)a[0])) {
            return read((int)a[0], (void*)a[1], (size_t)a[2]);
        }
        break;
    case SYS_mmap:
        if (IsOurs((int)a[4])) {
            return (long)DeviceMmap((size_t)a[1], (off_t)a[5]);
        }
        break;
    case SYS_munmap:
        if (DeviceMunmap((void*)a[0])) {
            return 0;
        }
        break;
    default:
        break;
    }
    return RealSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
