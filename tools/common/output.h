/* The end of a program's output: every program that prints ends through
 * close_stdout, so that output lost to a full disk, a closed pipe or a
 * failed device never passes for success. */
#ifndef ZULU_TOOLS_OUTPUT_H
#define ZULU_TOOLS_OUTPUT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Flushes and closes standard output.  Returns 0 when everything written
 * to it reached its file; otherwise, whether the failure happens now or
 * happened in an earlier write, prints
 *   "PROGRAM: cannot write standard output: REASON"
 * on standard error and returns 1.  A standard output that was closed
 * before the program started and was never written to is not a failure. */
int close_stdout(const char *program);

#ifdef __cplusplus
}
#endif

#endif
