// Preloaded into the ThreadSanitizer test run (scripts/test.sh
// --sanitize=thread). GCC 12's ThreadSanitizer takes every clone() for a
// fork; for one that shares the caller's memory (CLONE_VM, how Qt's QProcess
// starts a program) the child's half of that bookkeeping lands in the parent,
// which then believes itself a child forked from many threads: it stops
// checking, or dies at its next new thread. Such a clone goes straight to
// the C library; any other to whatever comes next, the sanitizer included.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sched.h>
#include <stdarg.h>
#include <sys/types.h>

typedef int (*CloneCall)(int (*)(void *), void *, int, void *, ...);

int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    static CloneCall own, next;
    // The optional arguments are read whether given or not, as the C
    // library's own clone does: only the flags say which it looks at.
    va_list rest;
    va_start(rest, arg);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    if (!own) {
        own = (CloneCall)dlsym(dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD), "clone");
        next = (CloneCall)dlsym(RTLD_NEXT, "clone");
    }
    return ((flags & CLONE_VM) ? own : next)(fn, stack, flags, arg, parentTid, tls, childTid);
}
