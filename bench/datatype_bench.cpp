// Datatype block against bare RapidJSON doing the same work, in the same run, on an
// ARRAY[1..10000] OF ST_Rec (five scalars and a STRING(15) per element) of a simulated
// application:
// - variable to JSON: AddJsonKeyValueFromSymbol of the array into a freshly reset writer
//   document, against RapidJSON building the same value by hand from the same memory
//   (an array of objects, member names copied like the component's, each value read from
//   its offset) into a fresh Document;
// - JSON to variable: SetSymbolFromJson of that text (under the name of the structure
//   that holds the array) into the variable, against RapidJSON parsing the same text
//   alone. An auxiliary row adds to the bare parse a hand-written walk that writes every
//   value into memory, to show what the walk and the writes cost.
// Both directions are checked before their timing: the component's text equals the bare
// one, and a write of the text into zeroed memory restores every byte.
//
// Member matching: an ARRAY[0..4999] and an ARRAY[0..49999] OF DINT, each given an object
// of as many members that name no element (SetSymbolFromJson and its report): the cost
// must grow with the text, so the larger within 10x of the smaller.
//
// Small messages: one machine's state as real payloads carry it, a structure of ten
// members (DINT, LREAL, REAL, BOOL, STRING(20), TIME, DT, INT, UDINT, LINT) whose text is
// about 250 bytes. JSON to variable (SetSymbolFromJson) against RapidJSON parsing the text
// and writing the ten values by hand; variable to JSON and its read-out (reset,
// AddJsonKeyValueFromSymbol, GetDocumentLength, CopyDocument) against RapidJSON's writer
// writing the same ten members into a kept buffer and copying the text out. The texts
// are checked equal first.
//
// Forms: the same array to JSON with the writer's format READABLE, and an
// ARRAY[0..9999] OF DATE_AND_TIME both ways as integers (format 0) and as ISO 8601 texts;
// each form within 1.5x of format 0.
//
// Where Debian's libsimdjson-dev is installed, simdjson's DOM parse of the same text is
// timed too (the benchmark links it; the component does not). After the table, the
// throughput of two tasks converting two different variables at once (each its own
// writer instance, or each its own variable to write) is set against one task alone
// (left out by a --benchmark_filter that does not name "two_tasks").
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimHost.h"
#include "json/JsonEvents.h"
#include "support/BenchRatio.h"
#include "support/SmallMessage.h"
#include "var/DomDriverMgr.h"

#ifdef ZENTRIK_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace {

constexpr int kElements = 10000;

const std::string kDeclarations = std::string(kMachineStateType) + R"(
    TYPE ST_Rec :
    STRUCT
        id : DINT;
        temp : LREAL;
        level : REAL;
        count : UDINT;
        ok : BOOL;
        name : STRING(15);
    END_STRUCT
    END_TYPE
    TYPE ST_Data :
    STRUCT
        seq : DINT;
        recs : ARRAY[1..10000] OF ST_Rec;
    END_STRUCT
    END_TYPE
    VAR_GLOBAL
        machine : ST_MachineState;
        data : ST_Data;
        twin : ST_Data;
        small : ARRAY[0..4999] OF DINT;
        big : ARRAY[0..49999] OF DINT;
        stamps : ARRAY[0..9999] OF DATE_AND_TIME;
    END_VAR
)";

// The two arrays of the matching benchmarks and their element counts.
constexpr int kSmallElements = 5000;
constexpr int kBigElements = 50000;
constexpr int kStamps = 10000;

// Where the array lies and where each member sits in an element.
struct Layout {
    uint8_t* data = nullptr;  // the structure that holds the array
    uint8_t* recs = nullptr;  // its first element
    uint8_t* twin = nullptr;  // a second variable of the same type, for a second task
    uint8_t* twinRecs = nullptr;
    size_t stride = 0;
    size_t id = 0, temp = 0, level = 0, count = 0, ok = 0, name = 0, nameSize = 0;
    size_t memorySize = 0;
};

struct Fixture {
    Layout layout;
    std::vector<uint8_t> memory;  // the application's memory as filled
    std::string arrayText;        // the array's JSON text, as the component writes it
    std::string setText;          // {"data":{"recs":<arrayText>}}
    std::string twinText;         // {"twin":{"recs":<arrayText>}}
    uint8_t* small = nullptr;     // the arrays of the matching benchmarks
    uint8_t* big = nullptr;
    std::string smallText;  // {"small":{"k0":0,...}}: as many members as elements, naming none
    std::string bigText;
    uint8_t* stamps = nullptr;  // the DATE_AND_TIME array of the forms benchmarks
    std::string stampTexts[2];  // {"stamps":[...]} as integers and as ISO 8601 texts
    // The small message's variable, each member's place in it, and its text.
    uint8_t* machine = nullptr;
    size_t machineOffsets[10] = {};
    size_t operatorNameSize = 0;
    std::string machineText;  // {"machine":{...}}
};

