/* Test-only program: starts and ends, nothing else. scripts/benchmark.py
 * takes its wall time as the cost of starting a process. */
int main(void) { return 0; }
