#ifndef HIDDFU_IMAGE_H
#define HIDDFU_IMAGE_H

/*
 * Our engine's addition to the C interface of hiddfu.h: the image check that hidDfuUpgrade makes, on its
 * own, so that a caller can refuse an image before it switches a device into update mode. It needs no
 * connection and sends nothing to any device.
 */

#include "hiddfu/hiddfu.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when the file is a whole image (DFU suffix, CRC, size) for the device with these ids in update mode;
 * otherwise the code hidDfuUpgrade would give for it. */
HIDDFU_API int hidDfuCheckImage(const char* path, int vendor_id, int product_id);

/* The same check; when it passes, *bcd_device (if not null) receives the version the suffix states
 * (0xffff: any). */
HIDDFU_API int hidDfuCheckImageVersion(const char* path, int vendor_id, int product_id, uint16_t* bcd_device);

#ifdef __cplusplus
}
#endif

#endif
