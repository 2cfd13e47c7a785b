/* The least a run on the common road needs, in plain C: find its own folder;
   read the setup record (the first record of Orvistane.txt, 26 cells each,
   whose cell 0 is ZELVAN once trimmed of spaces and upper-cased) for the
   product and the feature; test that FeatDlods.txt is there; walk /proc for
   a running download program, as FirstLoad does (each process's exe link,
   skipping processes without one, then its comm and the first argument of
   its cmdline, three names compared with the program's); and, none running,
   start it detached (double fork, new session) with the product and the
   feature, learning through a close-on-exec pipe whether it started. It
   never waits for the program. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kCells = 26, kChunk = 1 << 16 };

/* ---- The setup record ---- */

struct reader {
  int fd;
  unsigned char* buf;
  size_t size, pos, len;
};

/* Makes n bytes from the current place readable at buf + pos; 0 when the
   file ends first. The record being walked stays in one piece. */
static int have(struct reader* r, size_t n) {
  if (r->len - r->pos >= n) return 1;
  memmove(r->buf, r->buf + r->pos, r->len - r->pos);
  r->len -= r->pos;
  r->pos = 0;
  if (n > r->size) {
    unsigned char* bigger = realloc(r->buf, 2 * n);
    if (bigger == NULL) return 0;
    r->buf = bigger;
    r->size = 2 * n;
  }
  while (r->len < n) {
    ssize_t got = read(r->fd, r->buf + r->len, r->size - r->len);
    if (got <= 0) return 0;
    r->len += (size_t)got;
  }
  return 1;
}

static size_t count_at(const unsigned char* p) {
  return p[0] | (size_t)p[1] << 8;
}

/* A cell's bytes without the spaces at both ends. */
static void trim(const unsigned char** p, size_t* n) {
  while (*n > 0 && **p == ' ') ++*p, --*n;
  while (*n > 0 && (*p)[*n - 1] == ' ') --*n;
}

/* Compared as record keys are; the names compared here are plain ASCII, and
   no other Windows-1252 letter upper-cases to one of theirs. */
static int key_is(const unsigned char* p, size_t n, const char* key) {
  trim(&p, &n);
  return n == strlen(key) && strncasecmp((const char*)p, key, n) == 0;
}

/* Windows-1252 to UTF-8, the character set of the program's argument. */
static const unsigned short k1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

