#ifndef HIDDFU_H
#define HIDDFU_H

/*
 * C interface of the HID firmware-update engine. The engine keeps one connection inside itself; no call
 * takes a handle. Every call returns 0 on success and a non-zero code on failure, except
 * hidDfuGetProgress, which returns the transfer's percentage.
 */

#include <stdint.h>

#ifdef _WIN32
#ifdef HIDDFU_BUILD
#define HIDDFU_API __declspec(dllexport)
#else
#define HIDDFU_API __declspec(dllimport)
#endif
#else
#define HIDDFU_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Connects to the one device in update mode that shows this interface. *count receives the number of
 * matching devices; the connection is made only when it is exactly 1. */
HIDDFU_API int hidDfuConnect(int vendor_id, int product_id, int usage, int usage_page, uint16_t* count);

/* Abandons a running transfer, waits for the engine's thread and closes the connection. */
HIDDFU_API int hidDfuDisconnect(void);

/* Checks the image file and starts writing it to the connected device on the engine's own thread.
 * Returns at once; the transfer is followed with hidDfuGetProgress and hidDfuGetResult. */
HIDDFU_API int hidDfuUpgrade(const char* path, int flags);

/* Reads the device's current image into a file. */
HIDDFU_API int hidDfuBackup(const char* path, int flags);

/* Asks the device to leave update mode and start the new image. */
HIDDFU_API int hidDfuResetDevice(void);

/* Percentage of the running or last transfer; 100 only once the image is written and verified. */
HIDDFU_API int hidDfuGetProgress(void);

/* 0 while the running or last transfer has not failed; non-zero after any failure. */
HIDDFU_API int hidDfuGetResult(void);

#ifdef __cplusplus
}
#endif

#endif
