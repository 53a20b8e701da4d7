/* Test-only program (Windows): starts a command as the job program starts
 * one (hidden, on the user's desktop, in a new console), waits for it and
 * reads its exit code, COUNT times, and prints the microseconds each took
 * as the parent sees it.
 *
 *   zrt_start_children "COMMAND LINE" COUNT
 *
 * scripts/benchmark.py sets these beside the time each command recorded of
 * itself, to learn what a started command costs its parent beyond that.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[2]) < 1 || strlen(argv[1]) >= 2048) {
    fprintf(stderr, "usage: zrt_start_children \"COMMAND LINE\" COUNT\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < atoi(argv[2]); ++i) {
    char commandLine[2048];
    strcpy(commandLine, argv[1]);
    STARTUPINFOA startup = {0};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.lpDesktop = "winsta0\\default";
    PROCESS_INFORMATION started;
    LARGE_INTEGER begun, ended;
    QueryPerformanceCounter(&begun);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, NULL,
                        &startup, &started)) {
      fprintf(stderr, "zrt_start_children: cannot start it: error %lu\n", GetLastError());
      return 1;
    }
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    QueryPerformanceCounter(&ended);
    printf("%lld\n", (ended.QuadPart - begun.QuadPart) * 1000000LL / frequency.QuadPart);
  }
  return 0;
}
