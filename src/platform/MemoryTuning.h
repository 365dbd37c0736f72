#pragma once
// How the allocator gets memory from the kernel, tuned for bulk jobs.
//
// Where page faults are costly (virtual machines), they are a large part of a job: the key
// stretching alone fills 64 MiB twice, a job's buffers are hundreds of MiB, and the directory of
// an archive of 12,000 entries grows the heap in hundreds of small steps. So:
// - large blocks get transparent huge pages: glibc asks for them only when its tunable
//   glibc.malloc.hugetlb is set as the program starts, so the program starts itself again
//   with it;
// - the heap grows 16 MiB at a time (M_TOP_PAD) instead of 128 KiB.

namespace lv {

// Call it first thing in main. When GLIBC_TUNABLES does not set glibc.malloc.hugetlb, starts
// this program again with the same arguments and glibc.malloc.hugetlb=1 added to it, and never
// returns. Otherwise (set by the user, whose choice holds, or by the start before), and when the
// program can't be started again, it sets the heap's growth step and returns.
void tuneMemory(char** argv);

} // namespace lv
