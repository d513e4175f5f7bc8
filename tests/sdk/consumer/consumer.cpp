// A program of another project, built on the SDK's targets alone. Succeeds
// when the catalogue names a message made with the message model.
#include <cstdio>
#include <cstring>

#include <skarvel/catalogue/message_name_list.h>
#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_stream.h>
#include <skarvel/shared/interface/plugin_interface.h>

static_assert(__cplusplus >= 201703L, "the SDK's targets make the projects that use them C++17");
// The include root holds the SDK's headers, and only under their prefix.
#if __has_include(<shared/input/tm_external_message.h>) || __has_include(<display/handoff_state.h>) || \
    __has_include(<tools/common/flight_scenario.h>) || __has_include(<plugin/frame_update.h>)
#error "a header outside the SDK, or an SDK header without its prefix, is reachable"
#endif

int main()
{
    const tm_external_message altitude(tm_msg_id("Aircraft.Altitude"), tm_msg_data_type::Double, tm_msg_flags{});
    const tm_fixed_string name = get_message_name(altitude);
    if (std::strcmp(name.GetCString(), "Aircraft.Altitude") != 0 || plugin_interface::version != 2) {
        std::fprintf(stderr, "the catalogue named the message \"%s\"\n", name.GetCString());
        return 1;
    }
    return 0;
}
