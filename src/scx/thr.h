// The threading library as this library calls it (C linkage): a recursive
// mutex and per-thread pointer cells. Every int result is ignored.
#ifndef SLD_SCX_THR_H
#define SLD_SCX_THR_H

#ifdef __cplusplus
extern "C" {
#endif

unsigned long thr_mutex_create(void); /* a recursive mutex */
int thr_mutex_lock(unsigned long mutex);
int thr_mutex_unlock(unsigned long mutex);
int thr_mutex_destroy(unsigned long mutex);
int thr_thread_var_init(unsigned long *var);  /* the cell is one word, owned by the caller */
void *thr_thread_var_get(unsigned long *var); /* the calling thread's value, or null */
int thr_thread_var_set(unsigned long *var, void *value);
int thr_thread_var_destroy(unsigned long *var);

#ifdef __cplusplus
}
#endif

#endif
