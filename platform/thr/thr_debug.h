// Test hooks of our thr_ library, beyond what the library under test calls.
#ifndef THR_DEBUG_H
#define THR_DEBUG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Levels of the mutex that the calling thread holds now. */
int thr_debug_mutex_depth(unsigned long mutex);
/* Levels of all mutexes made by thr_mutex_create that the calling thread
 * holds now. */
int thr_debug_total_depth(void);

#ifdef __cplusplus
}
#endif

#endif
