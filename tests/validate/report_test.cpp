// The result's passage from child to validator, and the three reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "tests/support/failing_new.h"
#include "tools/validate/check_list.h"
#include "tools/validate/child_verdict.h"
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
    r.kind = fault_kind::read_past_stream;
    r.call = plugin_call::update;
    r.frame = 12;
    r.frames = {{"p lug\tin.dll", 0x1a2b, "", "", 0}, {"p.dll", 0x30, "read_frame(int)", "src\\read.cpp", 42}};
    r.figures = {{"p99_ms", 0.25}, {"not a number", std::nan("")}};
    r.notes = {"note <one> & two"};
    r.warnings = {{warning_kind::environment_added, 3, "Init added FOO=\"1\"\tx"}};
    return r;
}

}  // namespace

// The result as the child's writer puts it into a buffer of `size` bytes.
std::string written(const check_result& result, std::size_t size = 4096)
{
    std::vector<char> buffer(size);
    result_writer out(buffer.data(), buffer.size());
    write_check_result(out, result);
    return std::string(out.finish());
}

TEST(CheckResult, SurvivesTheChannelWithEveryCharacter)
{
    const check_result sent = awkward_failure();
    const std::optional<check_result> got = parse_result("garbage line\n" + written(sent) + "unknown key\n");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->result, outcome::failed);
    EXPECT_EQ(got->summary, sent.summary);
    EXPECT_EQ(got->kind, sent.kind);
    EXPECT_EQ(got->call, plugin_call::update);
    EXPECT_EQ(got->frame, 12u);
    ASSERT_EQ(got->frames.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(got->frames[i].module, sent.frames[i].module);
        EXPECT_EQ(got->frames[i].offset, sent.frames[i].offset);
        EXPECT_EQ(got->frames[i].function, sent.frames[i].function);
        EXPECT_EQ(got->frames[i].file, sent.frames[i].file);
        EXPECT_EQ(got->frames[i].line, sent.frames[i].line);
    }
    ASSERT_EQ(got->warnings.size(), 1u);
    EXPECT_EQ(got->warnings[0].kind, warning_kind::environment_added);
    EXPECT_EQ(got->warnings[0].count, 3u);
    EXPECT_EQ(got->warnings[0].detail, sent.warnings[0].detail);
    ASSERT_EQ(got->figures.size(), 2u);
    EXPECT_EQ(got->figures[0], sent.figures[0]);
    EXPECT_EQ(got->figures[1].first, "not a number");
    EXPECT_TRUE(std::isnan(got->figures[1].second));
    EXPECT_EQ(got->notes, sent.notes);
    EXPECT_FALSE(parse_result("summary no result line\n"));
    // Every outcome and kind comes back as itself; a number that is none is no outcome.
    for (outcome result : {outcome::passed, outcome::skipped, outcome::not_run, outcome::error}) {
        check_result one = passed("x");
        one.result = result;
        one.kind = fault_kind::wrote_past_output;
        one.call = plugin_call::process_exit;
        const std::optional<check_result> back = parse_result(written(one));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->result, result);
        EXPECT_EQ(back->kind, fault_kind::wrote_past_output);
        EXPECT_EQ(back->call, plugin_call::process_exit);
    }
    EXPECT_FALSE(parse_result("result 99\n"));
}

TEST(CheckResult, TheWriterAllocatesNothingAndSaysWhatDidNotFit)
{
    check_result big = awkward_failure();
    for (int i = 0; i < 50; ++i) big.notes.push_back("note " + std::to_string(i) + std::string(40, 'x'));
    char buffer[512];
    // It runs where the heap may be locked: a crash handler, a watchdog.
    const std::size_t before = forbidden_heap_calls();
    forbid_heap_on_this_thread(true);
    result_writer out(buffer, sizeof buffer);
    write_check_result(out, big);
    const std::size_t cut_before = out.lines_left_out();
    out.begin_summary().text("a ").number(42).text(" ").hex(0x1a2b).text(" ").decimal(0.1).end();
    const bool last_fitted = out.lines_left_out() == cut_before;
    const std::string_view text = out.finish();
    char small_buffer[64];
    result_writer small(small_buffer, sizeof small_buffer);
    small.note(std::string_view(buffer, 40)).note("short");  // the first is too long: the second still fits
    const std::string_view small_text = small.finish();
    forbid_heap_on_this_thread(false);
    EXPECT_EQ(forbidden_heap_calls(), before);
    ASSERT_LE(text.size(), sizeof buffer);
    EXPECT_GT(out.lines_left_out(), 0u);
    EXPECT_EQ(small.lines_left_out(), 1u);
    EXPECT_EQ(small_text, "note short\ncut 1\n");

    // Whole lines were left out, and the reader is told how many.
    const std::optional<check_result> got = parse_result(text);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->summary, last_fitted ? "a 42 0x1a2b 0.1" : big.summary);  // a line is written whole or not at all
    EXPECT_EQ(got->kind, fault_kind::read_past_stream);
    ASSERT_FALSE(got->notes.empty());
    EXPECT_NE(got->notes.back().find(std::to_string(out.lines_left_out()) + " of its lines"), std::string::npos)
        << got->notes.back();
    for (std::size_t i = 0; i + 1 < got->notes.size(); ++i) EXPECT_EQ(got->notes[i], big.notes[i]);
}

