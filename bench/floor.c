/* The least a run on the common road needs, in plain C: find its own folder;
   read the setup record (the first record of Orvistane.txt, 26 cells each,
   whose cell 0 is ZELVAN once trimmed of spaces and upper-cased) for the
   product and the feature; test that FeatDlods.txt is there; walk /proc for
   a running download program, as FirstLoad does (each process's exe link,
   skipping processes without one, then its comm and the first argument of
   its cmdline, three names compared with the program's, and the first later
   argument that is no option, a script's name when it names a file); and,
   none running, start it detached (one posix_spawn, a new session, default
   signals, /dev/null on 0-2, nothing else open) with the product and the
   feature. It never waits for the program.

   Built with FLOOR_FETCH, it is the floor of a first run: with no
   FeatDlods.txt it asks libproxy for the proxy of the page's address,
   fetches the page from FLOOR_HOST with libcurl, finds the field txtvalue of
   the form Form1 with gumbo's HTML parser, splits the list into rows of
   cells, writes them as records in Windows-1252 to FeatDlods_temp.txt,
   flushes it, renames it over FeatDlods.txt and flushes the folder; then
   goes on as above. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef FLOOR_FETCH
#include <curl/curl.h>
#include <gumbo.h>
#include <proxy.h>
#endif

extern char** environ;

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
static void read_setup(const char* path, char* product, char* feature, char* raw,
                       size_t* raw_len, int* ostra) {
  *product = *feature = '\0';
  *raw_len = 0;
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
      *raw_len = count_at(rec + cell[2]);
      memcpy(raw, rec + cell[2] + 2, *raw_len);
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
    if (found) break;

    /* The script an interpreter runs: its first later argument that is no
       option, when that names a file. */
    size_t at = strnlen(buf, got) + 1;
    while (at < got && buf[at] == '-') at += strnlen(buf + at, got - at) + 1;
    if (at >= got) continue;
    const char* script = buf + at;
    size_t script_len = strnlen(script, got - at);
    const char* script_name = base_name(script, &script_len);
    if (name_is(script_name, script_len, program)) {
      char path[4096 + 300];
      struct stat st;
      if (script[0] == '/') {
        snprintf(path, sizeof path, "%s", script);
      } else {
        snprintf(path, sizeof path, "%s/cwd/%s", e->d_name, script);
      }
      found = fstatat(dirfd(proc), path, &st, 0) == 0 && S_ISREG(st.st_mode);
    }
  }
  closedir(proc);
  return found;
}

#ifdef FLOOR_FETCH

/* ---- The first run's fetch and store ---- */

struct body {
  char* data;
  size_t len;
};

static size_t on_data(char* data, size_t size, size_t count, void* user) {
  struct body* b = user;
  char* grown = realloc(b->data, b->len + size * count + 1);
  if (grown == NULL) return 0;
  memcpy(grown + b->len, data, size * count);
  b->data = grown;
  b->len += size * count;
  b->data[b->len] = '\0';
  return size * count;
}

/* A value in the query: each Windows-1252 byte as three digits, reversed. */
static char* append_digits(char* out, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    *out++ = (char)('0' + p[i] % 10);
    *out++ = (char)('0' + p[i] / 10 % 10);
    *out++ = (char)('0' + p[i] / 100);
  }
  return out;
}

/* The first proxy the desktop's settings name, "" for none. */
static char* desktop_proxy(const char* url) {
  char* proxy = strdup("");
  pxProxyFactory* factory = px_proxy_factory_new();
  if (factory == NULL) return proxy;
  char** proxies = px_proxy_factory_get_proxies(factory, url);
  if (proxies != NULL && proxies[0] != NULL && strcmp(proxies[0], "direct://") != 0) {
    free(proxy);
    proxy = strdup(proxies[0]);
  }
  /* The process ends soon: nothing is freed or unloaded. */
  return proxy;
}

/* The first element tag called name in tree order below node. The
   tree stands as deep as the parser's depth bound, so this may recurse. */
static GumboNode* find_named(GumboNode* node, GumboTag tag, const char* name) {
  const GumboVector* children = node->type == GUMBO_NODE_DOCUMENT  ? &node->v.document.children
                                : node->type == GUMBO_NODE_ELEMENT ? &node->v.element.children
                                                                   : NULL;
  if (children == NULL) return NULL;
  for (unsigned i = 0; i < children->length; ++i) {
    GumboNode* child = children->data[i];
    if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == tag) {
      GumboAttribute* n = gumbo_get_attribute(&child->v.element.attributes, "name");
      if (n != NULL && strcmp(n->value, name) == 0) return child;
    }
    GumboNode* inner = find_named(child, tag, name);
    if (inner != NULL) return inner;
  }
  return NULL;
}

/* UTF-8 to Windows-1252, "?" for what it cannot spell. */
static unsigned char to_1252(const unsigned char** p, const unsigned char* end) {
  unsigned c = *(*p)++;
  if (c >= 0x80) {
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    c &= 0x3F >> more;
    while (more-- > 0 && *p < end) c = c << 6 | (*(*p)++ & 0x3F);
  }
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return (unsigned char)c;
  for (int i = 0; i < 32; ++i) {
    if (k1252From80[i] == c) return (unsigned char)(0x80 + i);
  }
  return '?';
}

struct out {
  unsigned char* data;
  size_t len, cell, cells;
};

static void put(struct out* o, unsigned char c) {
  o->data[o->len++] = c;
}

