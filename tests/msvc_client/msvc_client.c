/* A host program as an MSVC toolchain would build it: compiled for the
 * *-pc-windows-msvc target, linked by lld-link against Qorinhid.lib, with no C
 * run-time at all. It finds Wine's virtual mouse through the library and says
 * "found"; any other outcome exits non-zero. */
#include <qorinhid.h>

static void say(const char *text) {
    DWORD written = 0;
    DWORD length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
}

/* The entry point named on the linker's command line; with no CRT there is no
 * main and no exit code handling but ExitProcess. */
void __stdcall msvc_client_start(void) {
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
    /* Product id first, vendor id second. */
    if (!Qorin_UsbFindHIDDev(NULL, &read, &write, 0x0001, 0x845e)) {
        say("no such device\r\n");
        ExitProcess(1);
    }
    CloseHandle(read);
    CloseHandle(write);
    say("found\r\n");
    ExitProcess(0);
}
