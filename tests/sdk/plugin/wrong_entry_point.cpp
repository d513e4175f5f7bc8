// A plug-in whose Update takes its message count as a signed number: the
// interface header's check must stop the build, naming Update.
#include <cstdint>

#include <skarvel/shared/interface/plugin_interface.h>

extern "C" {
std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return plugin_interface::version;
}
bool Skarvel_External_DLL_Init(void*) noexcept
{
    return true;
}
void Skarvel_External_DLL_Update(double, const std::uint8_t*, std::int32_t, std::int32_t, void*, std::int32_t* output1,
                                 std::int32_t* output2) noexcept
{
    *output1 = 0;
    *output2 = 0;
}
void Skarvel_External_DLL_Shutdown() noexcept {}
}

SKARVEL_CHECK_ENTRY_POINTS();