static void end_cell(struct out* o) {
  size_t n = o->len - o->cell - 2;
  /* "?" alone stands for an empty cell. */
  if (n == 1 && o->data[o->cell + 2] == '?') o->len = o->cell + 2, n = 0;
  o->data[o->cell] = (unsigned char)n;
  o->data[o->cell + 1] = (unsigned char)(n >> 8);
  ++o->cells;
  o->cell = o->len;
  o->len += 2;
}

static void end_row(struct out* o) {
  end_cell(o);
  while (o->cells < kCells) end_cell(o);
  o->len -= 2;
  o->cell = o->len;
  o->len += 2;
  o->cells = 0;
}

/* The list's groups (">"), rows ("#") and cells ("/") as 26-cell records; a
   separator doubled is the character itself. Groups are parted by an empty
   row, and one ends the list, as the grid holds them. */
static size_t records(const char* list, unsigned char* data) {
  struct out o = {data, 2, 0, 0};
  const unsigned char* p = (const unsigned char*)list;
  const unsigned char* end = p + strlen(list);
  while (p < end) {
    unsigned char c = *p;
    if ((c == '>' || c == '#' || c == '/') && p + 1 < end && p[1] == c) {
      put(&o, c);
      p += 2;
    } else if (c == '/') {
      end_cell(&o);
      ++p;
    } else if (c == '#') {
      end_row(&o);
      ++p;
    } else if (c == '>') {
      end_row(&o);
      end_row(&o);
      ++p;
    } else {
      put(&o, to_1252(&p, end));
    }
  }
  end_row(&o);
  end_row(&o);
  return o.len - 2;
}

static int store(const char* folder, const char* list) {
  char temp[4096 + 64], target[4096 + 64];
  snprintf(temp, sizeof temp, "%s/FeatDlods_temp.txt", folder);
  snprintf(target, sizeof target, "%s/FeatDlods.txt", folder);
  /* Each character makes at most one byte, each separator at most a record. */
  unsigned char* data = malloc((strlen(list) + 2) * (2 * kCells + 1) + 64);
  if (data == NULL) return 0;
  size_t n = records(list, data);
  int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int ok = fd >= 0 && write(fd, data, n) == (ssize_t)n && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  free(data);
  ok = ok && rename(temp, target) == 0;
  int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = ok && dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return ok;
}

static int fetch_and_store(const char* folder, const char* feature_1252, size_t feature_len,
                           int ostra) {
  static char url[64 + sizeof FLOOR_HOST + 3 * 2 * 65535];
  char* at = url + sprintf(url, "http://%s/Features.aspx?&APPCODE=", FLOOR_HOST);
  const char* code = ostra ? "VKP" : "QUEND";
  at = append_digits(at, (const unsigned char*)code, strlen(code));
  at += sprintf(at, "&FeatureName=");
  *append_digits(at, (const unsigned char*)feature_1252, feature_len) = '\0';

  fputs("Connecting to Zelvan's website. Please Wait......\n", stderr);
  char* proxy = desktop_proxy(url);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* curl = curl_easy_init();
  struct curl_slist* headers = curl_slist_append(NULL, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");
  struct body page = {NULL, 0};
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page);
  CURLcode rc = curl_easy_perform(curl);
  int ok = 0;
  if (rc == CURLE_OK && page.data != NULL) {
    /* The page is ASCII, which the parser reads as it is. */
    GumboOutput* doc = gumbo_parse_with_options(&kGumboDefaultOptions, page.data, page.len);
    GumboNode* form = find_named(doc->document, GUMBO_TAG_FORM, "Form1");
    GumboNode* field = form ? find_named(form, GUMBO_TAG_INPUT, "txtvalue") : NULL;
    GumboAttribute* value =
        field ? gumbo_get_attribute(&field->v.element.attributes, "value") : NULL;
    ok = value != NULL && value->value[0] != '\0' && store(folder, value->value);
  }
  return ok;
}

#endif

int main(void) {
  char folder[4096];
  ssize_t n = readlink("/proc/self/exe", folder, sizeof folder - 1);
  if (n <= 0) return 2;
  folder[n] = '\0';
  char* slash = strrchr(folder, '/');
  if (slash == NULL) return 2;
  *slash = '\0';

  char setup[4096 + 64], list[4096 + 64];
  static char product[16], feature[3 * 65535 + 1], raw[65536];
  size_t raw_len;
  int ostra;
  snprintf(setup, sizeof setup, "%s/Orvistane.txt", folder);
  read_setup(setup, product, feature, raw, &raw_len, &ostra);
  const char* program_name = ostra ? "VKPDownload.exe" : "OtherDownload.exe";

  snprintf(list, sizeof list, "%s/FeatDlods.txt", folder);
#ifdef FLOOR_FETCH
  if (access(list, F_OK) != 0 && !fetch_and_store(folder, raw, raw_len, ostra)) return 1;
#else
  if (access(list, F_OK) != 0) return 1;
#endif

  char program[4096 + 64], full_path[4096 + 64];
  snprintf(program, sizeof program, "%s/Update/%s", folder, program_name);
  snprintf(full_path, sizeof full_path, "%s/update/%s", folder, program_name);
  if (running(program_name, full_path)) return 0;

  static char parameters[sizeof feature + 32];
  snprintf(parameters, sizeof parameters, "%s*#OTHERFILE#%s", ostra ? "VKP" : product, feature);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
  posix_spawn_file_actions_adddup2(&actions, 0, 1);
  posix_spawn_file_actions_adddup2(&actions, 0, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  char* argv[] = {program, parameters[0] != '\0' ? parameters : NULL, NULL};
  pid_t child;
  return posix_spawn(&child, program, &actions, &attr, argv, environ) == 0 ? 0 : 2;
}
