// A program of another project, built on the SDK's targets alone. Succeeds
// when the catalogue names a message made with the message model, and a
// background worker hands it back.
#include <cstdio>
#include <cstring>

#include <skarvel/catalogue/message_name_list.h>
#include <skarvel/shared/background/background_worker.h>
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
    double handed_back = 0.0;
    background_worker<tm_external_message> worker;
    if (!worker.start([&](tm_external_message& message) { handed_back = message.GetDouble(); }) ||
        !worker.post([](tm_external_message& message) {
            message = tm_external_message(tm_msg_id("Aircraft.Altitude"), tm_msg_data_type::Double, tm_msg_flags{});
            tm_byte_order::store_f64_le(message.Data, 35.0);
        })) {
        std::fprintf(stderr, "the background worker did not start, or took no message\n");
        return 1;
    }
    worker.stop();
    if (handed_back != 35.0) {
        std::fprintf(stderr, "the background worker handed back %g, not 35\n", handed_back);
        return 1;
    }
    return 0;
}
