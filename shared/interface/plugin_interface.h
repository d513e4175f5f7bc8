// The plug-in interface: what a host finds in a plug-in DLL. Four functions
// exported under these exact, undecorated names (x64 has one calling
// convention), their types, and the interface version that the first one
// answers. The plug-in's definitions are checked against these types when it
// is built; the host simulator and the validator call the exports through
// pointers of these types.
//
// A host loads the library, may ask for the version at any time, calls Init
// once, Update once per simulation frame, Shutdown once, and only then
// unloads the library; it calls one entry point at a time, from one thread,
// and starts Windows Sockets before the first Update.
#pragma once

#include <cstdint>
#include <type_traits>

namespace plugin_interface {

// The version this interface has. The export returns it as a 64-bit value,
// which a host that reads only 32 bits (the low half of the result register)
// still reads as 2; hosts here read all 64.
inline constexpr std::int64_t version = 2;

using get_interface_version_function = std::int64_t();
// The argument is the host's; a plug-in need not read it (it may be null).
// False means the plug-in could not start.
using init_function = bool(void* host_data);
// One simulation frame: its time step, the stream of `message_count`
// messages, and two outputs that the plug-in sets. `host_value` and
// `host_data` are the host's; a plug-in need not read them.
using update_function = void(double time_step, const std::uint8_t* stream, std::int32_t host_value,
                             std::uint32_t message_count, void* host_data, std::int32_t* output1,
                             std::int32_t* output2);
using shutdown_function = void();

inline constexpr char get_interface_version_name[] = "Skarvel_External_DLL_GetInterfaceVersion";
inline constexpr char init_name[] = "Skarvel_External_DLL_Init";
inline constexpr char update_name[] = "Skarvel_External_DLL_Update";
inline constexpr char shutdown_name[] = "Skarvel_External_DLL_Shutdown";

// The four entry points of one loaded plug-in.
struct entry_points {
    get_interface_version_function* get_interface_version = nullptr;
    init_function* init = nullptr;
    update_function* update = nullptr;
    shutdown_function* shutdown = nullptr;
};

// Finds the four exports with `find(name)`, which gives the export's address
// as a generic function pointer `void (*)()` (GetProcAddress's result, cast)
// or null, and stores each as its entry point type. True when all four were
// found.
template <class Find>
bool resolve_entry_points(Find&& find, entry_points& points)
{
    bool complete = true;
    const auto resolve = [&](const char* name, auto*& function) {
        using pointer = std::remove_reference_t<decltype(function)>;
        function = reinterpret_cast<pointer>(find(name));
        complete = complete && function != nullptr;
    };
    resolve(get_interface_version_name, points.get_interface_version);
    resolve(init_name, points.init);
    resolve(update_name, points.update);
    resolve(shutdown_name, points.shutdown);
    return complete;
}

// True when a function `Defined` can stand for an entry point of type
// `Declared`: the same result and arguments, `noexcept` or not.
template <class Defined, class Declared>
inline constexpr bool defines_entry_point = std::is_convertible_v<Defined*, Declared*>;

}  // namespace plugin_interface

// Where a plug-in defines its four entry points, after them, at namespace
// scope:
//     SKARVEL_CHECK_ENTRY_POINTS();
// stops the build, naming the entry point, unless each has the type above (the
// same result and arguments; noexcept or not). A host calls them through
// pointers of those types: a definition of another type would be called
// wrongly, with no error from the compiler or the linker.
#define SKARVEL_CHECK_ENTRY_POINTS()                                                                           \
    static_assert(::plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_GetInterfaceVersion),  \
                                                          ::plugin_interface::get_interface_version_function>, \
                  "Skarvel_External_DLL_GetInterfaceVersion does not have the interface's type");              \
    static_assert(::plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Init),                 \
                                                          ::plugin_interface::init_function>,                  \
                  "Skarvel_External_DLL_Init does not have the interface's type");                             \
    static_assert(::plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Update),               \
                                                          ::plugin_interface::update_function>,                \
                  "Skarvel_External_DLL_Update does not have the interface's type");                           \
    static_assert(::plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Shutdown),             \
                                                          ::plugin_interface::shutdown_function>,              \
                  "Skarvel_External_DLL_Shutdown does not have the interface's type")
