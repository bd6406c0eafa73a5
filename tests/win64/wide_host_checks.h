// SPDX-License-Identifier: MIT
// The checks of the 64-bit host interface that only a real 64-bit Windows host can make: every
// pointer, handle and user value above 4 GiB, pointer-sized lengths, the 30-byte record,
// progress and cancelling, and failures that hand nothing over and leave nothing held. Run by
// host_tests.exe in its 64-bit build, for both DLLs; answers the number of failed checks.
#pragma once

int runWideHostChecks();
