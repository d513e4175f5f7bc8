// A plug-in that writes shutdown.txt into its working folder at each
// Shutdown, for the host's --scratch. It sends nothing.
#include <cstdint>
#include <cstdio>

extern "C" {

std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return 2;
}

bool Skarvel_External_DLL_Init(void*) noexcept
{
    return true;
}

void Skarvel_External_DLL_Update(double, const std::uint8_t*, std::int32_t, std::uint32_t, void*, std::int32_t* output1,
                                 std::int32_t* output2) noexcept
{
    *output1 = 0;
    *output2 = 0;
}

void Skarvel_External_DLL_Shutdown() noexcept
{
    if (std::FILE* file = std::fopen("shutdown.txt", "w")) {
        std::fputs("written by the plug-in\n", file);
        std::fclose(file);
    }
}

}  // extern "C"
