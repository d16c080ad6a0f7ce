/* Preloaded into a command under test: fsync of the file named by KESTREL_TEST_FAIL_FSYNC fails
 * with EIO, as on a disk that takes writes into the cache but cannot put them on the medium.
 * Every other descriptor gets the real fsync. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int fsync(int fd) {
    const char* failing = getenv("KESTREL_TEST_FAIL_FSYNC");
    if (failing != NULL) {
        char link[64];
        char path[PATH_MAX];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, path, sizeof path - 1);
        if (n > 0) {
            path[n] = '\0';
            if (strcmp(path, failing) == 0) {
                errno = EIO;
                return -1;
            }
        }
    }
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return real(fd);
}
