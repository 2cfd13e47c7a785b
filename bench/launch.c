/* Runs one program once and reports how it went, for run_process_bench.py:
     bench_launch PROGRAM [ARGUMENT...]
   prints "wall_ns exit_status max_rss_kib user_us system_us own_rss_kib".
   A program's peak RSS counts the memory of the process it was started from
   until its exec, so the measuring process must be this small one, not the
   Python interpreter; own_rss_kib, this process's own peak, is the most a
   figure can owe to it. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static long long NowNs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_launch PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  long long start = NowNs();
  pid_t pid;
  if (posix_spawn(&pid, argv[1], &actions, NULL, argv + 1, environ) != 0) {
    perror("bench_launch");
    return 2;
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("bench_launch");
    return 2;
  }
  long long wall = NowNs() - start;

  /* This process's own peak since its exec; its rusage would also count the
     interpreter that started it. */
  long own = -1;
  FILE* st = fopen("/proc/self/status", "r");
  if (st != NULL) {
    char line[256];
    while (fgets(line, sizeof line, st) != NULL) {
      if (sscanf(line, "VmHWM: %ld", &own) == 1) break;
    }
    fclose(st);
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%lld %d %ld %lld %lld %ld\n", wall, code, usage.ru_maxrss,
         (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec,
         (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec, own);
  return 0;
}