Fixture* s_fixture = nullptr;
fb_jsonsaxwriter_struct s_writer;
fb_jsonsaxwriter_struct s_twinWriter;
fb_jsonreadwritedatatype_struct s_block;

template <typename T>
T Read(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <typename T>
void Write(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof(T));
}

std::string Serialize(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// ---- the component's side ----------------------------------------------------------------

// AddJsonKeyValueFromSymbol of the variable at `variable` under `key` into a freshly reset
// document of `writer`.
RTS_IEC_BOOL AddToFreshDocument(fb_jsonsaxwriter_struct* writer, const char* key, uint8_t* variable) {
    fb_jsonsaxwriter_resetdocument_struct reset{writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
    std::string keyText = key;
    char datatype[] = "";
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = writer;
    p.sKey = &keyText[0];
    p.sDatatype = datatype;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(variable);
    fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
    return p.AddJsonKeyValueFromSymbol;
}

RTS_IEC_BOOL ComponentToJson(const Layout& layout, fb_jsonsaxwriter_struct* writer = &s_writer,
                             uint8_t* recs = nullptr) {
    return AddToFreshDocument(writer, "recs", recs != nullptr ? recs : layout.recs);
}

RTS_IEC_BOOL ComponentFromJson(const Layout& layout, std::string& text, uint8_t* variable = nullptr) {
    fb_jsonreadwritedatatype_setsymbolfromjson_struct p{};
    p.pInstance = &s_block;
    p.pJson = &text[0];
    p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(variable != nullptr ? variable : layout.data);
    fb_jsonreadwritedatatype__setsymbolfromjson(&p);
    return p.SetSymbolFromJson;
}

// Sets the writer's format; false when refused.
bool SetWriterFormat(RTS_IEC_DWORD format) {
    fb_jsonsaxwriter_setformat_struct p{&s_writer, format, 0};
    fb_jsonsaxwriter__setformat(&p);
    return p.SetFormat == 1;
}

// The writer's document text.
std::string WriterText() {
    fb_jsonsaxwriter_getdocumentlength_struct length{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&length);
    std::vector<char> buffer(length.GetDocumentLength + 1);
    fb_jsonsaxwriter_copydocument_struct copy{&s_writer, buffer.data(), length.GetDocumentLength + 1, 0, 0};
    fb_jsonsaxwriter__copydocument(&copy);
    return std::string(buffer.data(), length.GetDocumentLength);
}

// ---- bare RapidJSON ------------------------------------------------------------------------

rapidjson::Value Name(const char* name, rapidjson::Document::AllocatorType& allocator) {
    return rapidjson::Value(name, static_cast<rapidjson::SizeType>(std::strlen(name)), allocator);
}

// The array built by hand from memory into `document`'s allocator.
rapidjson::Value BareBuild(const Layout& layout, rapidjson::Document::AllocatorType& allocator) {
    rapidjson::Value array(rapidjson::kArrayType);
    array.Reserve(kElements, allocator);
    for (int i = 0; i < kElements; ++i) {
        const uint8_t* element = layout.recs + i * layout.stride;
        rapidjson::Value object(rapidjson::kObjectType);
        object.AddMember(Name("id", allocator), rapidjson::Value(Read<int32_t>(element + layout.id)),
                         allocator);
        object.AddMember(Name("temp", allocator), rapidjson::Value(Read<double>(element + layout.temp)),
                         allocator);
        object.AddMember(Name("level", allocator),
                         rapidjson::Value(static_cast<double>(Read<float>(element + layout.level))),
                         allocator);
        object.AddMember(Name("count", allocator), rapidjson::Value(Read<uint32_t>(element + layout.count)),
                         allocator);
        object.AddMember(Name("ok", allocator), rapidjson::Value(element[layout.ok] != 0), allocator);
        const char* name = reinterpret_cast<const char*>(element + layout.name);
        object.AddMember(
            Name("name", allocator),
            rapidjson::Value(name, static_cast<rapidjson::SizeType>(strnlen(name, layout.nameSize)),
                             allocator),
            allocator);
        array.PushBack(object, allocator);
    }
    return array;
}

// The hand-written counterpart of the component's walk: every value of the parsed text
// into memory.
void BareWrite(const Layout& layout, const rapidjson::Document& document) {
    const rapidjson::Value& array = document["data"]["recs"];
    for (rapidjson::SizeType i = 0; i < array.Size(); ++i) {
        const rapidjson::Value& object = array[i];
        uint8_t* element = layout.recs + i * layout.stride;
        Write<int32_t>(element + layout.id, object["id"].GetInt());
        Write<double>(element + layout.temp, object["temp"].GetDouble());
        Write<float>(element + layout.level, static_cast<float>(object["level"].GetDouble()));
        Write<uint32_t>(element + layout.count, object["count"].GetUint());
        element[layout.ok] = object["ok"].GetBool() ? 1 : 0;
        const rapidjson::Value& name = object["name"];
        const size_t n = std::min<size_t>(name.GetStringLength(), layout.nameSize - 1);
        std::memcpy(element + layout.name, name.GetString(), n);
        element[layout.name + n] = 0;
    }
}

// ---- benchmarks ----------------------------------------------------------------------------

void ComponentToJsonBench(benchmark::State& state) {
    const Layout& layout = s_fixture->layout;
    for (auto _ : state) {
        if (ComponentToJson(layout) != 1) {
            state.SkipWithError("AddJsonKeyValueFromSymbol refused");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}

void BareToJsonBench(benchmark::State& state) {
    const Layout& layout = s_fixture->layout;
    std::unique_ptr<rapidjson::Document> document;
    for (auto _ : state) {
        document.reset(new rapidjson::Document());
        document->SetObject();
        rapidjson::Value array = BareBuild(layout, document->GetAllocator());
        document->AddMember(Name("recs", document->GetAllocator()), array, document->GetAllocator());
        benchmark::DoNotOptimize(document->MemberCount());
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}

void ComponentFromJsonBench(benchmark::State& state) {
    const Layout& layout = s_fixture->layout;
    std::string text = s_fixture->setText;
    for (auto _ : state) {
        if (ComponentFromJson(layout, text) != 1) {
            state.SkipWithError("SetSymbolFromJson refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// RapidJSON's default parse of text into a new document each iteration, then `use` of it.
template <typename Use>
void TimeBareParse(benchmark::State& state, const std::string& text, Use use) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        if (document.HasParseError()) {
            state.SkipWithError("the text does not parse");
            break;
        }
        use(document);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BareParseBench(benchmark::State& state) {
    TimeBareParse(state, s_fixture->setText, [](const rapidjson::Document& document) {
        benchmark::DoNotOptimize(document.MemberCount());
    });
}

void BareParseAndWriteBench(benchmark::State& state) {
    const Layout& layout = s_fixture->layout;
    TimeBareParse(state, s_fixture->setText,
                  [&layout](const rapidjson::Document& document) { BareWrite(layout, document); });
}

// The parser the component must use: iterative, so that the nesting of a text never
// decides the depth of the calling task's stack.
void BareIterativeParseBench(benchmark::State& state) {
    const std::string& text = s_fixture->setText;
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
        if (document.HasParseError()) {
            state.SkipWithError("the text does not parse");
            break;
        }
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The component's reader alone over the same text, its events taken by a handler that
// does nothing: what the walk into the variable adds to reading the text.
void ReaderOnlyBench(benchmark::State& state) {
    const std::string& text = s_fixture->setText;
    std::vector<char> copy(text.size() + 16);
    std::vector<char> open;
    for (auto _ : state) {
        std::memcpy(copy.data(), text.data(), text.size());
        std::memset(copy.data() + text.size(), 0, 16);
        CJsonCheckOnly handler;
        CJsonRead read = ReadJsonEvents(copy.data(), open, handler);
        benchmark::DoNotOptimize(read);
    }
}

#ifdef ZENTRIK_BENCH_SIMDJSON
// simdjson's DOM parse of the same text (its padded copy made once, outside the loop;
// the parser reused, as simdjson recommends).
void SimdjsonParseBench(benchmark::State& state) {
    const simdjson::padded_string text(s_fixture->setText);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(text).get(root) != simdjson::SUCCESS) {
            state.SkipWithError("the text does not parse");
            break;
        }
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
#endif

// An object of `count` members under the variable's name, none of which names an element
// of the array ("k17":17 where the elements are "small[17]").
std::string UnmatchedMembers(const char* variable, int count) {
    std::string text = std::string("{\"") + variable + "\":{";
    for (int i = 0; i < count; ++i) {
        text += (i > 0 ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    }
    return text + "}}";
}

RTS_IEC_BOOL ComponentReport(std::string& text, uint8_t* variable) {
    std::unique_ptr<fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct> p(
        new fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct());
    p->pInstance = &s_block;
    p->pJson = &text[0];
    p->nSize = static_cast<RTS_IEC_UDINT>(text.size());
    p->pData = reinterpret_cast<RTS_IEC_UDINT*>(variable);
    fb_jsonreadwritedatatype__setsymbolfromjsonreport(p.get());
    return p->SetSymbolFromJsonReport;
}

// Arguments: the element count (5000 or 50000) and 1 for the report.
void MatchingBench(benchmark::State& state) {
    const bool big = state.range(0) == kBigElements;
    const bool report = state.range(1) != 0;
    std::string text = big ? s_fixture->bigText : s_fixture->smallText;
    uint8_t* variable = big ? s_fixture->big : s_fixture->small;
    for (auto _ : state) {
        if ((report ? ComponentReport(text, variable)
                    : ComponentFromJson(s_fixture->layout, text, variable)) != 1) {
            state.SkipWithError("SetSymbolFromJson refused");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// ---- small messages ------------------------------------------------------------------------

// The members of ST_MachineState in order.
const char* const kMachineMembers[10] = {
    "machineId", "setpointTemperature", "fillLevel",     "running",       "operatorName",
    "cycleTime", "lastChange",          "operatingMode", "partsProduced", "totalEnergyWh"};

// RapidJSON's writer writing {"machine":{...}} from the variable's memory, as the
// component's writer does.
template <typename Writer>
void BareSerializeMachine(Writer& writer) {
    const uint8_t* at = s_fixture->machine;
    const size_t* offset = s_fixture->machineOffsets;
    writer.StartObject();
    writer.Key("machine", 7);
    writer.StartObject();
    writer.Key(kMachineMembers[0], 9);
    writer.Int(Read<int32_t>(at + offset[0]));
    writer.Key(kMachineMembers[1], 19);
    writer.Double(Read<double>(at + offset[1]));
    writer.Key(kMachineMembers[2], 9);
    writer.Double(static_cast<double>(Read<float>(at + offset[2])));
    writer.Key(kMachineMembers[3], 7);
    writer.Bool(at[offset[3]] != 0);
    writer.Key(kMachineMembers[4], 12);
    const char* name = reinterpret_cast<const char*>(at + offset[4]);
    writer.String(name, static_cast<rapidjson::SizeType>(strnlen(name, s_fixture->operatorNameSize)));
    writer.Key(kMachineMembers[5], 9);
    writer.Uint(Read<uint32_t>(at + offset[5]));
    writer.Key(kMachineMembers[6], 10);
    writer.Uint(Read<uint32_t>(at + offset[6]));
    writer.Key(kMachineMembers[7], 13);
    writer.Int(Read<int16_t>(at + offset[7]));
    writer.Key(kMachineMembers[8], 13);
    writer.Uint(Read<uint32_t>(at + offset[8]));
    writer.Key(kMachineMembers[9], 13);
    writer.Int64(Read<int64_t>(at + offset[9]));
    writer.EndObject();
    writer.EndObject();
}

// The hand-written counterpart of SetSymbolFromJson for the small message: each value
// found by its name and written into the variable's memory.
void BareWriteMachine(const rapidjson::Document& document) {
    const rapidjson::Value& object = document["machine"];
    uint8_t* at = s_fixture->machine;
    const size_t* offset = s_fixture->machineOffsets;
    Write<int32_t>(at + offset[0], object[kMachineMembers[0]].GetInt());
    Write<double>(at + offset[1], object[kMachineMembers[1]].GetDouble());
    Write<float>(at + offset[2], static_cast<float>(object[kMachineMembers[2]].GetDouble()));
    at[offset[3]] = object[kMachineMembers[3]].GetBool() ? 1 : 0;
    const rapidjson::Value& name = object[kMachineMembers[4]];
    const size_t n = std::min<size_t>(name.GetStringLength(), s_fixture->operatorNameSize - 1);
    std::memcpy(at + offset[4], name.GetString(), n);
    at[offset[4] + n] = 0;
    Write<uint32_t>(at + offset[5], object[kMachineMembers[5]].GetUint());
    Write<uint32_t>(at + offset[6], object[kMachineMembers[6]].GetUint());
    Write<int16_t>(at + offset[7], static_cast<int16_t>(object[kMachineMembers[7]].GetInt()));
    Write<uint32_t>(at + offset[8], object[kMachineMembers[8]].GetUint());
    Write<int64_t>(at + offset[9], object[kMachineMembers[9]].GetInt64());
}

// Reset, add the variable, read the text out: the component's cycle of a small message.
RTS_IEC_BOOL ComponentMachineToJson(char* out, size_t size, size_t& length) {
    fb_jsonsaxwriter_resetdocument_struct reset{&s_writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
    char key[] = "machine";
    char datatype[] = "ST_MachineState";
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = &s_writer;
    p.sKey = key;
    p.sDatatype = datatype;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_fixture->machine);
    fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
    fb_jsonsaxwriter_getdocumentlength_struct documentLength{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&documentLength);
    fb_jsonsaxwriter_copydocument_struct copy{&s_writer, out, static_cast<RTS_IEC_UDINT>(size), 0, 0};
    fb_jsonsaxwriter__copydocument(&copy);
    length = documentLength.GetDocumentLength;
    return p.AddJsonKeyValueFromSymbol && copy.CopyDocument;
}

void SmallToJsonComponentBench(benchmark::State& state) {
    char out[1024];
    size_t length = 0;
    for (auto _ : state) {
        if (ComponentMachineToJson(out, sizeof(out), length) != 1) {
            state.SkipWithError("AddJsonKeyValueFromSymbol refused");
            break;
        }
        benchmark::DoNotOptimize(out[length / 2]);
    }
}

void SmallToJsonBareBench(benchmark::State& state) {
    char out[1024];
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer;
    for (auto _ : state) {
        buffer.Clear();
        writer.Reset(buffer);
        BareSerializeMachine(writer);
        std::memcpy(out, buffer.GetString(), buffer.GetSize() + 1);
        benchmark::DoNotOptimize(out[buffer.GetSize() / 2]);
    }
}

void SmallFromJsonComponentBench(benchmark::State& state) {
    std::string text = s_fixture->machineText;
    for (auto _ : state) {
        if (ComponentFromJson(s_fixture->layout, text, s_fixture->machine) != 1) {
            state.SkipWithError("SetSymbolFromJson refused");
            break;
        }
        benchmark::ClobberMemory();
    }
}

void SmallFromJsonBareBench(benchmark::State& state) {
    TimeBareParse(state, s_fixture->machineText,
                  [](const rapidjson::Document& document) { BareWriteMachine(document); });
}

// Fills the small message's variable and checks both directions: the component's text
// equals RapidJSON's, and a write of it into zeroed memory restores every byte.
bool PrepareSmallMessage(Fixture& fixture, std::string& why) {
    CSimApplication& app = CSimApplication::instance();
    fixture.machine = app.address("App.Globals.machine");
    for (int i = 0; i < 10; ++i) {
        fixture.machineOffsets[i] = static_cast<size_t>(
            app.address(std::string("App.Globals.machine.") + kMachineMembers[i]) - fixture.machine);
    }
    fixture.operatorNameSize = app.size("App.Globals.machine.operatorName");
    uint8_t* at = fixture.machine;
    const size_t* offset = fixture.machineOffsets;
    Write<int32_t>(at + offset[0], 40417);
    Write<double>(at + offset[1], 182.35);
    Write<float>(at + offset[2], 0.6875f);
    at[offset[3]] = 1;
    std::snprintf(reinterpret_cast<char*>(at + offset[4]), fixture.operatorNameSize, "%s",
                  "Line 4 / Station 12a");
    Write<uint32_t>(at + offset[5], 1250);
    Write<uint32_t>(at + offset[6], 1765195200);
    Write<int16_t>(at + offset[7], -3);
    Write<uint32_t>(at + offset[8], 3912004);
    Write<int64_t>(at + offset[9], 81234567890123LL);
    std::vector<uint8_t> filled(at, at + app.size("App.Globals.machine"));

    char out[1024];
    size_t length = 0;
    if (ComponentMachineToJson(out, sizeof(out), length) != 1) {
        why = "AddJsonKeyValueFromSymbol refused the small message";
        return false;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    BareSerializeMachine(writer);
    fixture.machineText.assign(out, length);
    if (fixture.machineText != buffer.GetString()) {
        why = "the small message's text differs from RapidJSON's: " + fixture.machineText + " against " +
              buffer.GetString();
        return false;
    }
    std::memset(at, 0, filled.size());
    std::string text = fixture.machineText;
    if (ComponentFromJson(fixture.layout, text, at) != 1 ||
        std::memcmp(at, filled.data(), filled.size()) != 0) {
        why = "SetSymbolFromJson did not restore the small message";
        return false;
    }
    rapidjson::Document document;
    document.Parse(text.c_str());
    std::memset(at, 0, filled.size());
    BareWriteMachine(document);
    if (std::memcmp(at, filled.data(), filled.size()) != 0) {
        why = "the hand-written writes did not restore the small message";
        return false;
    }
    return true;
}

// The array of ST_Rec to JSON with the writer's format READABLE.
void ReadableToJsonBench(benchmark::State& state) {
    const Layout& layout = s_fixture->layout;
    SetWriterFormat(ZENTRIK_FORMAT_READABLE);
    for (auto _ : state) {
        if (ComponentToJson(layout) != 1) {
            state.SkipWithError("AddJsonKeyValueFromSymbol refused");
            break;
        }
    }
    SetWriterFormat(0);
    state.SetItemsProcessed(state.iterations() * kElements);
}

// Arguments: the format (0 or ISO_8601) and 1 for JSON to variable of that format's text.
void StampsBench(benchmark::State& state) {
    const RTS_IEC_DWORD format = static_cast<RTS_IEC_DWORD>(state.range(0));
    const bool fromJson = state.range(1) != 0;
    std::string text = s_fixture->stampTexts[format != 0 ? 1 : 0];
    SetWriterFormat(format);
    for (auto _ : state) {
        if ((fromJson ? ComponentFromJson(s_fixture->layout, text, s_fixture->stamps)
                      : AddToFreshDocument(&s_writer, "stamps", s_fixture->stamps)) != 1) {
            state.SkipWithError("the datatype call refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetWriterFormat(0);
    state.SetItemsProcessed(state.iterations() * kStamps);
}

// The stamps (one a day and a few seconds apart, from 2001 to 2028) as text in both forms;
// each text read back into zeroed memory restores every stamp.
bool PrepareStamps(Fixture& fixture, std::string& why) {
    for (int i = 0; i < kStamps; ++i) {
        Write<uint32_t>(fixture.stamps + 4 * i, 978307200u + static_cast<uint32_t>(i) * 86407u);
    }
    const std::vector<uint8_t> stamps(fixture.stamps, fixture.stamps + 4 * kStamps);
    const RTS_IEC_DWORD formats[2] = {0, ZENTRIK_FORMAT_ISO_8601};
    for (int f = 0; f < 2; ++f) {
        if (!SetWriterFormat(formats[f]) || AddToFreshDocument(&s_writer, "stamps", fixture.stamps) != 1) {
            why = "AddJsonKeyValueFromSymbol refused the stamps";
            return false;
        }
        fixture.stampTexts[f] = WriterText();
        std::memset(fixture.stamps, 0, stamps.size());
        if (ComponentFromJson(fixture.layout, fixture.stampTexts[f], fixture.stamps) != 1 ||
            std::memcmp(fixture.stamps, stamps.data(), stamps.size()) != 0) {
            why = "SetSymbolFromJson did not restore the stamps";
            return false;
        }
    }
    return SetWriterFormat(0);
}

// ---- set-up --------------------------------------------------------------------------------

bool Prepare(std::string& why) {
    CSimApplication& app = CSimApplication::instance();
    app.start(kDeclarations);
    Fixture* fixture = new Fixture();
    Layout& layout = fixture->layout;
    layout.data = app.address("App.Globals.data");
    layout.recs = app.address("App.Globals.data.recs[1]");
    layout.stride = static_cast<size_t>(app.address("App.Globals.data.recs[2]") - layout.recs);
    const auto offset = [&](const char* member) {
        return static_cast<size_t>(app.address(std::string("App.Globals.data.recs[1].") + member) -
                                   layout.recs);
    };
    layout.id = offset("id");
    layout.temp = offset("temp");
    layout.level = offset("level");
    layout.count = offset("count");
    layout.ok = offset("ok");
    layout.name = offset("name");
    layout.nameSize = app.size("App.Globals.data.recs[1].name");
    layout.memorySize = app.memorySize();
    // Values of every kind of length: negative and positive integers, doubles with many
    // digits, singles, booleans, names of several lengths.
    for (int i = 0; i < kElements; ++i) {
        uint8_t* element = layout.recs + i * layout.stride;
        Write<int32_t>(element + layout.id, i * 7919 - 30000000);
        Write<double>(element + layout.temp, i * 0.37 + 1.0 / 3);
        Write<float>(element + layout.level, static_cast<float>(i) / 8);
        Write<uint32_t>(element + layout.count, static_cast<uint32_t>(i) * 104729u);
        element[layout.ok] = i % 3 == 0 ? 1 : 0;
        std::snprintf(reinterpret_cast<char*>(element + layout.name), layout.nameSize, "pump-%d%s", i,
                      i % 2 == 0 ? "-a" : "");
    }
    layout.twin = app.address("App.Globals.twin");
    layout.twinRecs = app.address("App.Globals.twin.recs[1]");
    std::memcpy(layout.twinRecs, layout.recs, kElements * layout.stride);
    fixture->small = app.address("App.Globals.small");
    fixture->big = app.address("App.Globals.big");
    fixture->smallText = UnmatchedMembers("small", kSmallElements);
    fixture->bigText = UnmatchedMembers("big", kBigElements);
    fixture->stamps = app.address("App.Globals.stamps");
    fixture->memory.assign(app.memory(), app.memory() + app.memorySize());
    s_fixture = fixture;

    CDomDriverMgr::instance()->LoadSymbols();  // on this thread: no loader to wait for
    if (!PrepareSmallMessage(*fixture, why)) {
        return false;
    }
    fixture->memory.assign(app.memory(), app.memory() + app.memorySize());  // with the small message
    if (ComponentToJson(layout) != 1) {
        why = "AddJsonKeyValueFromSymbol refused the array";
        return false;
    }
    const std::string component = WriterText();
    rapidjson::Document bare;
    bare.SetObject();
    rapidjson::Value array = BareBuild(layout, bare.GetAllocator());
    bare.AddMember(Name("recs", bare.GetAllocator()), array, bare.GetAllocator());
    if (component != Serialize(bare)) {
        why = "the component's text differs from the hand-built one";
        return false;
    }
    fixture->arrayText = component.substr(std::strlen("{\"recs\":"), component.size() - 9);
    fixture->setText = "{\"data\":{\"recs\":" + fixture->arrayText + "}}";
    fixture->twinText = "{\"twin\":{\"recs\":" + fixture->arrayText + "}}";

    // The write restores every byte of zeroed elements.
    std::memset(layout.recs, 0, kElements * layout.stride);
    std::string text = fixture->setText;
    if (ComponentFromJson(layout, text) != 1 ||
        std::memcmp(app.memory(), fixture->memory.data(), fixture->memory.size()) != 0) {
        why = "SetSymbolFromJson did not restore the array";
        return false;
    }
    std::memset(layout.twinRecs, 0, kElements * layout.stride);
    text = fixture->twinText;
    if (ComponentFromJson(layout, text, layout.twin) != 1 ||
        std::memcmp(app.memory(), fixture->memory.data(), fixture->memory.size()) != 0) {
        why = "SetSymbolFromJson did not restore the second variable";
        return false;
    }
    return PrepareStamps(*fixture, why);
}

// Calls per second of `tasks` threads, each making `calls` calls of `call(task)` at once.
double Throughput(int tasks, int calls, const std::function<bool(int)>& call) {
    std::atomic<int> ready{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < tasks; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < tasks) {
            }
            for (int i = 0; i < calls; ++i) {
                if (!call(t)) {
                    failed = true;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return failed ? 0 : tasks * calls / seconds;
}

// Two tasks converting two different variables against one task: the best of five
// alternating runs of each, so that a neighbour's burst on the shared machine counts
// less.
void PrintParallelThroughput() {
    const Layout& layout = s_fixture->layout;
    std::string texts[2] = {s_fixture->setText, s_fixture->twinText};
    fb_jsonsaxwriter_struct* writers[2] = {&s_writer, &s_twinWriter};
    uint8_t* variables[2] = {layout.data, layout.twin};
    uint8_t* arrays[2] = {layout.recs, layout.twinRecs};
    const std::function<bool(int)> fromJson = [&](int t) {
        return ComponentFromJson(layout, texts[t], variables[t]) == 1;
    };
    const std::function<bool(int)> toJson = [&](int t) {
        return ComponentToJson(layout, writers[t], arrays[t]) == 1;
    };
    const struct {
        const char* title;
        const std::function<bool(int)>* call;
        int calls;
    } rows[] = {{"JSON to variable (SetSymbolFromJson)", &fromJson, 40},
                {"variable to JSON (AddJsonKeyValueFromSymbol)", &toJson, 100}};
    std::printf("\nthe two variables' own locks: %s\n",
                CDomDriverMgr::instance()->index().LockOf(layout.data) ==
                        CDomDriverMgr::instance()->index().LockOf(layout.twin)
                    ? "SHARED"
                    : "different");
    std::printf(
        "\ntwo tasks on two variables      one task calls/s   two tasks calls/s   throughput  target\n");
    for (const auto& row : rows) {
        double one = 0, two = 0;
        for (int run = 0; run < 5; ++run) {
            one = std::max(one, Throughput(1, row.calls, *row.call));
            two = std::max(two, Throughput(2, row.calls, *row.call));
        }
        const double ratio = one > 0 ? two / one : 0;
        std::printf("%-44s %10.1f %19.1f %11.2fx  1.70x %s\n", row.title, one, two, ratio,
                    ratio >= 1.7 ? "met" : "MISSED");
    }
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
    benchmark::RegisterBenchmark("datatype/to_json/zentrik", ComponentToJsonBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/to_json/rapidjson", BareToJsonBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/from_json/zentrik", ComponentFromJsonBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/from_json/rapidjson", BareParseBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/from_json/rapidjson_iterative", BareIterativeParseBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/from_json/rapidjson_parse_write", BareParseAndWriteBench)
        ->Unit(benchmark::kMicrosecond);
#ifdef ZENTRIK_BENCH_SIMDJSON
    benchmark::RegisterBenchmark("datatype/from_json/simdjson", SimdjsonParseBench)
        ->Unit(benchmark::kMicrosecond);
#endif
    benchmark::RegisterBenchmark("datatype/from_json/reader_only", ReaderOnlyBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/small/to_json/zentrik", SmallToJsonComponentBench);
    benchmark::RegisterBenchmark("datatype/small/to_json/rapidjson", SmallToJsonBareBench);
    benchmark::RegisterBenchmark("datatype/small/from_json/zentrik", SmallFromJsonComponentBench);
    benchmark::RegisterBenchmark("datatype/small/from_json/rapidjson", SmallFromJsonBareBench);
    benchmark::RegisterBenchmark("datatype/to_json/zentrik_readable", ReadableToJsonBench)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/stamps", StampsBench)
        ->ArgsProduct({{0, ZENTRIK_FORMAT_ISO_8601}, {0, 1}})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("datatype/matching", MatchingBench)
        ->ArgsProduct({{kSmallElements, kBigElements}, {0, 1}})
        ->Unit(benchmark::kMicrosecond);

    const std::vector<BenchPair> pairs = {
        {"variable to JSON, ARRAY[1..10000] OF ST_Rec", "datatype/to_json/zentrik",
         "datatype/to_json/rapidjson", 1, 1.0},
        {"JSON to variable, the same text", "datatype/from_json/zentrik", "datatype/from_json/rapidjson", 1,
         0.8},
        {"  same, against bare iterative parse", "datatype/from_json/zentrik",
         "datatype/from_json/rapidjson_iterative", 1, 0},
        {"  same, against bare parse + hand-written writes", "datatype/from_json/zentrik",
         "datatype/from_json/rapidjson_parse_write", 1, 0},
        {"  same, against the reader alone", "datatype/from_json/zentrik", "datatype/from_json/reader_only",
         1, 0},
#ifdef ZENTRIK_BENCH_SIMDJSON
        {"  same, against simdjson's DOM parse alone", "datatype/from_json/zentrik",
         "datatype/from_json/simdjson", 1, 0},
        {"  reader alone against simdjson", "datatype/from_json/reader_only", "datatype/from_json/simdjson",
         1, 0},
        {"simdjson's DOM parse against RapidJSON's", "datatype/from_json/simdjson",
         "datatype/from_json/rapidjson", 1, 0},
#endif
        {"small message to JSON + read-out (10 members)", "datatype/small/to_json/zentrik",
         "datatype/small/to_json/rapidjson", 1, 1.3},
        {"small message JSON to variable (10 members)", "datatype/small/from_json/zentrik",
         "datatype/small/from_json/rapidjson", 1, 1.3},
        {"variable to JSON, READABLE against format 0", "datatype/to_json/zentrik_readable",
         "datatype/to_json/zentrik", 1, 1.5},
        {"10,000 DATE_AND_TIME to JSON, ISO 8601 against integers", "datatype/stamps/8/0",
         "datatype/stamps/0/0", 1, 1.5},
        {"10,000 DATE_AND_TIME from JSON, ISO 8601 against integers", "datatype/stamps/8/1",
         "datatype/stamps/0/1", 1, 1.5},
        {"object of 50,000 unknown members against 5,000", "datatype/matching/50000/0",
         "datatype/matching/5000/0", 1, 10.0},
        {"  the same with the report", "datatype/matching/50000/1", "datatype/matching/5000/1", 1, 10.0},
    };
    // The two-task figures run unless a filter leaves them out (one without "two_tasks").
    bool parallel = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--benchmark_filter=", 0) == 0 &&
            argument.find("two_tasks") == std::string::npos) {
            parallel = false;
        }
    }
    const int status = RunBenchmarksWithRatios(argc, argv, pairs);
    if (parallel) {
        PrintParallelThroughput();
    }
    if (!CSimHost::instance().logRecords().empty()) {
        std::fprintf(stderr, "the component logged during the benchmarks: %s\n",
                     CSimHost::instance().logTexts().front().c_str());
        return 1;
    }
    std::printf("text: %zu bytes; small message: %zu bytes\n", s_fixture->setText.size(),
                s_fixture->machineText.size());
    return status;
}
