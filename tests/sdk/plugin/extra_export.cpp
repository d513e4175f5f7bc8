// The four entry points, and one more function exported beside them: by its
// name, or (built with -DBY_ORDINAL_ALONE and ordinal_export.def) by ordinal
// alone.
#include <cstdint>

#ifdef BY_ORDINAL_ALONE
#define EXPORTED
#else
#define EXPORTED __declspec(dllexport)
#endif

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
void Skarvel_External_DLL_Shutdown() noexcept {}
EXPORTED int debug_counter() noexcept
{
    return 1;
}
}
