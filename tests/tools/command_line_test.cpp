// Option values of the tools, and their command lines read by the one
// argument reader.
#include <gtest/gtest.h>

#include <vector>

#include "tools/common/command_line.h"
#include "tools/host/host_options.h"
#include "tools/listen/listen_options.h"
#include "tools/validate/validate_options.h"

TEST(CommandLine, UnsignedNumbersAreWholeAndInRange)
{
    EXPECT_EQ(tools::parse_unsigned("50001", 1, 65535), 50001u);
    EXPECT_EQ(tools::parse_unsigned("18446744073709551615", 0, UINT64_MAX), UINT64_MAX);
    EXPECT_FALSE(tools::parse_unsigned("18446744073709551616", 0, UINT64_MAX));
    EXPECT_FALSE(tools::parse_unsigned("65536", 1, 65535));
    EXPECT_FALSE(tools::parse_unsigned("0", 1, 65535));
    for (const char* bad : {"", "+1", "-1", "1.0", "1e3", " 1", "0x10"})
        EXPECT_FALSE(tools::parse_unsigned(bad, 0, 99)) << bad;
}

TEST(CommandLine, DecimalNumbersOnly)
{
    EXPECT_EQ(tools::parse_decimal("60", 0, 100), 60.0);
    EXPECT_EQ(tools::parse_decimal("0.5", 0, 100), 0.5);
    EXPECT_EQ(tools::parse_decimal(".25", 0, 100), 0.25);
    EXPECT_EQ(tools::parse_decimal("2e1", 0, 100), 20.0);
    EXPECT_EQ(tools::parse_decimal("1E-2", 0, 100), 0.01);
    for (const char* bad : {"", ".", "e3", "1e", "1e+", "0x10", "0X1p4", "inf", "nan", "+1", "-1", " 1", "1 ", "1,5",
                            "1.2.3", "1e400", "101", "1e-10"})
        EXPECT_FALSE(tools::parse_decimal(bad, 0.01, 100)) << bad;
}

TEST(CommandLine, DurationsTakeSecondsMillisecondsAndMinutesUpToAYear)
{
    EXPECT_DOUBLE_EQ(*tools::parse_duration("10"), 10.0);
    EXPECT_DOUBLE_EQ(*tools::parse_duration("2.5s"), 2.5);
    EXPECT_DOUBLE_EQ(*tools::parse_duration("500ms"), 0.5);
    EXPECT_DOUBLE_EQ(*tools::parse_duration("2m"), 120.0);
    EXPECT_DOUBLE_EQ(*tools::parse_duration("525600m"), tools::longest_duration);
    for (const char* bad :
         {"", "s", "ms", "0", "-1", "nan", "inf", "10 s", "1h", "0x10", "525601m", "1e300", "31536001"})
        EXPECT_FALSE(tools::parse_duration(bad)) << bad;
    // Zero only where it is allowed; a limit of its own.
    EXPECT_EQ(tools::parse_duration("0", 3600.0, true), 0.0);
    EXPECT_EQ(tools::parse_duration("0s", 3600.0, true), 0.0);
    EXPECT_FALSE(tools::parse_duration("61m", 3600.0, true));
}

TEST(CommandLine, HostAndPort)
{
    const auto hp = tools::parse_host_port("192.0.2.7:50002");
    ASSERT_TRUE(hp);
    EXPECT_EQ(hp->host, "192.0.2.7");
    EXPECT_EQ(hp->port, 50002);
    EXPECT_EQ(tools::parse_host_port("receiver.local:1")->host, "receiver.local");
    for (const char* bad : {"", "host", ":50002", "host:", "host:0", "host:70000", "host:x"})
        EXPECT_FALSE(tools::parse_host_port(bad)) << bad;
}

TEST(ListenOptions, DefaultsAndEveryOption)
{
    tools::listen_options o;
    std::string error;
    ASSERT_TRUE(tools::parse_listen_options(0, nullptr, o, error));
    EXPECT_EQ(o.port, 50001);
    EXPECT_FALSE(o.count || o.duration || o.relay.rate || o.derive);
    EXPECT_TRUE(o.relay.destinations.empty());
    EXPECT_EQ(o.relay.multicast_ttl, 1);

    const std::vector<const char*> argv = {"--port",   "50010",           "--csv",     "m.csv",       "--count",
                                           "600",      "--duration",      "12s",       "--relay",     "127.0.0.1:50020",
                                           "--relay",  "239.1.2.3:50030", "--ttl",     "4",           "--relay-rate",
                                           "30",       "--group",         "239.1.2.4", "--interface", "192.0.2.5",
                                           "--derive", "--every",         "30",        "--quiet"};
    ASSERT_TRUE(tools::parse_listen_options(static_cast<int>(argv.size()), argv.data(), o, error)) << error;
    EXPECT_EQ(o.port, 50010);
    EXPECT_EQ(o.csv_path, "m.csv");
    EXPECT_EQ(*o.count, 600u);
    EXPECT_DOUBLE_EQ(*o.duration, 12.0);
    ASSERT_EQ(o.relay.destinations.size(), 2u);
    EXPECT_EQ(o.relay.destinations[0].port, 50020);
    EXPECT_EQ(o.relay.destinations[1].host, "239.1.2.3");
    EXPECT_EQ(o.relay.multicast_ttl, 4);
    EXPECT_EQ(o.relay.rate, 30.0);
    EXPECT_EQ(o.group, "239.1.2.4");
    EXPECT_EQ(o.relay.multicast_interface, "192.0.2.5");
    EXPECT_TRUE(o.derive);
    EXPECT_EQ(o.every, 30u);
    EXPECT_TRUE(o.quiet);
}

