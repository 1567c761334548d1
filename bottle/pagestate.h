// What the page buffer keeps beside the public record: whether a transfer
// has failed, and whether failures are printed.  For the bottle library and
// the programs of this project; not installed.
#pragma once

#include <cstdint>

#include "buf.h"

namespace zulu::pages {

// The errno of the first transfer of this buffer that failed (a positioning,
// a write-back or a load), or 0 while none has.
int first_error(const pagebuf *pb);

// The failed transfers of this buffer so far, and the errno of the latest
// (0 while none has failed): a caller that notes the count before an
// operation learns whether the operation met a failure.
unsigned failure_count(const pagebuf *pb);
int latest_error(const pagebuf *pb);

// Copies n file bytes from position start to dst as getb does, and
// returns the position where the bytes the file gave end: the bytes from
// max(start, 0) up to it came from the file (or were written through the
// buffer), and any after it are zeros past the end of the file, as a page
// read short leaves them.  A failed read counts as bytes given: its zeros
// stand for the page, and the failure is recorded.
std::int64_t get(pagebuf *pb, int start, int n, void *dst);

// Records a failed transfer made on the buffer's descriptor by its owner.
void note_error(pagebuf *pb, int error);

// Quiet: failures are recorded but print nothing (no perror, no trace line).
void set_quiet(pagebuf *pb, bool quiet);
bool quiet(const pagebuf *pb);

// Closes the buffer as closeb does (a dirty page is written back, the
// record freed) and returns first_error as it stood at the end.
int close(pagebuf *pb);

// Writes the held page back when it is dirty and marks it clean.  False when
// the write-back failed (the page then stays dirty).
bool write_back(pagebuf *pb);

}  // namespace zulu::pages
