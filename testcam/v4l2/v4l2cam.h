/* The user-space webcam's picture, its two encodings, and the layout of its status file. */
#ifndef LOOKWELL_V4L2CAM_H
#define LOOKWELL_V4L2CAM_H

#include <stddef.h>
#include <stdint.h>

/* Counters in the status file, each a little-endian uint64 at 8 * index, summed over every
   process that has the library loaded. */
enum {
    STATUS_OPENS,
    STATUS_CLOSES,
    STATUS_MAPS,
    STATUS_UNMAPS,
    STATUS_STREAMONS,
    STATUS_STREAMOFFS,
    STATUS_FRAMES,
    STATUS_DEQUEUES,
    STATUS_COUNT
};

/* Eight colour bars, white to black, over the top three quarters; below them a dark grey band
   with a white square that moves right by a step each frame. RGB, 3 bytes a pixel. */
void DrawPicture(uint8_t* rgb, unsigned width, unsigned height, uint64_t frame);
/* Full-range BT.601, as libv4lconvert and JFIF decode it. */
void RgbToYuyv(const uint8_t* rgb, unsigned width, unsigned height, uint8_t* yuyv);
/* A baseline JFIF of 8 x 8 blocks of one colour each (the mean of the block): every AC
   coefficient is zero, so no DCT is needed. Returns its size, 0 when it does not fit. */
size_t EncodeJpeg(const uint8_t* rgb, unsigned width, unsigned height, uint8_t* out,
                  size_t capacity);

#endif
