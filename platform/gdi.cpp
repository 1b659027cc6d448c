#include "platform/gdi.h"

#include <sys/utsname.h>

#include <atomic>
#include <cctype>

namespace gdi {

namespace {

std::atomic<DWORD> versionOverride{0};

}  // namespace

DWORD OsMajorVersion()
{
    if (const DWORD forced = versionOverride.load())
        return forced;
    // The kernel release ("6.1.0-18-amd64") leads with its major version.
    struct utsname name;
    if (uname(&name) != 0)
        return 4;  // unknown: take the current enumeration path
    DWORD major = 0;
    const char* p = name.release;
    for (; std::isdigit(static_cast<unsigned char>(*p)) && major < 100000; ++p)
        major = major * 10 + static_cast<DWORD>(*p - '0');
    return p == name.release ? 4 : major;
}

void SetOsMajorVersionOverride(DWORD major) { versionOverride.store(major); }

}  // namespace gdi