TEST(CheckResult, ARunOfSeveralChecksCarriesEachByName)
{
    check_result init;
    init.result = outcome::passed;
    init.summary = "the longest Init took 1 ms";
    const std::string text =
        "check timing.init\n" + written(init) + "check timing.shutdown\n" + written(awkward_failure());
    const auto results = parse_results(text);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].first, "timing.init");
    EXPECT_EQ(results[0].second.summary, init.summary);
    EXPECT_EQ(results[1].first, "timing.shutdown");
    EXPECT_EQ(results[1].second.frame, 12u);
    EXPECT_EQ(parse_results(written(init)).at(0).first, "");  // a result without a name
}

TEST(Reports, JsonAndJUnitEscapeAndCount)
{
    run_report report;
    report.plugin = "C:\\plug-ins\\\"odd\".dll";
    report.seed = 99;
    report.results.emplace_back(find_check("stream.sizes"), awkward_failure());
    report.results.emplace_back(find_check("resources.handles_per_frame"), skipped("not measurable here"));
    check_result pass = passed("fine");
    pass.warnings = {{warning_kind::environment_added, 1, "Init added FOO=1"}};
    report.results.emplace_back(find_check("file.load"), pass);
    report.results.emplace_back(find_check("file.imports"), validator_error("validate: cannot start a child process"));
    report.results.emplace_back(find_check("stream.random"), not_run("not run: the run reached its limit of 170 s"));

    const std::string json = json_report(report);
    EXPECT_TRUE(contains(json, R"("plugin": "C:\\plug-ins\\\"odd\".dll")")) << json;
    EXPECT_TRUE(contains(json, R"("passed": 1,)"));
    EXPECT_TRUE(contains(json, R"("failed": 1,)"));
    EXPECT_TRUE(contains(json, R"("skipped": 2,)"));
    EXPECT_TRUE(contains(json, R"("errors": 1,)"));
    EXPECT_TRUE(contains(json, R"("warnings": 2,)")) << "one on the failure, one on the pass";
    EXPECT_TRUE(contains(json, R"("result": "passed", "summary": "fine", "kind": "", "call": "")")) << json;
    EXPECT_TRUE(
        contains(json, R"("warnings": [{"kind": "environment_added", "count": 1, "detail": "Init added FOO=1"}])"));
    EXPECT_TRUE(contains(json, R"("result": "skipped", "summary": "not run: the run reached its limit of 170 s", )"
                               R"("kind": "not_run")"))
        << json;
    EXPECT_TRUE(contains(
        json, R"x("frames": [{"module": "p lug\tin.dll", "offset": "0x1a2b"}, {"module": "p.dll", "offset": "0x30", )x"
              R"x("function": "read_frame(int)", "file": "src\\read.cpp", "line": 42}])x"))
        << json;
    EXPECT_TRUE(contains(
        json, R"("result": "error", "summary": "validate: cannot start a child process", "kind": "validator")"))
        << json;
    EXPECT_TRUE(contains(json, R"("summary": "read 1 byte past \"the\" end\\n\nsecond line\ttab\u0001")")) << json;
    EXPECT_TRUE(contains(json, R"("kind": "read_past_stream", "call": "Update", "frame": 12)"));
    EXPECT_TRUE(contains(json, R"("figures": {"p99_ms": 0.25, "not a number": null})"));

    const std::string xml = junit_report(report);
    EXPECT_TRUE(contains(xml, R"(tests="5" failures="1" errors="1" skipped="2")")) << xml;
    // A warning is a property of its test case, never a failure of it.
    EXPECT_TRUE(contains(xml,
                         "name=\"file.load\" time=\"0.000\">\n      <properties>\n        <property name=\"warning\" "
                         "value=\"WARNING environment_added: Init added FOO=1\"/>\n      </properties>\n      "
                         "<system-out>"))
        << xml;
    EXPECT_TRUE(contains(xml, R"(<property name="warnings" value="2"/>)"));
    EXPECT_TRUE(contains(
        xml, "the plug-in&apos;s frames: p lug\tin.dll+0x1a2b, p.dll+0x30 (read_frame(int), src\\read.cpp:42)"));
    EXPECT_TRUE(contains(xml, R"(<error message="validate: cannot start a child process" type="validator">)"));
    EXPECT_TRUE(contains(xml, R"(<testcase classname="validate.stream" name="stream.sizes")"));
    EXPECT_TRUE(contains(xml, R"(<failure message="read 1 byte past &quot;the&quot; end\n)"));
    EXPECT_TRUE(contains(xml, R"(type="read_past_stream")"));
    EXPECT_TRUE(contains(xml, "tab?")) << "control characters are not XML";
    EXPECT_TRUE(contains(xml, "note &lt;one&gt; &amp; two"));
    EXPECT_TRUE(contains(xml, R"(<skipped message="not measurable here"/>)"));
    EXPECT_TRUE(contains(xml, R"(<property name="seed" value="99"/>)"));
    EXPECT_TRUE(contains(xml, "\nin Update (frame 12)\n"));

    // The table and its summary line, as the terminal shows them.
    std::FILE* table = std::tmpfile();
    ASSERT_NE(table, nullptr);
    for (const auto& [check, result] : report.results) write_table_line(table, *check, result);
    report.seconds = 2.5;
    write_summary_line(table, report);
    std::rewind(table);
    std::string shown;
    for (int c = std::fgetc(table); c != EOF; c = std::fgetc(table)) shown += static_cast<char>(c);
    std::fclose(table);
    EXPECT_TRUE(contains(shown, "stream.sizes                       FAIL    read 1 byte")) << shown;
    EXPECT_TRUE(contains(shown, "\n" + std::string(43, ' ') +
                                    "WARNING environment_added: Init added FOO=\"1\"\tx (3 times)\n"));
    EXPECT_TRUE(contains(shown, "stream.random                      skip    not run: the run reached"));
    EXPECT_TRUE(contains(shown, "validate: 1 passed, 1 failed, 2 skipped, 1 not run for the validator's own error, "
                                "2 warnings in 2.5 s\n"));
}

TEST(Reports, OnlyValidUtf8ReachesTheFiles)
{
    EXPECT_EQ(valid_utf8("plain ascii"), "plain ascii");
    EXPECT_EQ(valid_utf8("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9B\xA9"),
              "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9B\xA9");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(valid_utf8("Gr\xFC\xDF"), "Gr" + replacement + replacement);  // Latin-1
    EXPECT_EQ(valid_utf8("\xC0\xAF"), replacement + replacement);  // overlong '/'
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), replacement + replacement + replacement);  // a surrogate
    EXPECT_EQ(valid_utf8("end \xE2\x82"), "end " + replacement + replacement);  // cut short
    EXPECT_EQ(valid_utf8("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);  // > U+10FFFF
}

TEST(Reports, TheRecordingFlownAndWhereACallReturnsTo)
{
    check_result result = passed("180 of 180 Updates made 360 calls that can block the host's frame");
    result.warnings = {{warning_kind::blocking_call, 180, "fwrite in Update"}};
    result.frames = {{"p.dll", 0x1a2b, "", "", 0, false}, {"p.dll", 0x30, "", "", 0, true}};
    const std::optional<check_result> got = parse_result(written(result));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->frames.size(), 2u);
    EXPECT_FALSE(got->frames[0].return_address);
    EXPECT_TRUE(got->frames[1].return_address);
    ASSERT_EQ(got->warnings.size(), 1u);
    EXPECT_EQ(got->warnings[0].kind, warning_kind::blocking_call);

    run_report report;
    report.plugin = "p.dll";
    report.results.emplace_back(find_check("timing.blocking_calls"), *got);
    EXPECT_TRUE(contains(json_report(report), R"("recording": null,)"));
    report.recording = "C:\\flights\\landing.skvrec";
    report.recording_frames = 1234;
    report.recording_used = "the first 1234 frames (20.6 s of flight) of C:\\flights\\landing.skvrec; ...";
    const std::string json = json_report(report);
    EXPECT_TRUE(contains(json, R"("recording": {"path": "C:\\flights\\landing.skvrec", "frames": 1234, "used": )"))
        << json;
    EXPECT_TRUE(contains(json, R"({"kind": "blocking_call", "count": 180, "detail": "fwrite in Update"})")) << json;
    const std::string xml = junit_report(report);
    EXPECT_TRUE(contains(xml, R"(<property name="recording_frames" value="1234"/>)")) << xml;
    EXPECT_TRUE(contains(xml, R"x(value="WARNING blocking_call: fwrite in Update (180 times)")x")) << xml;
}
