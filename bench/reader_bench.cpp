// Reader block against bare RapidJSON doing the same work, in the same run:
// - Parse of a 1 MB text (an envelope around 5,507 order records: integers, doubles with
//   17 significant digits, strings, booleans, a short array each) through
//   fb_jsonreader__parse, which replaces the instance's document each time, against
//   RapidJSON's default parse of the same text into a fresh Document. Auxiliary rows: the
//   bare iterative parse, and the bare in-situ iterative parse of a fresh copy (the
//   parse the component makes, without its exact number conversion).
// - GetLreal by a three-level path into a document whose objects have 100 members each
//   (100 x 100 x 100 numbers; the path names the 51st member at each level) against
//   rapidjson::Pointer::Get of the same path, the pointer built once. Auxiliary row: the
//   pointer built from the path string on every call, as the component must.
// Before the timing both sides are checked to agree (the value read, the document's raw
// text against the bare writer's).
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "json/DocumentLimits.h"
#include "support/BenchRatio.h"

namespace {

constexpr size_t kTextBytes = 1000000;
constexpr int kMembers = 100;
const char* const kPath = "/m50/m50/m50";

struct Fixture {
    std::string orders;  // the 1 MB text
    std::string tree;    // 100 x 100 x 100
    rapidjson::Document treeDocument;
    fb_jsonreader_struct parseInstance{};
    fb_jsonreader_struct treeInstance{};
};
Fixture* s_fixture = nullptr;

std::string OrdersText() {
    std::string text = R"({"meta":{"source":"erp","version":3},"orders":[)";
    char record[320];
    for (int i = 0; text.size() < kTextBytes - 200; ++i) {
        std::snprintf(record, sizeof(record),
                      R"(%s{"id":%d,"customer":"customer-%05d","qty":%d,"price":%.17g,"weight":%.17g,)"
                      R"("express":%s,"tags":["t%d","line-%d"],"note":"order \"%d\" of the day"})",
                      i == 0 ? "" : ",", 100000 + i, i % 977, i % 50 - 10, 9.95 + i * 0.013, 1.0 / (i + 3),
                      i % 3 == 0 ? "true" : "false", i % 7, i % 11, i);
        text += record;
    }
    text += "]}";
    return text;
}

std::string TreeText() {
    std::string text = "{";
    for (int a = 0; a < kMembers; ++a) {
        text += (a ? ",\"m" : "\"m") + std::to_string(a) + "\":{";
        for (int b = 0; b < kMembers; ++b) {
            text += (b ? ",\"m" : "\"m") + std::to_string(b) + "\":{";
            for (int c = 0; c < kMembers; ++c) {
                text += (c ? ",\"m" : "\"m") + std::to_string(c) +
                        "\":" + std::to_string(a * 10000 + b * 100 + c) + ".5";
            }
            text += "}";
        }
        text += "}";
    }
    return text + "}";
}

RTS_IEC_BOOL Parse(fb_jsonreader_struct* instance, std::string& text) {
    fb_jsonreader_parse_struct p{};
    p.pInstance = instance;
    p.pJson = &text[0];
    p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
    fb_jsonreader__parse(&p);
    return p.Parse;
}

bool Prepare(std::string& why) {
    s_fixture = new Fixture();
    s_fixture->orders = OrdersText();
    s_fixture->tree = TreeText();
    s_fixture->treeDocument.Parse(s_fixture->tree.c_str(), s_fixture->tree.size());
    if (Parse(&s_fixture->parseInstance, s_fixture->orders) != 1 ||
        Parse(&s_fixture->treeInstance, s_fixture->tree) != 1 || s_fixture->treeDocument.HasParseError()) {
        why = "a text does not parse";
        return false;
    }
    // The component's document is the bare one: same raw text. (Exact conversion on both
    // sides: the default one may be off by a unit in the last place.)
    rapidjson::Document bare;
    bare.Parse<rapidjson::kParseFullPrecisionFlag>(s_fixture->orders.c_str(), s_fixture->orders.size());
    rapidjson::StringBuffer expected;
    rapidjson::Writer<rapidjson::StringBuffer> writer(expected);
    bare.Accept(writer);
    std::vector<char> raw(expected.GetSize() + 1);
    char root[] = "";
    fb_jsonreader_getraw_struct r{
        &s_fixture->parseInstance, root, raw.data(), static_cast<RTS_IEC_UDINT>(raw.size()), 0, 0};
    fb_jsonreader__getraw(&r);
    if (r.GetRaw != 1 || std::strcmp(raw.data(), expected.GetString()) != 0) {
        why = "the parsed document differs from RapidJSON's";
        return false;
    }
    char path[] = "/m50/m50/m50";
    fb_jsonreader_getlreal_struct g{&s_fixture->treeInstance, path, 0, 0};
    fb_jsonreader__getlreal(&g);
    const rapidjson::Value* bareValue = rapidjson::Pointer(kPath).Get(s_fixture->treeDocument);
    if (g.GetLreal != 1 || bareValue == nullptr || g.lrValue != bareValue->GetDouble() ||
        g.lrValue != 505050.5) {
        why = "GetLreal and Pointer::Get disagree";
        return false;
    }
    return true;
}