TEST(ListenOptions, MistakesAreOneSentence)
{
    auto error_of = [](std::vector<const char*> args) {
        tools::listen_options o;
        std::string error;
        EXPECT_FALSE(tools::parse_listen_options(static_cast<int>(args.size()), args.data(), o, error));
        return error;
    };
    EXPECT_EQ(error_of({"--relay", "nowhere"}), "--relay wants HOST:PORT, not \"nowhere\"");
    EXPECT_EQ(error_of({"extra"}), "unknown argument extra");
    EXPECT_EQ(error_of({"--bogus"}), "unknown option --bogus");
    EXPECT_EQ(error_of({"--duration", "1e12"}),
              "--duration wants a time up to a year such as 10, 10s or 500ms, not \"1e12\"");
    EXPECT_EQ(error_of({"--relay", "h:1", "--ttl", "0"}), "--ttl wants a time to live from 1 to 255, not \"0\"");
    EXPECT_EQ(error_of({"--relay", "h:1", "--relay-rate", "0x10"}),
              "--relay-rate wants datagrams per second from 0.01 to 10000, not \"0x10\"");
    EXPECT_EQ(error_of({"--relay-rate", "30"}), "--relay-rate applies to --relay");
    EXPECT_EQ(error_of({"--ttl", "2"}), "--ttl applies to --relay to a multicast group");
    EXPECT_EQ(error_of({"--interface", "192.0.2.5"}),
              "--interface applies to --group and to --relay to a multicast group");
}

// Every option that takes a value refuses an empty one (an empty variable in
// a script), in every tool, as it refuses a wrong one.
TEST(ArgumentReader, AnEmptyValueIsRefusedByEveryOptionOfEveryTool)
{
    using parser = bool (*)(const std::vector<const char*>&, std::string&);
    const parser host = [](const std::vector<const char*>& a, std::string& e) {
        tools::host_options o;
        return tools::parse_host_options(static_cast<int>(a.size()), a.data(), o, e);
    };
    const parser listen = [](const std::vector<const char*>& a, std::string& e) {
        tools::listen_options o;
        return tools::parse_listen_options(static_cast<int>(a.size()), a.data(), o, e);
    };
    const parser validate = [](const std::vector<const char*>& a, std::string& e) {
        validate::validate_options o;
        return validate::parse_validate_options(static_cast<int>(a.size()), a.data(), o, e);
    };
    const struct {
        parser parse;
        std::vector<const char*> options;
    } tools_and_options[] = {
        {host, {"--rate", "--duration", "--frames", "--start", "--record", "--replay"}},
        {listen,
         {"--port", "--group", "--interface", "--csv", "--count", "--duration", "--relay", "--ttl", "--relay-rate",
          "--every"}},
        {validate, {"--only", "--skip", "--seed", "--budget", "--junit", "--json"}},
    };
    for (const auto& tool : tools_and_options) {
        for (const char* option : tool.options) {
            std::string error;
            EXPECT_FALSE(tool.parse({option, "", "p.dll"}, error)) << option;
            const std::string wants = std::string(option) + " wants ";
            EXPECT_EQ(error.substr(0, wants.size()), wants) << error;
            EXPECT_EQ(error.substr(error.size() - 8), ", not \"\"") << error;
            EXPECT_FALSE(tool.parse({option}, error)) << option;
            EXPECT_EQ(error, std::string(option) + " needs a value");
        }
    }
    std::string error;
    EXPECT_FALSE(validate({"--only", "", "p.dll"}, error));
    EXPECT_EQ(error, "--only wants checks or groups, comma-separated, not \"\"");
}

// A name that starts with '-' is an unknown option, unless it comes after
// "--", where every argument is a name.
TEST(ArgumentReader, AfterTwoDashesEveryArgumentIsAName)
{
    tools::host_options host;
    std::string error;
    const char* lead[] = {"--frames", "3", "-lead.dll"};
    EXPECT_FALSE(tools::parse_host_options(3, lead, host, error));
    EXPECT_EQ(error, "unknown option -lead.dll");
    const char* named[] = {"--frames", "3", "--", "-lead.dll"};
    ASSERT_TRUE(tools::parse_host_options(4, named, host, error)) << error;
    EXPECT_EQ(host.plugin_path, "-lead.dll");
    EXPECT_EQ(host.frames, std::optional<std::uint64_t>(3));
    validate::validate_options checks;
    const char* two[] = {"--", "--quick", "--"};
    EXPECT_FALSE(validate::parse_validate_options(3, two, checks, error));
    EXPECT_EQ(error, "one plug-in only: \"--\" is one too many");
    tools::listen_options listen;
    const char* listen_name[] = {"--", "-x"};
    EXPECT_FALSE(tools::parse_listen_options(2, listen_name, listen, error));
    EXPECT_EQ(error, "unknown argument -x");
}
