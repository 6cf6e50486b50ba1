/* The two host operations the core uses for its tables. A build against a
 * real host resolves them to the host's own allocator; a build without one
 * gets them from travo's host layer. */
#ifndef TRAVO_HOST_ALLOC_H
#define TRAVO_HOST_ALLOC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *mxMalloc(size_t n);
void mxFree(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
