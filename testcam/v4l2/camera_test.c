/* The user-space webcam seen as Wine's capture filter sees it: through libv4l2, converted to
   BGR24, read from a non-blocking descriptor; and its faults switched on while it streams. Run
   with the camera preloaded and LOOKWELL_V4L2_CONTROL and LOOKWELL_V4L2_STATUS set. */
#define _GNU_SOURCE
#include "v4l2cam.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

static int failures;
#define CHECK(condition, ...)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ++failures;                                                                            \
            printf("%s:%d: %s: ", __FILE__, __LINE__, #condition);                                 \
            printf(__VA_ARGS__);                                                                   \
            printf("\n");                                                                          \
        }                                                                                          \
    } while (0)

static int (*Open)(const char*, int, ...);
static int (*Close)(int);
static int (*Ioctl)(int, unsigned long, ...);
static ssize_t (*Read)(int, void*, size_t);

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static void SetControl(const char* text) {
    const char* path = getenv("LOOKWELL_V4L2_CONTROL");
    char next[4096];
    snprintf(next, sizeof next, "%s.next", path);
    FILE* file = fopen(next, "w");
    fputs(text, file);
    fclose(file);
    rename(next, path);
    /* The camera looks at the file every 10 ms. */
    struct timespec wait = {0, 30 * 1000 * 1000};
    nanosleep(&wait, NULL);
}

static uint64_t Status(int counter) {
    uint64_t values[STATUS_COUNT] = {0};
    FILE* file = fopen(getenv("LOOKWELL_V4L2_STATUS"), "rb");
    if (file != NULL) {
        if (fread(values, sizeof values, 1, file) != 1) {
            memset(values, 0, sizeof values);
        }
        fclose(file);
    }
    return values[counter];
}

