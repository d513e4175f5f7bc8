// The frame logic of @PLUGIN_NAME@, natively: frames made here go through the
// entry points as a host sends them. Built with assertions on, so a getter
// called on a message of another data type stops the test.
//
// Made by the plug-in SDK's template: this file is yours, free of any
// condition (MIT No Attribution): use, change and license it as you choose.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <skarvel/shared/input/tm_byte_order.h>
#include <skarvel/shared/input/tm_external_message.h>

#include "../src/@PLUGIN_NAME@.h"

namespace {

int failures = 0;

void check(bool condition, const char* what, int line)
{
    if (condition) return;
    std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, line, what);
    ++failures;
}
#define CHECK(condition) check((condition), #condition, __LINE__)

// A frame as a host sends it: the messages back to back, each its 64-byte
// header and Size - 64 value bytes.
struct frame {
    std::vector<std::uint8_t> stream;
    std::uint32_t count = 0;

    frame& add(tm_external_message message, std::uint16_t value_bytes)
    {
        message.Header.Size = static_cast<std::uint16_t>(tm_external_message::header_size + value_bytes);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&message);
        stream.insert(stream.end(), bytes, bytes + message.Header.Size);
        ++count;
        return *this;
    }
    frame& add_double(tm_msg_id id, double value)
    {
        tm_external_message message(id, tm_msg_data_type::Double, tm_msg_flags{});
        tm_byte_order::store_f64_le(message.Data, value);
        return add(message, 8);
    }
    frame& add_int(tm_msg_id id, std::int64_t value)
    {
        tm_external_message message(id, tm_msg_data_type::Int, tm_msg_flags{});
        tm_byte_order::store_u64_le(message.Data, static_cast<std::uint64_t>(value));
        return add(message, 8);
    }
    // String8: up to 64 8-bit characters, and a 0 after them when fewer.
    frame& add_string8(tm_msg_id id, const char* text)
    {
        tm_external_message message(id, tm_msg_data_type::String8, tm_msg_flags{});
        std::uint16_t length = 0;
        while (text[length] != '\0' && length < 64) {
            message.Data[length] = static_cast<std::uint8_t>(text[length]);
            ++length;
        }
        return add(message, length < 64 ? length + 1 : 64);
    }
    // String: up to 32 16-bit units (UTF-16, little-endian), and a 0 unit
    // after them when fewer.
    frame& add_string(tm_msg_id id, const char16_t* text)
    {
        tm_external_message message(id, tm_msg_data_type::String, tm_msg_flags{});
        std::uint16_t units = 0;
        while (text[units] != u'\0' && units < 32) {
            message.Data[2 * units] = static_cast<std::uint8_t>(text[units] & 0xFF);
            message.Data[2 * units + 1] = static_cast<std::uint8_t>(text[units] >> 8);
            ++units;
        }
        return add(message, static_cast<std::uint16_t>(2 * (units < 32 ? units + 1 : 32)));
    }
};

// Update with the frame; both outputs must come back 0.
void send(const frame& f)
{
    std::int32_t output1 = -1;
    std::int32_t output2 = -1;
    Skarvel_External_DLL_Update(1.0 / 60.0, f.stream.empty() ? nullptr : f.stream.data(), 0, f.count, nullptr, &output1,
                                &output2);
    CHECK(output1 == 0 && output2 == 0);
}

constexpr tm_msg_id altitude("Aircraft.Altitude");

}  // namespace

int main()
{
    CHECK(Skarvel_External_DLL_GetInterfaceVersion() == 2);

    // A run: the highest altitude of three frames, whatever else they hold.
    CHECK(Skarvel_External_DLL_Init(nullptr));
    send(frame().add_double(tm_msg_id("Simulation.Time"), 0.0).add_double(altitude, 100.0));
    send(frame().add_double(altitude, 250.5).add_int(tm_msg_id("Aircraft.OnGround"), 0));
    send(frame().add_double(altitude, 180.0));
    CHECK(current_run().frames == 3);
    CHECK(current_run().messages == 5);
    CHECK(current_run().altitude_seen);
    CHECK(current_run().highest_altitude == 250.5);

    // What a host may send, too: the name with another data type (a string
    // among them), a message without value bytes (it reads as 0.0), an empty
    // frame without a stream.
    send(frame().add_int(altitude, 9000));
    send(frame().add_string(tm_msg_id("Aircraft.Name"), u"Skarvel Trainer").add_string8(altitude, "XSKV"));
    send(frame().add(tm_external_message(altitude, tm_msg_data_type::Double, tm_msg_flags{}), 0));
    send(frame());
    CHECK(current_run().frames == 7);
    CHECK(current_run().highest_altitude == 250.5);
    Skarvel_External_DLL_Shutdown();
    CHECK(current_run().highest_altitude == 250.5);  // kept after Shutdown

    // What hosts get wrong: a second Shutdown, Update after it, a new run.
    Skarvel_External_DLL_Shutdown();
    send(frame().add_double(altitude, 50.0));
    CHECK(Skarvel_External_DLL_Init(nullptr));
    CHECK(current_run().frames == 0 && !current_run().altitude_seen);
    send(frame().add_double(altitude, -20.0));  // below sea level is an altitude too
    CHECK(current_run().highest_altitude == -20.0);
    Skarvel_External_DLL_Shutdown();

    if (failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("@PLUGIN_NAME@: every check passed\n");
    return 0;
}
