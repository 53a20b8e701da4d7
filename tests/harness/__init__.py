"""One way to drive the job program from Python: tests/harness/target.py."""
