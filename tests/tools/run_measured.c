/* Test-only program: runs a program and tells its wall time and peak memory.
 *
 *   zrt_run_measured RESULT_FILE PROGRAM [ARGUMENTS...]
 *
 * Writes "WALL_NS PEAK_KIB EXIT_CODE CPU_NS" into RESULT_FILE; the CPU time
 * (user and system) and the peak count the program and every child it
 * waited for. A process's peak
 * memory counts the memory of the process that started it, up to the moment
 * it starts a program, so scripts/benchmark.py measures through this small
 * starter rather than from Python.
 */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: zrt_run_measured RESULT_FILE PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  FILE* result = fopen(argv[1], "w");
  if (result == NULL) {
    perror(argv[1]);
    return 2;
  }
  const long long start = Now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    perror("zrt_run_measured");
    return 2;
  }
  const long long wall = Now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const long long cpu = ((long long)usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000000LL +
                        ((long long)usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1000LL;
  fprintf(result, "%lld %ld %d %lld\n", wall, usage.ru_maxrss, code, cpu);
  return fclose(result) == 0 ? 0 : 2;
}
