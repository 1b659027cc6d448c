#include "platform/gdi.h"

#include <atomic>

namespace gdi {

namespace {

std::atomic<DWORD> versionOverride{0};

}  // namespace

DWORD OsMajorVersion()
{
    if (const DWORD forced = versionOverride.load())
        return forced;
    // The version of the GDI this layer stands in for, not the kernel's: its enumeration reports
    // every character set of a style on any host, so the version must not depend on the host.
    return kGdiMajorVersion;
}

void SetOsMajorVersionOverride(DWORD major) { versionOverride.store(major); }

}  // namespace gdi
