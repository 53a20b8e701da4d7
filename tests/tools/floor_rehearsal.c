/* Test-only program: the floor of one rehearsal, that is the work any
 * rehearsal of a job on a copy of a machine folder must do and nothing else.
 *
 *   zrt_floor_rehearsal MACHINE SCRATCH LINES LENGTH [LOGDIR]
 *
 * Forks a child that copies the folder MACHINE (files and folders) into
 * SCRATCH/copy, appends LINES lines of LENGTH bytes to a log file inside the
 * copy (in the folder LOGDIR of the copy, made first, where the program
 * logs; else at its top) as the program writes its log (each line: probe the folder, open to
 * append, write once, close), reads the log back and removes the copy; the
 * parent waits for it. scripts/fleet_benchmark.py runs it through
 * zrt_run_measured, beside a rehearsal of the same machine with a job that
 * logs as many lines.
 */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static char g_from[1024], g_to[1024];

static int CopyFile(const char* from, const char* to) {
  const int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  const int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  char buffer[65536];
  ssize_t count = 0;
  int ok = out >= 0;
  while (ok && (count = read(in, buffer, sizeof buffer)) > 0)
    ok = write(out, buffer, count) == count;
  close(in);
  if (out >= 0) close(out);
  return ok && count == 0 ? 0 : -1;
}

static int CopyOne(const char* path, const struct stat* status, int type, struct FTW* at) {
  (void)status;
  (void)at;
  char target[2048];
  snprintf(target, sizeof target, "%s%s", g_to, path + strlen(g_from));
  if (type == FTW_D) return mkdir(target, 0777) == 0 ? 0 : -1;
  if (type == FTW_F) return CopyFile(path, target);
  return 0;
}

static int RemoveOne(const char* path, const struct stat* status, int type, struct FTW* at) {
  (void)status;
  (void)at;
  return type == FTW_DP ? rmdir(path) : unlink(path);
}

/* Makes every folder of `path` that is missing. */
static int MakeFolders(char* path) {
  for (char* slash = strchr(path + 1, '/'); slash != NULL; slash = strchr(slash + 1, '/')) {
    *slash = '\0';
    const int failed = mkdir(path, 0777) != 0 && access(path, F_OK) != 0;
    *slash = '/';
    if (failed) return -1;
  }
  return 0;
}

static int Rehearse(long lines, size_t size, const char* logDir) {
  if (nftw(g_from, CopyOne, 32, FTW_PHYS) != 0) return 1;
  char log[2100];
  snprintf(log, sizeof log, "%s/%s%sfloor.Log", g_to, logDir, *logDir ? "/" : "");
  if (MakeFolders(log) != 0) return 1;
  char folder[2100];
  snprintf(folder, sizeof folder, "%s", log);
  *strrchr(folder, '/') = '\0';
  char* line = malloc(size);
  if (line == NULL) return 1;
  memset(line, 'x', size);
  line[size - 2] = '\r';
  line[size - 1] = '\n';
  for (long i = 0; i < lines; ++i) {
    struct stat status;
    if (stat(folder, &status) != 0) return 1;
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, line, size) != (ssize_t)size) return 1;
    close(fd);
  }
  free(line);
  /* The rehearsal reads what the job logged. */
  const int fd = open(log, O_RDONLY | O_CLOEXEC);
  char buffer[65536];
  while (fd >= 0 && read(fd, buffer, sizeof buffer) > 0) {
  }
  if (fd >= 0) close(fd);
  return nftw(g_to, RemoveOne, 32, FTW_DEPTH | FTW_PHYS) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if ((argc != 5 && argc != 6) || atol(argv[3]) < 0 || atol(argv[4]) < 2 ||
      strlen(argv[1]) > 900 || strlen(argv[2]) > 900 || (argc == 6 && strlen(argv[5]) > 900)) {
    fprintf(stderr, "usage: zrt_floor_rehearsal MACHINE SCRATCH LINES LENGTH [LOGDIR]\n");
    return 2;
  }
  snprintf(g_from, sizeof g_from, "%s", argv[1]);
  snprintf(g_to, sizeof g_to, "%s/copy", argv[2]);
  const pid_t child = fork();
  if (child == 0) _exit(Rehearse(atol(argv[3]), (size_t)atol(argv[4]), argc == 6 ? argv[5] : ""));
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