void ComponentParseBench(benchmark::State& state) {
    std::string& text = s_fixture->orders;
    for (auto _ : state) {
        if (Parse(&s_fixture->parseInstance, text) != 1) {
            state.SkipWithError("Parse refused");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BareParseBench(benchmark::State& state) {
    const std::string& text = s_fixture->orders;
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        if (document.HasParseError()) {
            state.SkipWithError("the text does not parse");
            break;
        }
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BareIterativeParseBench(benchmark::State& state) {
    const std::string& text = s_fixture->orders;
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BareInsituIterativeParseBench(benchmark::State& state) {
    const std::string& text = s_fixture->orders;
    for (auto _ : state) {
        std::unique_ptr<char[]> copy(new char[text.size() + 1]);
        std::memcpy(copy.get(), text.c_str(), text.size() + 1);
        rapidjson::Document document;
        document.ParseInsitu<rapidjson::kParseIterativeFlag>(copy.get());
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void ComponentGetLrealBench(benchmark::State& state) {
    char path[] = "/m50/m50/m50";
    fb_jsonreader_getlreal_struct g{&s_fixture->treeInstance, path, 0, 0};
    for (auto _ : state) {
        fb_jsonreader__getlreal(&g);
        benchmark::DoNotOptimize(g.lrValue);
    }
}

void BarePointerGetBench(benchmark::State& state) {
    const rapidjson::Pointer pointer(kPath);
    for (auto _ : state) {
        const rapidjson::Value* value = pointer.Get(s_fixture->treeDocument);
        benchmark::DoNotOptimize(value->GetDouble());
    }
}

void BarePointerParseGetBench(benchmark::State& state) {
    for (auto _ : state) {
        const rapidjson::Value* value = rapidjson::Pointer(kPath).Get(s_fixture->treeDocument);
        benchmark::DoNotOptimize(value->GetDouble());
    }
}

// ---- peak memory of a refused text ------------------------------------------------------

constexpr size_t kRefusedTextBytes = 250u * 1000 * 1000;

// The process's peak resident memory (VmHWM), in bytes; 0 when it cannot be read.
size_t PeakResidentBytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    size_t kib = 0;
    while (std::fgets(line, sizeof(line), status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %zu kB", &kib) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kib * 1024;
}

enum class ERefusedBy { kReaderParse, kWriterRawArray };

// In a child process of its own, so the peak is this text's alone: a 250 MB array of
// zeros (its values would take about 2 GB) handed to Parse or AddRawArray, which refuse
// it at the memory cap. Counters: the peak resident memory the text and the call added
// to the process, and its ratio to the cap plus the text (the copy a parse takes of the
// text counts within the cap).
void RefusedTextPeak(benchmark::State& state, ERefusedBy by) {
    size_t figures[4] = {0, 0, 0, 0};  // before the text, before the call, after it, taken
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            const size_t beforeText = PeakResidentBytes();
            std::string text(kRefusedTextBytes, '0');
            for (size_t i = 2; i + 2 < text.size(); i += 2) {
                text[i] = ',';
            }
            text.front() = '[';
            text.back() = ']';
            size_t result[4] = {beforeText, PeakResidentBytes(), 0, 0};
            if (by == ERefusedBy::kReaderParse) {
                fb_jsonreader_struct instance{};
                fb_jsonreader_parse_struct p{};
                p.pInstance = &instance;
                p.pJson = &text[0];
                p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
                fb_jsonreader__parse(&p);
                result[3] =
                    p.Parse != 0 || std::strcmp(p.sError, "The document exceeds the memory cap.") != 0;
            } else {
                fb_jsonsaxwriter_struct instance{};
                fb_jsonsaxwriter_resetdocument_struct reset{&instance, 0};
                fb_jsonsaxwriter__resetdocument(&reset);
                char key[] = "k";
                fb_jsonsaxwriter_addkey_struct addKey{&instance, key};
                fb_jsonsaxwriter__addkey(&addKey);
                fb_jsonsaxwriter_addrawarray_struct p{&instance, &text[0]};
                fb_jsonsaxwriter__addrawarray(&p);
                fb_jsonsaxwriter_getdocumentlength_struct length{&instance, 0, 0};
                fb_jsonsaxwriter__getdocumentlength(&length);
                result[3] = length.GetDocumentLength > 100 || CSimHost::instance().logTexts().empty();
            }
            result[2] = PeakResidentBytes();
            const bool written = write(channel[1], result, sizeof(result)) == sizeof(result);
            _exit(written ? 0 : 1);
        }
        close(channel[1]);
        const bool read = child > 0 && ::read(channel[0], figures, sizeof(figures)) == sizeof(figures);
        close(channel[0]);
        int status = 0;
        if (child > 0) {
            waitpid(child, &status, 0);
        }
        if (!read || figures[3] != 0) {
            state.SkipWithError(read ? "the text was not refused at the cap" : "the child process failed");
            return;
        }
    }
    const double mb = 1e6;
    const double peak = static_cast<double>(figures[2] - figures[0]);  // the text's and the call's
    state.counters["text_MB"] = static_cast<double>(figures[1] - figures[0]) / mb;
    state.counters["peak_MB"] = peak / mb;
    state.counters["cap_MB"] = static_cast<double>(kDocumentMemoryCap) / mb;
    state.counters["peak_to_cap_plus_text"] =
        peak / static_cast<double>(kDocumentMemoryCap + kRefusedTextBytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (!LoadComponentForBenchmarks()) {
        std::fprintf(stderr, "the component did not load into the simulated host\n");
        return 1;
    }
    std::string why;
    if (!Prepare(why)) {
        std::fprintf(stderr, "set-up failed: %s\n", why.c_str());
        return 1;
    }
    CSimHost::instance().clearLog();
    benchmark::RegisterBenchmark("reader/parse_1mb/zentrik", ComponentParseBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("reader/parse_1mb/rapidjson", BareParseBench)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("reader/parse_1mb/rapidjson_iterative", BareIterativeParseBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("reader/parse_1mb/rapidjson_insitu_iterative", BareInsituIterativeParseBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("reader/getlreal_path/zentrik", ComponentGetLrealBench);
    benchmark::RegisterBenchmark("reader/getlreal_path/rapidjson", BarePointerGetBench);
    benchmark::RegisterBenchmark("reader/getlreal_path/rapidjson_pointer_each_call",
                                 BarePointerParseGetBench);

    benchmark::RegisterBenchmark("reader/refused_250MB_peak/parse", RefusedTextPeak, ERefusedBy::kReaderParse)
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("writer/refused_250MB_peak/add_raw_array", RefusedTextPeak,
                                 ERefusedBy::kWriterRawArray)
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond);

    const std::vector<BenchPair> pairs = {
        {"Parse, 1 MB text", "reader/parse_1mb/zentrik", "reader/parse_1mb/rapidjson", 1, 0.6},
        {"  same, against bare iterative parse", "reader/parse_1mb/zentrik",
         "reader/parse_1mb/rapidjson_iterative", 1, 0},
        {"  same, against bare in-situ iterative parse of a copy", "reader/parse_1mb/zentrik",
         "reader/parse_1mb/rapidjson_insitu_iterative", 1, 0},
        {"GetLreal, /m50/m50/m50, 100 members per object", "reader/getlreal_path/zentrik",
         "reader/getlreal_path/rapidjson", 1, 2.0},
        {"  same, against a Pointer built on every call", "reader/getlreal_path/zentrik",
         "reader/getlreal_path/rapidjson_pointer_each_call", 1, 0},
    };
    const int status = RunBenchmarksWithRatios(argc, argv, pairs);
    if (!CSimHost::instance().logRecords().empty()) {
        std::fprintf(stderr, "the component logged during the benchmarks: %s\n",
                     CSimHost::instance().logTexts().front().c_str());
        return 1;
    }
    std::printf("text: %zu bytes; tree text: %zu bytes\n", s_fixture->orders.size(), s_fixture->tree.size());
    return status;
}
