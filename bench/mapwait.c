/* Times a program from its start to the first top-level window it maps, as
   the X server sees it:
     bench_mapwait SETTLE_MS PROGRAM [ARGUMENT...]
   selects SubstructureNotify on the root window before it starts PROGRAM (in
   a process group of its own), waits for a MapNotify of a child of the root
   whose _NET_WM_PID is PROGRAM's, then lets it wait SETTLE_MS more and reads
   the resident memory of PROGRAM, and the proportional set size (shared pages
   counted once among their sharers) of its whole group, from /proc; then
   kills the group. Prints "map_ns rss_kib group_pss_kib". */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/* The figure after key in one of pid's files under /proc, in KiB. */
static long proc_kib(pid_t pid, const char* file, const char* key) {
  char path[64], line[256];
  snprintf(path, sizeof path, "/proc/%d/%s", (int)pid, file);
  FILE* f = fopen(path, "r");
  long kib = 0;
  size_t length = strlen(key);
  if (f == NULL) return 0;
  while (fgets(line, sizeof line, f) != NULL) {
    if (strncmp(line, key, length) == 0 && sscanf(line + length, "%ld", &kib) == 1) break;
  }
  fclose(f);
  return kib;
}

static long rss_kib(pid_t pid) { return proc_kib(pid, "status", "VmRSS:"); }

/* Every process of the group, the program and whatever it started, each
   page shared among them counted once in all. */
static long group_pss_kib(pid_t group) {
  DIR* proc = opendir("/proc");
  long sum = 0;
  struct dirent* e;
  while (proc != NULL && (e = readdir(proc)) != NULL) {
    pid_t pid = atoi(e->d_name);
    if (pid > 0 && getpgid(pid) == group) sum += proc_kib(pid, "smaps_rollup", "Pss:");
  }
  if (proc != NULL) closedir(proc);
  return sum;
}

static long window_pid(Display* dpy, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = NULL;
  long pid = -1;
  Atom wm_pid = XInternAtom(dpy, "_NET_WM_PID", False);
  if (XGetWindowProperty(dpy, w, wm_pid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success &&
      data != NULL && count == 1 && format == 32) {
    pid = (long)*(unsigned long*)data;
  }
  if (data != NULL) XFree(data);
  return pid;
}

static int ignore_errors(Display* dpy, XErrorEvent* e) {
  (void)dpy;
  (void)e;
  return 0;  /* a window gone before its property is read */
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: bench_mapwait SETTLE_MS PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  int settle_ms = atoi(argv[1]);
  Display* dpy = XOpenDisplay(NULL);
  if (dpy == NULL) {
    fprintf(stderr, "bench_mapwait: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(ignore_errors);
  Window root = DefaultRootWindow(dpy);
  XSelectInput(dpy, root, SubstructureNotifyMask);
  XSync(dpy, False);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, ConnectionNumber(dpy));

  long long start = now_ns();
  pid_t pid;
  if (posix_spawn(&pid, argv[2], &actions, &attr, argv + 2, environ) != 0) {
    perror("bench_mapwait");
    return 2;
  }
  long long mapped = -1;
  while (mapped < 0) {
    if (XPending(dpy) == 0) {
      struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0 || waitpid(pid, NULL, WNOHANG) == pid) break;
      continue;
    }
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type == MapNotify && ev.xmap.event == root && !ev.xmap.override_redirect &&
        window_pid(dpy, ev.xmap.window) == pid) {
      mapped = now_ns() - start;
    }
  }
  long rss = 0, group = 0;
  if (mapped >= 0) {
    usleep((useconds_t)settle_ms * 1000);
    rss = rss_kib(pid);
    group = group_pss_kib(pid);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, NULL, 0);
  if (mapped < 0) {
    fprintf(stderr, "bench_mapwait: %s mapped no window\n", argv[2]);
    return 1;
  }
  printf("%lld %ld %ld\n", mapped, rss, group);
  return 0;
}