static char* append_utf8(char* out, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned c = p[i] >= 0x80 && p[i] < 0xA0 ? k1252From80[p[i] - 0x80] : p[i];
    if (c < 0x80) {
      *out++ = (char)c;
    } else if (c < 0x800) {
      *out++ = (char)(0xC0 | c >> 6);
      *out++ = (char)(0x80 | (c & 0x3F));
    } else {
      *out++ = (char)(0xE0 | c >> 12);
      *out++ = (char)(0x80 | (c >> 6 & 0x3F));
      *out++ = (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

/* Finds the ZELVAN record; fills product and feature (as UTF-8) and tells
   whether the product is Ostra-VKP. Without the record, both are empty. */
static void read_setup(const char* path, char* product, char* feature, int* ostra) {
  *product = *feature = '\0';
  *ostra = 0;
  struct reader r = {open(path, O_RDONLY | O_CLOEXEC), malloc(kChunk), kChunk, 0, 0};
  if (r.fd < 0 || r.buf == NULL) goto done;
  for (;;) {
    size_t at = 0, cell[kCells];
    for (int k = 0; k < kCells; ++k) {
      if (!have(&r, at + 2)) goto done;
      cell[k] = at;
      at += 2 + count_at(r.buf + r.pos + at);
    }
    if (!have(&r, at)) goto done;
    const unsigned char* rec = r.buf + r.pos;
    if (key_is(rec + 2, count_at(rec), "ZELVAN")) {
      const unsigned char* p = rec + cell[1] + 2;
      size_t n = count_at(rec + cell[1]);
      *ostra = key_is(p, n, "OSTRA-VKP");
      /* Any other product is served as Quend-Levy. */
      strcpy(product, *ostra ? "Ostra-VKP" : "Quend-Levy");
      *append_utf8(feature, rec + cell[2] + 2, count_at(rec + cell[2])) = '\0';
      goto done;
    }
    r.pos += at;
  }
done:
  if (r.fd >= 0) close(r.fd);
  free(r.buf);
}

/* ---- The running check ---- */

/* The name after the last separator, either kind, as FirstLoad takes it. */
static const char* base_name(const char* path, size_t* n) {
  size_t cut = *n;
  while (cut > 0 && path[cut - 1] != '/' && path[cut - 1] != '\\') --cut;
  *n -= cut;
  return path + cut;
}

static int name_is(const char* p, size_t n, const char* wanted) {
  const unsigned char* u = (const unsigned char*)p;
  trim(&u, &n);
  return n > 0 && n == strlen(wanted) && strncasecmp((const char*)u, wanted, n) == 0;
}

static size_t read_proc(int dir, const char* name, char* buf, size_t size) {
  int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  ssize_t got = read(fd, buf, size);
  close(fd);
  return got > 0 ? (size_t)got : 0;
}

static int running(const char* program, const char* full_path) {
  /* The kernel keeps the first 15 bytes of a program's name. */
  char kernel_name[16] = {0};
  memcpy(kernel_name, program, strnlen(program, 15));
  DIR* proc = opendir("/proc");
  if (proc == NULL) return 0;
  int found = 0;
  struct dirent* e;
  while (!found && (e = readdir(proc)) != NULL) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    char link[300], target[4096], buf[4096];
    snprintf(link, sizeof link, "%s/exe", e->d_name);
    ssize_t n = readlinkat(dirfd(proc), link, target, sizeof target);
    if (n < 0 && errno == ENOENT) continue;
    size_t exe_len = n > 0 ? (size_t)n : 0;
    if (exe_len > 10 && memcmp(target + exe_len - 10, " (deleted)", 10) == 0) exe_len -= 10;
    const char* exe = base_name(target, &exe_len);

    snprintf(link, sizeof link, "%s/comm", e->d_name);
    size_t got = read_proc(dirfd(proc), link, buf, sizeof buf);
    if (got > 0 && buf[got - 1] == '\n') --got;
    found = name_is(exe, exe_len, program) ||
            (exe_len == strlen(full_path) && strncasecmp(exe, full_path, exe_len) == 0) ||
            name_is(buf, got, kernel_name);
    if (found) break;

    snprintf(link, sizeof link, "%s/cmdline", e->d_name);
    got = read_proc(dirfd(proc), link, buf, sizeof buf);
    size_t arg_len = strnlen(buf, got);
    const char* arg = base_name(buf, &arg_len);
    found = name_is(arg, arg_len, program);
  }
  closedir(proc);
  return found;
}

int main(void) {
  char folder[4096];
  ssize_t n = readlink("/proc/self/exe", folder, sizeof folder - 1);
  if (n <= 0) return 2;
  folder[n] = '\0';
  char* slash = strrchr(folder, '/');
  if (slash == NULL) return 2;
  *slash = '\0';

  char setup[4096 + 64], list[4096 + 64];
  char product[16], feature[3 * 65535 + 1];
  int ostra;
  snprintf(setup, sizeof setup, "%s/Orvistane.txt", folder);
  read_setup(setup, product, feature, &ostra);
  const char* program_name = ostra ? "VKPDownload.exe" : "OtherDownload.exe";

  snprintf(list, sizeof list, "%s/FeatDlods.txt", folder);
  if (access(list, F_OK) != 0) return 1;

  char program[4096 + 64], full_path[4096 + 64];
  snprintf(program, sizeof program, "%s/Update/%s", folder, program_name);
  snprintf(full_path, sizeof full_path, "%s/update/%s", folder, program_name);
  if (running(program_name, full_path)) return 0;

  static char parameters[sizeof feature + 32];
  snprintf(parameters, sizeof parameters, "%s*#OTHERFILE#%s", ostra ? "VKP" : product, feature);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 2;
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    char* argv[] = {program, parameters[0] != '\0' ? parameters : NULL, NULL};
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
