/* The least a run on the common road needs: find its own folder, test that
   FeatDlods.txt is there, and start the download program detached (double
   fork, new session), learning whether the program could be started through a
   close-on-exec pipe, as FirstLoad does; it never waits for the program. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

int main(void) {
  char folder[4096];
  ssize_t n = readlink("/proc/self/exe", folder, sizeof folder - 1);
  if (n <= 0) return 2;
  folder[n] = '\0';
  char* slash = strrchr(folder, '/');
  if (slash == NULL) return 2;
  *slash = '\0';

  char list[4096 + 64], program[4096 + 64];
  snprintf(list, sizeof list, "%s/FeatDlods.txt", folder);
  snprintf(program, sizeof program, "%s/Update/VKPDownload.exe", folder);
  if (access(list, F_OK) != 0) return 1;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 2;
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    char* argv[] = {program, "VKP*#OTHERFILE#Photo Tools", NULL};
    execv(program, argv);
    int err = 1;
    (void)!write(report[1], &err, sizeof err);
    _exit(127);
  }
  close(report[1]);
  int status;
  waitpid(child, &status, 0);
  int err;
  ssize_t got = read(report[0], &err, sizeof err);
  return got == (ssize_t)sizeof err ? 2 : 0;
}
