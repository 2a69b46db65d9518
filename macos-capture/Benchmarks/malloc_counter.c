// An allocation counter to preload into a running program (LD_PRELOAD, glibc): counts every call
// that takes memory from the heap (malloc, calloc, realloc, the aligned forms, and so operator
// new) and every free. On SIGUSR2 it appends one line "allocations frees" to the file named by
// TOVANEL_MALLOC_COUNT_FILE, so a script can take the counts at two moments and divide by the
// time between. Measurement only: never part of the program.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* pointer);

static atomic_ulong allocations;
static atomic_ulong frees;
static int countFile = -1;

static void counted(void* pointer) {
    if (pointer != NULL) {
        atomic_fetch_add_explicit(&allocations, 1, memory_order_relaxed);
    }
}

void* malloc(size_t size) {
    void* pointer = __libc_malloc(size);
    counted(pointer);
    return pointer;
}

void* calloc(size_t count, size_t size) {
    void* pointer = __libc_calloc(count, size);
    counted(pointer);
    return pointer;
}

void* realloc(void* old, size_t size) {
    void* pointer = __libc_realloc(old, size);
    counted(pointer);
    return pointer;
}

void* memalign(size_t alignment, size_t size) {
    void* pointer = __libc_memalign(alignment, size);
    counted(pointer);
    return pointer;
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void* pointer = memalign(alignment, size);
    if (pointer == NULL) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

void free(void* pointer) {
    if (pointer != NULL) {
        atomic_fetch_add_explicit(&frees, 1, memory_order_relaxed);
    }
    __libc_free(pointer);
}

// Decimal digits of `value` ending at `end`; returns where they start. Signal-safe.
static char* decimal(unsigned long value, char* end) {
    do {
        *--end = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

static void report(int signal) {
    (void)signal;
    const int saved = errno;
    char line[64];
    char* end = line + sizeof line;
    *--end = '\n';
    end = decimal(atomic_load(&frees), end);
    *--end = ' ';
    char* start = decimal(atomic_load(&allocations), end);
    if (countFile >= 0) {
        ssize_t ignored = write(countFile, start, (size_t)(line + sizeof line - start));
        (void)ignored;
    }
    errno = saved;
}

__attribute__((constructor)) static void start(void) {
    const char* path = getenv("TOVANEL_MALLOC_COUNT_FILE");
    if (path == NULL) {
        return;
    }
    countFile = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = report;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, NULL);
}
