// A stand-in host for the plug-in: loads the library, starts it, feeds it
// frames and lets its own timer repaint the window, then stops it, starts it
// once more and unloads it. It marks each phase on stderr ("mark:<phase>"),
// in line with Wine's GDI+ trace, so that check_paint_trace.py can tell what
// each paint should show.
//     dll_paint_host.exe timer <path of skarvel_external_dll.dll>
// Broadcasts its motion datagrams: run it inside a private network namespace.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/interface/plugin_interface.h>

#include "tools/common/win32/plugin_library.h"

namespace {

void mark(const char* phase)
{
    std::fprintf(stderr, "mark:%s\n", phase);
    std::fflush(stderr);
}

// One message of a stream: its header with Size, then exactly Size - 64
// value bytes.
template <std::size_t N>
void append(std::vector<std::uint8_t>& stream, const char (&name)[N], tm_msg_data_type type,
            const std::vector<double>& values)
{
    tm_external_message m(tm_msg_id(name), type, tm_msg_flags(0));
    m.Header.Size = static_cast<std::uint16_t>(64 + 8 * values.size());
    std::memcpy(m.Data, values.data(), 8 * values.size());  // little-endian host
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&m);
    stream.insert(stream.end(), bytes, bytes + m.Header.Size);
}

struct plugin {
    plugin_interface::init_function* init;
    plugin_interface::update_function* update;
    plugin_interface::shutdown_function* shutdown;

    void frame(double time_step, const std::vector<std::uint8_t>& stream, std::uint32_t count) const
    {
        std::int32_t out1 = -1;
        std::int32_t out2 = -1;
        update(time_step, stream.data(), 0, count, nullptr, &out1, &out2);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "timer") != 0) {
        std::printf("usage: dll_paint_host timer <dll>\n");
        return 2;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);  // the host's duty, before the first Update
    tools::plugin_library library;
    std::string error;
    if (!library.load(argv[2], error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    const plugin_interface::entry_points& entry = library.entry_points();
    const plugin p{entry.init, entry.update, entry.shutdown};

    std::vector<std::uint8_t> first;
    append(first, "Simulation.Time", tm_msg_data_type::Double, {12.5});
    append(first, "Aircraft.Velocity", tm_msg_data_type::Vector3d, {1.0, 2.0, 3.0});
    append(first, "Aircraft.AngularVelocity", tm_msg_data_type::Vector3d, {-0.5, 0.25, 0.125});
    std::vector<std::uint8_t> second;
    append(second, "Simulation.Time", tm_msg_data_type::Double, {13.0});
    append(second, "Aircraft.Altitude", tm_msg_data_type::Double, {1500.0});
    std::vector<std::uint8_t> third;
    append(third, "Aircraft.Gear", tm_msg_data_type::Double, {1.0});

    mark("started");
    p.init(nullptr);
    Sleep(300);
    mark("first");
    p.frame(0.02, first, 3);
    Sleep(2500);  // about five timer paints of the first frame
    mark("second");
    p.frame(0.04, second, 2);
    p.frame(0.08, second, 0);  // an empty frame hands nothing off
    Sleep(1300);
    mark("stopping");
    p.shutdown();
    mark("restarted");
    p.init(nullptr);
    Sleep(1300);  // the kept frame, with the counter going on
    mark("third");
    p.frame(0.01, third, 1);
    Sleep(1300);
    mark("stopping");
    p.shutdown();
    library.unload();
    WSACleanup();
    std::printf("paints done\n");
    return 0;
}
