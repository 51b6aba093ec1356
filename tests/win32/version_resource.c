/* Reads a binary's version resource back as Windows and installers read it, and checks every field
 * a release sets; a .dll must say it is a DLL. usage: version_resource FILE VERSION ORIGINAL_FILENAME */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    static const char *const names[] = {"CompanyName", "FileDescription", "ProductName", "FileVersion",
                                         "ProductVersion", "OriginalFilename"};
    DWORD unused, size = argc == 4 ? GetFileVersionInfoSizeA(argv[1], &unused) : 0;
    char *info = size ? malloc(size) : NULL, *text, key[80];
    const char *expected;
    VS_FIXEDFILEINFO *fixed;
    WORD *translation;
    UINT length;
    unsigned major, minor, patch;
    int i, failures = 0;
    if (!info || !GetFileVersionInfoA(argv[1], 0, size, info) || sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3
        || !VerQueryValueA(info, "\\", (void **)&fixed, &length) || length < sizeof *fixed
        || !VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &length) || length < 4) {
        printf("%s: no version resource with a fixed part and a translation\n", argc > 1 ? argv[1] : "(no file)");
        return 1;
    }
    if (fixed->dwSignature != VS_FFI_SIGNATURE || fixed->dwFileVersionMS != (major << 16 | minor)
        || fixed->dwFileVersionLS != patch << 16 || fixed->dwProductVersionMS != fixed->dwFileVersionMS
        || fixed->dwProductVersionLS != fixed->dwFileVersionLS
        || fixed->dwFileType != (strstr(argv[3], ".dll") ? VFT_DLL : VFT_APP)) {
        printf("%s: fixed part says version %08lx.%08lx, type %lu\n", argv[1], fixed->dwFileVersionMS,
               fixed->dwFileVersionLS, fixed->dwFileType);
        ++failures;
    }
    for (i = 0; i < 6; ++i) { /* the first three need only say something */
        length = 0;
        snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], names[i]);
        expected = i == 2 ? "KV4USBCP" : i == 5 ? argv[3] : i > 2 ? argv[2] : NULL;
        if (!VerQueryValueA(info, key, (void **)&text, &length) || length < 2 || (expected && strcmp(text, expected))) {
            printf("%s: %s is '%s', not '%s'\n", argv[1], key, length ? text : "", expected ? expected : "(any)");
            ++failures;
        }
    }
    printf("%s: version resource %s\n", argv[1], failures ? "wrong" : "good");
    return failures;
}
