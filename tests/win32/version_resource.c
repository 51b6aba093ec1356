/* Prints a binary's version resource as Windows reads it: the fixed part's file and product versions
 * (hex) and file type, then NAME=value for each string NAME asked for. usage: version_resource FILE NAME... */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    DWORD unused, size = argc > 1 ? GetFileVersionInfoSizeA(argv[1], &unused) : 0;
    VS_FIXEDFILEINFO *fixed;
    WORD *translation;
    char info[65536], key[80], *text;
    UINT length, i;
    if (!size || size > sizeof info || !GetFileVersionInfoA(argv[1], 0, size, info)
        || !VerQueryValueA(info, "\\", (void **)&fixed, &length) || fixed->dwSignature != VS_FFI_SIGNATURE
        || !VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &length) || length < 4)
        return 1;
    printf("%08lx%08lx %08lx%08lx %lu\n", fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
           fixed->dwProductVersionLS, fixed->dwFileType);
    for (i = 2; i < (UINT)argc; ++i)
        if (snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], argv[i]) < (int)sizeof key
            && VerQueryValueA(info, key, (void **)&text, &length) && length > 1)
            printf("%s=%s\n", argv[i], text);
    return 0;
}
