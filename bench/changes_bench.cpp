// Sending by exception against sending whole, in the same run, on a structure of 100
// structures of 100 REAL leaves (10,000 leaves) of a simulated application. Each side is a
// controller's cycle: reset the writer's document, add the variable, read the text out
// (GetDocumentLength, CopyDocument).
// - AddJsonChangesFromSymbol with 10 leaves changed since the last cycle, spread over the
//   structure, against AddJsonKeyValueFromSymbol of the same variable: at most 0.1x;
// - AddJsonChangesFromSymbol with nothing changed: at most 0.05x;
// - a key frame (the whole text, compared first with AddJsonKeyValueFromSymbol's).
// Both sides change the same 10 leaves in every iteration.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimHost.h"
#include "support/BenchRatio.h"
#include "var/DomDriverMgr.h"

namespace {

constexpr int kGroups = 100;
constexpr int kLeaves = 100;
constexpr int kChanged = 10;

// TYPE ST_Group : STRUCT r0 .. r99 : REAL; TYPE ST_Plant : STRUCT g0 .. g99 : ST_Group.
std::string Declarations() {
    std::string text = "TYPE ST_Group :\nSTRUCT\n";
    for (int i = 0; i < kLeaves; ++i) {
        text += "    r" + std::to_string(i) + " : REAL;\n";
    }
    text += "END_STRUCT\nEND_TYPE\nTYPE ST_Plant :\nSTRUCT\n";
    for (int i = 0; i < kGroups; ++i) {
        text += "    g" + std::to_string(i) + " : ST_Group;\n";
    }
    return text + "END_STRUCT\nEND_TYPE\nVAR_GLOBAL\n    plant : ST_Plant;\nEND_VAR\n";
}

float* s_leaves = nullptr;  // the plant's 10,000 REALs, in memory order
std::vector<unsigned char> s_sent;
fb_jsonsaxwriter_struct s_writer;
fb_jsonreadwritedatatype_struct s_block;
char s_key[] = "plant";
char s_datatype[] = "ST_Plant";
std::vector<char> s_out(1 << 20);

// The 10 leaves of this iteration, a prime step apart, get a new value.
void ChangeTenLeaves(unsigned& next) {
    for (int i = 0; i < kChanged; ++i) {
        next = (next + 997) % (kGroups * kLeaves);
        s_leaves[next] += 1.0f;
    }
}

// The read-out of the cycle; false when it was refused.
bool ReadOut() {
    fb_jsonsaxwriter_getdocumentlength_struct length{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&length);
    fb_jsonsaxwriter_copydocument_struct copy{&s_writer, s_out.data(),
                                              static_cast<RTS_IEC_UDINT>(s_out.size()), 0, 0};
    fb_jsonsaxwriter__copydocument(&copy);
    benchmark::DoNotOptimize(s_out[length.GetDocumentLength / 2]);
    return copy.CopyDocument != 0;
}

void Reset() {
    fb_jsonsaxwriter_resetdocument_struct reset{&s_writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
}

bool AddWhole() {
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = &s_writer;
    p.sKey = s_key;
    p.sDatatype = s_datatype;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_leaves);
    fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
    return p.AddJsonKeyValueFromSymbol != 0;
}

// The changes since s_sent; changed: the leaves that changed.
bool AddChanges(bool keyFrame, RTS_IEC_UDINT& changed) {
    fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = &s_writer;
    p.sKey = s_key;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_leaves);
    p.pLast = s_sent.data();
    p.nLast = static_cast<RTS_IEC_UDINT>(s_sent.size());
    p.bKeyFrame = keyFrame ? 1 : 0;
    fb_jsonreadwritedatatype__addjsonchangesfromsymbol(&p);
    changed = p.nChanged;
    return p.AddJsonChangesFromSymbol != 0;
}

