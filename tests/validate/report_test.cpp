// The result's passage from child to validator, and the three reports.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/validate/check_list.h"
#include "tools/validate/report.h"

using namespace validate;

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

check_result awkward_failure()
{
    check_result r;
    r.result = outcome::failed;
    r.summary = "read 1 byte past \"the\" end\\n\nsecond line\ttab\x01";
    r.kind = failure_kind::read_past_stream;
    r.call = "Update";
    r.frame = 12;
    r.figures = {{"p99_ms", 0.25}, {"not a number", std::nan("")}};
    r.notes = {"note <one> & two"};
    return r;
}

}  // namespace

TEST(CheckResult, SurvivesTheChannelWithEveryCharacter)
{
    const check_result sent = awkward_failure();
    const std::optional<check_result> got = parse_result("garbage line\n" + serialize(sent) + "unknown key\n");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->result, outcome::failed);
    EXPECT_EQ(got->summary, sent.summary);
    EXPECT_EQ(got->kind, sent.kind);
    EXPECT_EQ(got->call, "Update");
    EXPECT_EQ(got->frame, 12u);
    ASSERT_EQ(got->figures.size(), 2u);
    EXPECT_EQ(got->figures[0], sent.figures[0]);
    EXPECT_EQ(got->figures[1].first, "not a number");
    EXPECT_TRUE(std::isnan(got->figures[1].second));
    EXPECT_EQ(got->notes, sent.notes);
    EXPECT_FALSE(parse_result("summary no result line\n"));
    EXPECT_EQ(parse_result("result skipped\n")->result, outcome::skipped);
}

TEST(Reports, JsonAndJUnitEscapeAndCount)
{
    run_report report;
    report.plugin = "C:\\plug-ins\\\"odd\".dll";
    report.seed = 99;
    report.results.emplace_back(find_check("stream.sizes"), awkward_failure());
    check_result skip;
    skip.result = outcome::skipped;
    skip.summary = "not measurable here";
    report.results.emplace_back(find_check("resources.handles_per_frame"), skip);
    check_result pass;
    pass.result = outcome::passed;
    pass.summary = "fine";
    report.results.emplace_back(find_check("file.load"), pass);

    const std::string json = json_report(report);
    EXPECT_TRUE(contains(json, R"("plugin": "C:\\plug-ins\\\"odd\".dll")")) << json;
    EXPECT_TRUE(contains(json, R"("passed": 1,)"));
    EXPECT_TRUE(contains(json, R"("failed": 1,)"));
    EXPECT_TRUE(contains(json, R"("skipped": 1,)"));
    EXPECT_TRUE(contains(json, R"("summary": "read 1 byte past \"the\" end\\n\nsecond line\ttab\u0001")")) << json;
    EXPECT_TRUE(contains(json, R"("kind": "read_past_stream", "call": "Update", "frame": 12)"));
    EXPECT_TRUE(contains(json, R"("figures": {"p99_ms": 0.25, "not a number": null})"));

    const std::string xml = junit_report(report);
    EXPECT_TRUE(contains(xml, R"(tests="3" failures="1" errors="0" skipped="1")")) << xml;
    EXPECT_TRUE(contains(xml, R"(<testcase classname="validate.stream" name="stream.sizes")"));
    EXPECT_TRUE(contains(xml, R"(<failure message="read 1 byte past &quot;the&quot; end\n)"));
    EXPECT_TRUE(contains(xml, R"(type="read_past_stream")"));
    EXPECT_TRUE(contains(xml, "tab?")) << "control characters are not XML";
    EXPECT_TRUE(contains(xml, "note &lt;one&gt; &amp; two"));
    EXPECT_TRUE(contains(xml, R"(<skipped message="not measurable here"/>)"));
    EXPECT_TRUE(contains(xml, R"(<property name="seed" value="99"/>)"));
    EXPECT_TRUE(contains(xml, "\nin Update (frame 12)\n"));
}

TEST(Reports, OnlyValidUtf8ReachesTheFiles)
{
    EXPECT_EQ(valid_utf8("plain ascii"), "plain ascii");
    EXPECT_EQ(valid_utf8("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9B\xA9"),
              "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9B\xA9");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(valid_utf8("Gr\xFC\xDF"), "Gr" + replacement + replacement);                             // Latin-1
    EXPECT_EQ(valid_utf8("\xC0\xAF"), replacement + replacement);                                      // overlong '/'
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), replacement + replacement + replacement);                    // a surrogate
    EXPECT_EQ(valid_utf8("end \xE2\x82"), "end " + replacement + replacement);                         // cut short
    EXPECT_EQ(valid_utf8("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);  // > U+10FFFF
}
