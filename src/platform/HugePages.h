#pragma once
// Huge pages for the allocator's large blocks.
//
// Memory that malloc maps is faulted in one 4 KiB page at a time unless the kernel is asked for
// huge pages. Where page faults are costly (virtual machines) that is a large part of a job: the
// key stretching alone fills 64 MiB twice, and a job's buffers are hundreds of MiB. glibc asks
// for huge pages only when the tunable glibc.malloc.hugetlb is set as the program starts, so the
// program starts itself again with it.

namespace lv {

// When GLIBC_TUNABLES does not set glibc.malloc.hugetlb, starts this program again with the same
// arguments and glibc.malloc.hugetlb=1 added to it; never returns then. Returns at once when the
// tunable is set (by the user, whose choice holds, or by the start before), and when the
// program can't be started again (it then runs on as it is). Call it first thing in main.
void restartWithHugePages(char** argv);

} // namespace lv
