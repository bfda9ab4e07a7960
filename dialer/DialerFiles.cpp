#include "DialerFiles.h"

namespace {
// Only the user-interface thread uses the dialer's files, so a plain pointer does.
DialerFiles* g_files = nullptr;
} // namespace

DialerFiles& Files() {
    return g_files != nullptr ? *g_files : SystemFiles();
}

void UseFiles(DialerFiles* files) {
    g_files = files;
}