/* Opens the camera as Wine's filter does and sets a BGR24 size; -1 when that fails. */
static int OpenAt(unsigned width, unsigned height) {
    int fd = Open("/dev/video0", O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct v4l2_format format = {.type = V4L2_BUF_TYPE_VIDEO_CAPTURE};
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    if (Ioctl(fd, VIDIOC_S_FMT, &format) != 0 || format.fmt.pix.width != width ||
        format.fmt.pix.height != height) {
        Close(fd);
        return -1;
    }
    return fd;
}

/* Reads a frame as Wine's stream thread does, trying again while the camera says so; the
   result of the last read, and its errno in *error. */
static ssize_t ReadFrame(int fd, uint8_t* frame, size_t size, double seconds, int* error) {
    double end = Now() + seconds;
    ssize_t n;
    do {
        n = Read(fd, frame, size);
        *error = n < 0 ? errno : 0;
    } while (n < 0 && *error == EAGAIN && Now() < end);
    return n;
}

static int Near(const uint8_t* bgr, int r, int g, int b) {
    return abs(bgr[2] - r) <= 8 && abs(bgr[1] - g) <= 8 && abs(bgr[0] - b) <= 8;
}

static void TestFormats(void) {
    /* Every size of either format, as libv4l2 lists them for BGR24; 800 x 600 is MJPG only. */
    static const unsigned kSizes[][2] = {{640, 480}, {320, 240}, {160, 120}, {800, 600}};
    int fd = Open("/dev/video0", O_RDWR | O_NONBLOCK);
    struct v4l2_frmsizeenum size = {.pixel_format = V4L2_PIX_FMT_BGR24};
    for (size.index = 0; Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
        CHECK(size.index < 4 && size.discrete.width == kSizes[size.index][0] &&
                  size.discrete.height == kSizes[size.index][1],
              "size %u is %ux%u", size.index, size.discrete.width, size.discrete.height);
    }
    CHECK(size.index == 4, "%u sizes", size.index);
    Close(fd);

    for (size_t i = 0; i < 4; ++i) {
        unsigned w = kSizes[i][0];
        unsigned h = kSizes[i][1];
        size_t bytes = (size_t)w * h * 3;
        uint8_t* first = malloc(bytes);
        uint8_t* later = malloc(bytes);
        fd = OpenAt(w, h);
        CHECK(fd >= 0, "%ux%u not set", w, h);
        int error = 0;
        CHECK(ReadFrame(fd, first, bytes, 1, &error) == (ssize_t)bytes, "%ux%u: %d", w, h, error);
        for (int n = 0; n < 3; ++n) {
            ReadFrame(fd, later, bytes, 1, &error);
        }
        /* Upright: white bar top left, black top right, the grey band along the bottom. */
        CHECK(Near(first + (w / 16 + h / 16 * w) * 3, 255, 255, 255), "%ux%u top left", w, h);
        CHECK(Near(first + (w - 1 - w / 16 + h / 16 * w) * 3, 0, 0, 0), "%ux%u top right", w, h);
        CHECK(Near(first + (w / 2 + (h - 1 - h / 32) * w) * 3, 64, 64, 64), "%ux%u band", w, h);
        CHECK(memcmp(first, later, bytes) != 0, "%ux%u does not move", w, h);
        Close(fd);
        free(first);
        free(later);
    }
}

static void TestRateAndReadiness(void) {
    /* Slower than the 30 frames a second it advertises, on its own clock. */
    SetControl("fps=10\n");
    int fd = OpenAt(320, 240);
    uint8_t* frame = malloc(320 * 240 * 3);
    int error = 0;
    ReadFrame(fd, frame, 320 * 240 * 3, 1, &error);
    double start = Now();
    for (int n = 0; n < 10; ++n) {
        ReadFrame(fd, frame, 320 * 240 * 3, 1, &error);
    }
    double seconds = Now() - start;
    CHECK(seconds > 0.95 && seconds < 1.05, "10 frames at 10 a second took %.3f s", seconds);
    /* A descriptor waited on is ready when the next frame is. */
    struct pollfd ready = {fd, POLLIN, 0};
    start = Now();
    CHECK(poll(&ready, 1, 1000) == 1 && (ready.revents & POLLIN), "not ready");
    CHECK(Now() - start < 0.2, "ready after %.3f s", Now() - start); /* one interval and a bit */
    SetControl("fault=stall\n");
    CHECK(poll(&ready, 1, 300) == 0, "a stalled camera is ready");
    Close(fd);
    free(frame);
    SetControl("");
}

static void TestFaults(void) {
    static const struct {
        const char* control;
        int error; /* of the next read; EAGAIN: none comes */
    } kFaults[] = {
        {"fault=error\n", EIO}, {"fault=unplugged\n", ENODEV}, {"fault=stall\n", EAGAIN}};
    uint8_t* frame = malloc(160 * 120 * 3);
    for (size_t i = 0; i < sizeof kFaults / sizeof kFaults[0]; ++i) {
        int fd = OpenAt(160, 120);
        int error = 0;
        CHECK(ReadFrame(fd, frame, 160 * 120 * 3, 1, &error) > 0, "%s: %d", kFaults[i].control,
              error);
        SetControl(kFaults[i].control);
        CHECK(ReadFrame(fd, frame, 160 * 120 * 3, 0.5, &error) < 0 && error == kFaults[i].error,
              "%s: error %d", kFaults[i].control, error);
        struct stat st;
        int gone = stat("/dev/video0", &st) != 0 && Open("/dev/video0", O_RDWR) < 0;
        CHECK(gone == (kFaults[i].error == ENODEV), "%s: the path %s", kFaults[i].control,
              gone ? "vanished" : "stayed");
        Close(fd);
        SetControl("");
    }
    /* A camera busy elsewhere refuses a format. */
    SetControl("fault=refuse\n");
    CHECK(OpenAt(160, 120) < 0, "a refused format was set");
    SetControl("");
    free(frame);
}

int main(void) {
    void* library = dlopen("libv4l2.so.0", RTLD_NOW);
    if (library == NULL) {
        printf("libv4l2 is missing: %s\n", dlerror());
        return 1;
    }
    Open = (int (*)(const char*, int, ...))dlsym(library, "v4l2_open");
    Close = (int (*)(int))dlsym(library, "v4l2_close");
    Ioctl = (int (*)(int, unsigned long, ...))dlsym(library, "v4l2_ioctl");
    Read = (ssize_t(*)(int, void*, size_t))dlsym(library, "v4l2_read");
    SetControl("");
    unlink(getenv("LOOKWELL_V4L2_STATUS")); /* counts from this run only */

    /* Through the C library, as Wine's device list asks: a request number sign-extended from
       an int, and the capabilities of a UVC camera, which cannot be read(). */
    int fd = open("/dev/video0", O_RDWR | O_NONBLOCK);
    struct v4l2_capability cap;
    CHECK(ioctl(fd, (unsigned long)(long)(int)VIDIOC_QUERYCAP, &cap) == 0, "%d", errno);
    CHECK(strcmp((const char*)cap.card, "Lookwell V4L2 Camera") == 0, "%s", cap.card);
    CHECK((cap.device_caps & (V4L2_CAP_STREAMING | V4L2_CAP_READWRITE)) == V4L2_CAP_STREAMING, "%x",
          cap.device_caps);
    char byte;
    CHECK(read(fd, &byte, 1) < 0 && errno == EINVAL, "read answered");
    close(fd);
    /* Every other path is the system's. */
    struct stat st;
    CHECK(stat("/dev/null", &st) == 0 && major(st.st_rdev) == 1, "/dev/null");
    CHECK(stat("/dev/video1", &st) != 0, "/dev/video1");

    TestFormats();
    TestRateAndReadiness();
    TestFaults();
    CHECK(Status(STATUS_OPENS) == Status(STATUS_CLOSES), "%llu opens, %llu closes",
          (unsigned long long)Status(STATUS_OPENS), (unsigned long long)Status(STATUS_CLOSES));
    CHECK(Status(STATUS_MAPS) == Status(STATUS_UNMAPS) && Status(STATUS_MAPS) > 0,
          "%llu maps, %llu unmaps", (unsigned long long)Status(STATUS_MAPS),
          (unsigned long long)Status(STATUS_UNMAPS));
    printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