void WholeBench(benchmark::State& state) {
    unsigned next = 0;
    for (auto _ : state) {
        ChangeTenLeaves(next);
        Reset();
        if (!AddWhole() || !ReadOut()) {
            state.SkipWithError("AddJsonKeyValueFromSymbol refused");
            break;
        }
    }
}

// state.range(0): 0 nothing changed, 1 ten leaves changed, 2 a key frame.
void ChangesBench(benchmark::State& state) {
    const int64_t mode = state.range(0);
    unsigned next = 0;
    RTS_IEC_UDINT changed = 0;
    // The copy as sent last: the other benchmarks change the leaves without sending them.
    std::memcpy(s_sent.data(), s_leaves, s_sent.size());
    for (auto _ : state) {
        if (mode == 1) {
            ChangeTenLeaves(next);
        }
        Reset();
        if (!AddChanges(mode == 2, changed) || !ReadOut()) {
            state.SkipWithError("AddJsonChangesFromSymbol refused");
            break;
        }
        if (mode == 1 && changed != kChanged) {
            state.SkipWithError("not the ten leaves changed");
            break;
        }
    }
}

// The whole text of both methods, and a patch of ten leaves; empty when both hold.
std::string Check() {
    Reset();
    AddWhole();
    fb_jsonsaxwriter_getdocumentlength_struct length{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&length);
    ReadOut();
    const std::string whole(s_out.data(), length.GetDocumentLength);
    Reset();
    RTS_IEC_UDINT changed = 0;
    if (!AddChanges(true, changed)) {
        return "the key frame was refused";
    }
    fb_jsonsaxwriter__getdocumentlength(&length);
    ReadOut();
    if (whole != std::string(s_out.data(), length.GetDocumentLength)) {
        return "the key frame differs from AddJsonKeyValueFromSymbol's text";
    }
    unsigned next = 0;
    ChangeTenLeaves(next);
    Reset();
    if (!AddChanges(false, changed) || changed != kChanged) {
        return "ten changed leaves were not found";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (!LoadComponentForBenchmarks()) {
        std::fprintf(stderr, "the component did not load into the simulated host\n");
        return 1;
    }
    CSimApplication& app = CSimApplication::instance();
    app.start(Declarations());
    s_leaves = reinterpret_cast<float*>(app.address("App.Globals.plant"));
    for (int i = 0; i < kGroups * kLeaves; ++i) {
        s_leaves[i] = static_cast<float>(i) * 0.37f + 1.0f / 3;
    }
    s_sent.assign(app.size("App.Globals.plant"), 0);
    CDomDriverMgr::instance()->LoadSymbols();  // on this thread: no loader to wait for
    const std::string why = Check();
    if (!why.empty()) {
        std::fprintf(stderr, "set-up failed: %s\n", why.c_str());
        return 1;
    }
    CSimHost::instance().clearLog();
    benchmark::RegisterBenchmark("changes/whole/add_json_key_value", WholeBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("changes/ten_changed", ChangesBench)->Arg(1)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("changes/nothing_changed", ChangesBench)
        ->Arg(0)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("changes/key_frame", ChangesBench)->Arg(2)->Unit(benchmark::kMicrosecond);
    const std::vector<BenchPair> pairs = {
        {"changes of 10 of 10,000 REALs against the whole variable", "changes/ten_changed/1",
         "changes/whole/add_json_key_value", 1, 0.1},
        {"changes, nothing changed, against the whole variable", "changes/nothing_changed/0",
         "changes/whole/add_json_key_value", 1, 0.05},
        {"changes, a key frame, against the whole variable", "changes/key_frame/2",
         "changes/whole/add_json_key_value", 1, 0},
    };
    const int status = RunBenchmarksWithRatios(argc, argv, pairs);
    if (!CSimHost::instance().logRecords().empty()) {
        std::fprintf(stderr, "the component logged during the benchmarks: %s\n",
                     CSimHost::instance().logTexts().front().c_str());
        return 1;
    }
    return status;
}
