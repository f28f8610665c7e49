#include "device_names.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceNames, DevicesNamespacesAndWildcards)
{
    // "\x95\x5C" is 表: its trail byte is no separator, so "表com1" is one component.
    const struct { const char* path; bool device, space, wildcard; } table[] = {
        {"COM1.jpg", true, false, false}, {"aux.png", true, false, false}, {"C:\\d\\con.bmp", true, false, false},
        {"NUL", true, false, false}, {"lpt1.gif", true, false, false}, {"Com9.tar.gz", true, false, false},
        {"LPT0.x", true, false, false}, {"conin$.png", true, false, false}, {"CONOUT$", true, false, false},
        {"nul .png", true, false, false}, {"prn...", true, false, false}, {"aux  ", true, false, false},
        {"c:nul.png", true, false, false}, {"d/x/COM1:stream", true, false, false}, {"a\\" "\x95\x5C" "\\nul", true, false, false},
        {"COM10.jpg", false, false, false}, {"COMA.jpg", false, false, false}, {"console.png", false, false, false},
        {"nul\\a.png", false, false, false}, {"xnul.png", false, false, false}, {"\x95\x5C" "com1.jpg", false, false, false},
        {"CO.jpg", false, false, false}, {"", false, false, false}, {"a b.png", false, false, false},
        {"\\\\.\\COM1", true, true, false}, {"\\\\.\\PhysicalDrive0", false, true, false}, {"//./pipe/x.png", false, true, false},
        {"\\\\?\\C:\\a.png", false, true, true}, {"\\??\\C:\\a.png", false, true, true}, {"\\\\server\\share\\a.png", false, false, false},
        {"\\\\.", false, false, false}, {"p0?.png", false, false, true}, {"Z:\\dir\\*.png", false, false, true},
    };
    for (const auto& row : table) {
        EXPECT_EQ(NamesDosDevice(row.path), row.device) << row.path;
        EXPECT_EQ(InDeviceNamespace(row.path), row.space) << row.path;
        EXPECT_EQ(HasWildcard(row.path), row.wildcard) << row.path;
    }
}

} // namespace
