/* Test-only program: the floor of one activity-log line, that is the file
 * calls a line needs and nothing else, timed from inside.
 *
 *   zrt_floor_log_lines FOLDER LINES LENGTH
 *
 * Appends LINES lines of LENGTH bytes (the line end included) to
 * FOLDER/floor.Log. Each line probes the folder, opens the file to append
 * (creating it when missing), writes the line once and closes the file.
 * Prints the nanoseconds the loop took. scripts/benchmark.py sets the
 * program's time per log line beside it.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>

static long long Now(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return (long long)((double)count.QuadPart * 1e9 / (double)frequency.QuadPart);
}

static int AppendLine(const char* folder, const char* path, const char* line, size_t size) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(folder, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  HANDLE file =
      CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, line, (DWORD)size, &written, NULL) && written == size;
  CloseHandle(file);
  return ok;
}
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static long long Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int AppendLine(const char* folder, const char* path, const char* line, size_t size) {
  struct stat status;
  if (stat(folder, &status) != 0) return 0;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return 0;
  const int ok = write(fd, line, size) == (ssize_t)size;
  close(fd);
  return ok;
}
#endif

int main(int argc, char** argv) {
  if (argc != 4 || atol(argv[2]) < 0 || atol(argv[3]) < 2 || strlen(argv[1]) > 900) {
    fprintf(stderr, "usage: zrt_floor_log_lines FOLDER LINES LENGTH\n");
    return 2;
  }
  const char* folder = argv[1];
  const long lines = atol(argv[2]);
  const size_t size = (size_t)atol(argv[3]);
  char path[1024];
#ifdef _WIN32
  snprintf(path, sizeof path, "%s\\floor.Log", folder);
#else
  snprintf(path, sizeof path, "%s/floor.Log", folder);
#endif
  char* line = malloc(size);
  if (line == NULL) return 2;
  memset(line, 'x', size);
  line[size - 2] = '\r';
  line[size - 1] = '\n';

  const long long start = Now();
  for (long i = 0; i < lines; ++i) {
    if (!AppendLine(folder, path, line, size)) {
      fprintf(stderr, "zrt_floor_log_lines: line %ld could not be written\n", i);
      return 1;
    }
  }
  printf("%lld\n", Now() - start);
  free(line);
  return 0;
}
