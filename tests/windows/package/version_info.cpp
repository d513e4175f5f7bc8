// Prints the version resource of a Windows binary, one "name=value" line
// each: its fixed file and product versions, its file type, and the strings
// of its first translation. Exit code 1 when it has no version resource.
// Usage: version_info FILE
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

void print_fixed_version(const char* name, DWORD most, DWORD least)
{
    std::printf("%s=%u.%u.%u.%u\n", name, unsigned{HIWORD(most)}, unsigned{LOWORD(most)}, unsigned{HIWORD(least)},
                unsigned{LOWORD(least)});
}

const char* file_type(DWORD type)
{
    if (type == VFT_DLL) return "dll";
    if (type == VFT_APP) return "app";
    return "other";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_info FILE\n");
        return 2;
    }
    const char* file = argv[1];
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &unused);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoA(file, 0, size, info.data())) {
        std::fprintf(stderr, "%s: no version resource (error %lu)\n", file, GetLastError());
        return 1;
    }

    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        std::fprintf(stderr, "%s: no fixed file information\n", file);
        return 1;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    print_fixed_version("FixedFileVersion", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    print_fixed_version("FixedProductVersion", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    std::printf("FileType=%s\n", file_type(fixed->dwFileType));

    struct translation {
        WORD language;
        WORD code_page;
    };
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length) || length < sizeof(translation)) {
        std::fprintf(stderr, "%s: no translation\n", file);
        return 1;
    }
    const auto* first = static_cast<const translation*>(value);
    for (const char* name :
         {"ProductName", "ProductVersion", "FileDescription", "FileVersion", "InternalName", "OriginalFilename"}) {
        char path[96];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", unsigned{first->language},
                      unsigned{first->code_page}, name);
        if (VerQueryValueA(info.data(), path, &value, &length) && length > 0)
            std::printf("%s=%s\n", name, static_cast<const char*>(value));
    }
    return 0;
}
