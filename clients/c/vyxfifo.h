/* vyxfifo: reads the camera module's shared memory from client programs.
 *
 * An image FIFO is the segment that "imagefifo create NAME SIZE" makes: a ring of blocks, one
 * image each. During a scan every measurand line names the block of its image ("imageindex",
 * numbered from 1); read the block with vyxfifo_block and give it back with vyxfifo_release
 * so that the camera can fill it again. A preview memory is the picture segment of "preview
 * memory start" and its event: wait for a picture, read it, then ask for the next one with
 * vyxfifo_preview_done.
 *
 * Opening maps the whole segment and faults every page in at once, so that reading the first
 * images costs no page faults. Functions that can fail write one line of text into `error`
 * (at most `error_size` bytes, terminated) and return NULL; `error` may be NULL. One reader
 * object is for one thread at a time; several readers may have the same FIFO open (each block
 * is released by whoever read it).
 */
#ifndef VYXFIFO_H
#define VYXFIFO_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(VYXFIFO_BUILDING)
#define VYXFIFO_API __declspec(dllexport)
#else
#define VYXFIFO_API __declspec(dllimport)
#endif
#else
#define VYXFIFO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- image FIFOs ---- */

typedef struct vyxfifo vyxfifo;

/* Opens the image FIFO of that name (as "imagefifo create" named it), or NULL. */
VYXFIFO_API vyxfifo* vyxfifo_open(const char* name, char* error, size_t error_size);

/* Unmaps it; blocks still held stay in use. NULL is fine. */
VYXFIFO_API void vyxfifo_close(vyxfifo* fifo);

/* 64 or 32: the width of the ring's header fields and lock words. */
VYXFIFO_API int vyxfifo_variant(const vyxfifo* fifo);

/* 0 once the machine has withdrawn the FIFO (deleted it); no block is filled after that. */
VYXFIFO_API int vyxfifo_active(const vyxfifo* fifo);

VYXFIFO_API uint64_t vyxfifo_block_size(const vyxfifo* fifo);
VYXFIFO_API uint64_t vyxfifo_num_blocks(const vyxfifo* fifo);

/* How many blocks hold an image that nobody has released yet. */
VYXFIFO_API uint64_t vyxfifo_num_used(const vyxfifo* fifo);

/* Block `number` (1 to vyxfifo_num_blocks) while it holds an image, else NULL. The image is
 * the block's first width x height x bytes-per-pixel bytes, rows without gaps. */
VYXFIFO_API const void* vyxfifo_block(const vyxfifo* fifo, uint64_t number);

/* Gives block `number` back: 1, or 0 when the number is out of range or the block is free. */
VYXFIFO_API int vyxfifo_release(vyxfifo* fifo, uint64_t number);

/* ---- preview memories ---- */

typedef struct vyxfifo_preview vyxfifo_preview;

/* Opens the preview memory of that name (the segment of "preview memory start PROBESYSTEM
 * NAME MS") and its event NAME.event, or NULL. */
VYXFIFO_API vyxfifo_preview* vyxfifo_preview_open(const char* name, char* error, size_t error_size);

VYXFIFO_API void vyxfifo_preview_close(vyxfifo_preview* preview);

/* The picture segment: its first byte and its size. */
VYXFIFO_API const void* vyxfifo_preview_data(const vyxfifo_preview* preview);
VYXFIFO_API size_t vyxfifo_preview_size(const vyxfifo_preview* preview);

/* Waits until a new picture is there: 1 when it is, 0 when `timeout_ms` passed first (0 only
 * looks), -1 when the event cannot be waited on. */
VYXFIFO_API int vyxfifo_preview_wait(vyxfifo_preview* preview, uint32_t timeout_ms);

/* Tells the machine that the picture is taken, so that it writes the next one. 1, or 0 on
 * failure. */
VYXFIFO_API int vyxfifo_preview_done(vyxfifo_preview* preview);

#ifdef __cplusplus
}
#endif

#endif
