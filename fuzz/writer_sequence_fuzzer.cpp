// Fuzz target: random sequences of calls of the writer block's 31 external functions on
// three instances, each call checked against a small model of the documents.
//
// The input is read as a list of calls. Each call takes a byte for the instance and a
// byte for the function, then the function's arguments: strings (new bytes from the
// input, a string used before, or a null pointer), numbers (extremes, NaN, infinities or
// raw bits), raw JSON texts from a table (valid, malformed, of the wrong kind, deep),
// byte buffers with their counts, decimal places, buffer sizes and the contents the
// caller leaves in the record's fields.
//
// The model keeps, per instance, whether it has a document, its tree of containers, the
// stack of open containers, the pending member and the decimal places. It builds the
// text it expects on its own (its own escaping and UTF-8 repair, its own base64 and hex,
// integers by std::to_string, doubles rounded through their exact decimal expansion and
// then written by a bare RapidJSON Writer, since the shortest round-trip digits are
// RapidJSON's own) and, after every call, compares the host log entries and every record
// field; after each read it compares the text, and every whole text read must parse as
// strict UTF-8 JSON. At the end of the input the text of every instance is read and
// compared once more.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "frame/HostImports.h"
#include "var/DomDriverMgr.h"

namespace writer_sequence {

constexpr int kInstances = 3;
constexpr size_t kPoolSize = 16;          // strings kept for reuse as keys or values
constexpr size_t kGetDocumentRoom = 255;  // GetDocument is a STRING(255)

// ---- the model -------------------------------------------------------------------------

// The code points of Windows-1252 0x80 to 0x9F; 0xFFFD where the code page has none.
const uint32_t kCp1252[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                              0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// The code point of the valid UTF-8 sequence at bytes[at], and its length; 0 when the
// bytes there are none (decoded, then held against the shortest form and the ranges).
size_t DecodeUtf8(const std::string& bytes, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(bytes[at]);
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF7 || at + length > bytes.size()) {
        return 0;
    }
    uint32_t codePoint = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const uint32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (codePoint < shortest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

std::string Utf8Of(uint32_t codePoint) {
    std::string out;
    if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
    return out;
}

// The JSON text of a member name or string value: quote and backslash escaped, the five
// short control escapes, every other byte below 0x20 as \u00XX with upper-case hex digits,
// valid UTF-8 and the slash as they are, any other byte as its Windows-1252 character.
std::string Quoted(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (size_t at = 0; at < bytes.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(bytes[at]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else if (c < 0x80) {
                    out += static_cast<char>(c);
                } else if (const size_t length = DecodeUtf8(bytes, at)) {
                    out += bytes.substr(at, length);
                    at += length - 1;
                } else {
                    out += Utf8Of(c < 0xA0 ? kCp1252[c - 0x80] : c);
                }
        }
    }
    return out + "\"";
}

// `value` rounded at `places` digits after the point, to nearest, halves away from
// zero, through its exact decimal expansion (printf writes every digit of a double).
double Rounded(double value, int places) {
    if (places >= 324 || !std::isfinite(value)) {
        return value;
    }
    std::vector<char> exact(1500);
    std::snprintf(exact.data(), exact.size(), "%.1100f", std::fabs(value));
    std::string digits(exact.data());
    const size_t point = digits.find('.');
    std::string kept = digits.substr(0, point + 1 + static_cast<size_t>(places));
    const bool up = digits[point + 1 + static_cast<size_t>(places)] >= '5';
    if (up) {
        size_t k = kept.size();
        while (k-- > 0) {
            if (kept[k] == '.') {
                continue;
            }
            if (kept[k] == '9') {
                kept[k] = '0';
            } else {
                ++kept[k];
                break;
            }
        }
        if (k == static_cast<size_t>(-1)) {
            kept.insert(kept.begin(), '1');
        }
    }
    const double magnitude = std::strtod(kept.c_str(), nullptr);
    if (magnitude == 0.0) {
        return 0.0;
    }
    return value < 0 ? -magnitude : magnitude;
}

// NaN and the infinities have no JSON form and are written as null.
std::string DoubleText(double value, int places = 324) {
    if (!std::isfinite(value)) {
        return "null";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.Double(Rounded(value, places));
    return std::string(buffer.GetString(), buffer.GetSize());
}

// What the component reads of an IEC string: the bytes before the terminator.
std::string Terminated(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// A value in the model: a fixed text, a double (written with the instance's decimal
// places when the text is made), or a container of the document.
struct ModelValue {
    std::string text;
    bool isDouble = false;
    double number = 0;
    int container = -1;
};

struct ModelContainer {
    bool array = false;
    std::vector<std::string> names;  // an object's member names, bytes
    std::vector<ModelValue> values;
};

struct ModelDocument {
    bool exists = false;
    std::vector<ModelContainer> containers;  // [0] is the root object
    std::vector<int> open;                   // open containers, the root first
    bool pending = false;
    size_t pendingIndex = 0;  // a member of the innermost container
    int places = 324;         // kept across resets

    void reset() {
        exists = true;
        containers.assign(1, ModelContainer());
        open.assign(1, 0);
        pending = false;
    }
    ModelContainer& innermost() { return containers[open.back()]; }
    size_t rootMembers() const { return containers.empty() ? 0 : containers[0].values.size(); }

    std::string text() const {
        std::string out;
        write(ModelValue{std::string(), false, 0, 0}, out);
        return out;
    }

   private:
    void write(const ModelValue& value, std::string& out) const {
        if (value.container < 0) {
            out += value.isDouble ? DoubleText(value.number, places) : value.text;
            return;
        }
        const ModelContainer& c = containers[static_cast<size_t>(value.container)];
        out += c.array ? '[' : '{';
        for (size_t i = 0; i < c.values.size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            if (!c.array) {
                out += Quoted(c.names[i]) + ":";
            }
            write(c.values[i], out);
        }
        out += c.array ? ']' : '}';
    }
};

ModelValue TextValue(const std::string& text) { return ModelValue{text, false, 0, -1}; }
ModelValue DoubleValue(double number) { return ModelValue{std::string(), true, number, -1}; }

struct Model {
    ModelDocument documents[kInstances];
};

// Raw JSON texts the input picks from, with what they are: 'o' an object, 'a' an array,
// 's' a scalar, 'e' not strict JSON.
struct RawText {
    const char* text;
    char kind;
};
const RawText kRawTexts[] = {
    {R"({"a":[1,-2,{"b":null}],"s":"\u00e4\n\u0000x","t":true,"f":false})", 'o'},
    {R"( {"x":1.23456789,"y":-0.5,"z":1e-7,"big":1e300} )", 'o'},
    {"{}", 'o'},
    {R"([0.125,2.5,-2.5,0.1,18446744073709551615,-9223372036854775808])", 'a'},
    {"[]", 'a'},
    {R"(["\ud83d\ude00",[[[]]],{"k":"\"\\/"}])", 'a'},
    {R"({"a":1,})", 'e'},
    {"[1", 'e'},
    {"{} {}", 'e'},
    {"", 'e'},
    {"[NaN]", 'e'},
    {"{'a':1}", 'e'},
    {"7", 's'},
    {R"("text")", 's'},
};
constexpr size_t kRawCount = sizeof(kRawTexts) / sizeof(kRawTexts[0]);

// ---- fuzz input ------------------------------------------------------------------------

// A string argument: absent (null pointer) or bytes. The bytes may hold a zero byte; the
// component must then stop at the first one.
struct StringArg {
    bool null = false;
    std::string bytes;
};

class CCallInput {
   public:
    CCallInput(const uint8_t* data, size_t size) : in_(data, size) {}

    bool empty() const { return in_.empty(); }
    uint8_t byte() { return in_.byte(); }
    std::string bytes(size_t count) { return in_.bytes(count); }
    template <typename T>
    T raw() {
        return in_.raw<T>();
    }

    StringArg string() {
        const uint8_t selector = in_.byte();
        StringArg arg;
        if (selector == 0xFF) {
            arg.null = true;
        } else if (selector >= 0xC0 && !pool_.empty()) {
            arg.bytes = pool_[(selector - 0xC0) % pool_.size()];
        } else {
            arg.bytes = in_.bytes(selector % 0xC0);
            if (pool_.size() < kPoolSize) {
                pool_.push_back(arg.bytes);
            } else {
                pool_[selector % kPoolSize] = arg.bytes;
            }
        }
        return arg;
    }

    int32_t dint() {
        switch (in_.byte() % 6) {
            case 0:
                return std::numeric_limits<int32_t>::min();
            case 1:
                return std::numeric_limits<int32_t>::max();
            case 2:
                return 0;
            case 3:
                return -1;
            default:
                return in_.raw<int32_t>();
        }
    }

    uint32_t udint() {
        switch (in_.byte() % 4) {
            case 0:
                return 0;
            case 1:
                return std::numeric_limits<uint32_t>::max();
            default:
                return in_.raw<uint32_t>();
        }
    }

    int64_t lint() {
        switch (in_.byte() % 6) {
            case 0:
                return std::numeric_limits<int64_t>::min();
            case 1:
                return std::numeric_limits<int64_t>::max();
            case 2:
                return static_cast<int64_t>(std::numeric_limits<int32_t>::min()) - 1;
            case 3:
                return static_cast<int64_t>(std::numeric_limits<uint32_t>::max()) + 1;
            default:
                return in_.raw<int64_t>();
        }
    }

    double lreal() {
        static const double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                          -std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          -0.0,
                                          0.0,
                                          DBL_MAX,
                                          -DBL_MAX,
                                          DBL_MIN,
                                          std::numeric_limits<double>::denorm_min(),
                                          1e21,
                                          1e20,
                                          1e-7,
                                          1e-6,
                                          0.1,
                                          2.0,
                                          9007199254740993.0,
                                          -1.5e300};
        constexpr size_t kCount = sizeof(kSpecial) / sizeof(kSpecial[0]);
        const uint8_t selector = in_.byte() % (kCount + 2);
        return selector < kCount ? kSpecial[selector] : in_.raw<double>();  // raw: any bits, NaN payloads too
    }

    float real() {
        static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         FLT_MAX,
                                         FLT_MIN,
                                         0.1f,
                                         -0.0f};
        constexpr size_t kCount = sizeof(kSpecial) / sizeof(kSpecial[0]);
        const uint8_t selector = in_.byte() % (kCount + 2);
        return selector < kCount ? kSpecial[selector] : in_.raw<float>();
    }

   private:
    CFuzzInput in_;
    std::vector<std::string> pool_;
};

// A string handed to the component the way IEC code hands it: a terminated byte buffer
// that the caller overwrites as soon as the call returns, so a component that kept the
// pointer instead of copying the bytes would show the overwritten bytes later.
class CIecString {
   public:
    explicit CIecString(const StringArg& arg) : null_(arg.null), buffer_(arg.bytes.begin(), arg.bytes.end()) {
        buffer_.push_back('\0');
    }
    ~CIecString() { std::memset(buffer_.data(), '~', buffer_.size()); }
    CIecString(const CIecString&) = delete;
    CIecString& operator=(const CIecString&) = delete;

    RTS_IEC_STRING* get() { return null_ ? nullptr : buffer_.data(); }

   private:
    bool null_;
    std::vector<char> buffer_;
};

// ---- checks ----------------------------------------------------------------------------

// The external functions, in the order the input's function byte selects them.
enum WriterFunction {
    kMain,
    kAddKey,
    kAddKeyNull,
    kAddString,
    kAddBool,
    kAddDint,
    kAddUdint,
    kAddLint,
    kAddReal,
    kAddLreal,
    kAddDateTime,
    kAddNull,
    kAddKeyString,
    kAddKeyBool,
    kAddKeyNumber,
    kAddKeyLreal,
    kAddKeyDateTime,
    kResetDocument,
    kGetDocument,
    kGetDocumentLength,
    kCopyDocument,
    kStartObject,
    kEndObject,
    kStartArray,
    kEndArray,
    kAddRawObject,
    kAddRawArray,
    kAddBase64,
    kAddHexBinary,
    kGetMaxDecimalPlaces,
    kSetMaxDecimalPlaces,
    kFunctions
};
static_assert(kFunctions == 31, "the writer block has 31 external functions");

const char* const kFunctionNames[kFunctions] = {"main",
                                                "addkey",
                                                "addkeynull",
                                                "addstring",
                                                "addbool",
                                                "adddint",
                                                "addudint",
                                                "addlint",
                                                "addreal",
                                                "addlreal",
                                                "adddatetime",
                                                "addnull",
                                                "addkeystring",
                                                "addkeybool",
                                                "addkeynumber",
                                                "addkeylreal",
                                                "addkeydatetime",
                                                "resetdocument",
                                                "getdocument",
                                                "getdocumentlength",
                                                "copydocument",
                                                "startobject",
                                                "endobject",
                                                "startarray",
                                                "endarray",
                                                "addrawobject",
                                                "addrawarray",
                                                "addbase64",
                                                "addhexbinary",
                                                "getmaxdecimalplaces",
                                                "setmaxdecimalplaces"};

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string Refusal(const std::string& text) {
    return SimLogRecord{kZentrikCmpId, kLogClassError, 0, kLogInfoIdCalls, text}.describe();
}

// One call being checked: where it is in the sequence, for the failure message. The
// reads at the end of the input have no function.
struct CallContext {
    size_t index;
    int instance;
    int function;

    std::string where() const {
        if (function < 0) {
            return "end of input, instance " + std::to_string(instance) + ": ";
        }
        return "call " + std::to_string(index) + " (" + kFunctionNames[function] + " on instance " +
               std::to_string(instance) + "): ";
    }
};

// The host log since the last call must be exactly `expected`; clears it for the next call.
void CheckLog(const CallContext& call, const std::vector<std::string>& expected) {
    CSimHost& host = CSimHost::instance();
    std::vector<std::string> actual;
    for (const SimLogRecord& record : host.logRecords()) {
        actual.push_back(record.describe());
    }
    host.clearLog();
    std::string message;
    if (actual != expected) {
        message = call.where() + "log differs\n  expected:";
        for (const std::string& line : expected) {
            message += "\n    " + line;
        }
        message += "\n  actual:";
        for (const std::string& line : actual) {
            message += "\n    " + line;
        }
    }
    FUZZ_CHECK(actual == expected, message);
}

void CheckText(const CallContext& call, const std::string& expected, const std::string& actual,
               const char* what) {
    FUZZ_CHECK(actual == expected, call.where() + what + " differs\n  expected: " + Printable(expected) +
                                       "\n  actual:   " + Printable(actual));
}

// Every whole text the component gives out is one JSON object of strict UTF-8 with the
// model's members at its root.
void CheckParses(const CallContext& call, const std::string& text, size_t members) {
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
    FUZZ_CHECK(!parsed.HasParseError(),
               call.where() + "text is not JSON (error " + std::to_string(parsed.GetParseError()) + " at " +
                   std::to_string(parsed.GetErrorOffset()) + "): " + Printable(text));
    FUZZ_CHECK(parsed.IsObject() && parsed.MemberCount() == members,
               call.where() + "text is not an object of " + std::to_string(members) +
                   " members: " + Printable(text));
}

// The model's value of a parsed raw text, its containers added to `document`.
ModelValue ModelOf(const rapidjson::Value& value, ModelDocument& document) {
    if (value.IsString()) {
        return TextValue(Quoted(std::string(value.GetString(), value.GetStringLength())));
    }
    if (value.IsNumber()) {
        if (value.IsDouble()) {
            return DoubleValue(value.GetDouble());
        }
        return TextValue(value.IsUint64() ? std::to_string(value.GetUint64())
                                          : std::to_string(value.GetInt64()));
    }
    if (value.IsNull()) {
        return TextValue("null");
    }
    if (value.IsBool()) {
        return TextValue(value.GetBool() ? "true" : "false");
    }
    const int index = static_cast<int>(document.containers.size());
    document.containers.push_back(ModelContainer());
    document.containers.back().array = value.IsArray();
    if (value.IsArray()) {
        for (const rapidjson::Value& element : value.GetArray()) {
            ModelValue made = ModelOf(element, document);
            document.containers[static_cast<size_t>(index)].values.push_back(made);
        }
    } else {
        for (const rapidjson::Value::Member& member : value.GetObject()) {
            ModelValue made = ModelOf(member.value, document);
            ModelContainer& c = document.containers[static_cast<size_t>(index)];
            c.names.push_back(std::string(member.name.GetString(), member.name.GetStringLength()));
            c.values.push_back(made);
        }
    }
    ModelValue container;
    container.container = index;
    return container;
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bits;
    for (unsigned char c : bytes) {
        for (int b = 7; b >= 0; --b) {
            bits += ((c >> b) & 1) ? '1' : '0';
        }
    }
    while (bits.size() % 6 != 0) {
        bits += '0';
    }
    std::string out;
    for (size_t i = 0; i < bits.size(); i += 6) {
        out += kAlphabet[std::stoi(bits.substr(i, 6), nullptr, 2)];
    }
    while (out.size() % 4 != 0) {
        out += '=';
    }
    return out;
}

std::string HexOf(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof(pair), "%02X", c);
        out += pair;
    }
    return out;
}

// ---- the run ---------------------------------------------------------------------------

// Runs one input: the call sequence on three instances that start without documents.
class CSequenceRun {
   public:
    CSequenceRun(const uint8_t* data, size_t size) : input_(data, size) {
        for (int i = 0; i < kInstances; ++i) {
            std::memset(&instances_[i], 0xA5 + i, sizeof(instances_[i]));
            std::memcpy(&pristine_[i], &instances_[i], sizeof(instances_[i]));
        }
    }

    void run() {
        for (size_t index = 0; !input_.empty(); ++index) {
            CallContext call{index, input_.byte() % kInstances, input_.byte() % kFunctions};
            runCall(call);
        }
        CallContext end{0, 0, -1};
        for (int i = 0; i < kInstances; ++i) {
            end.instance = i;
            if (model_.documents[i].exists) {
                const std::string expected = model_.documents[i].text();
                const std::string actual = readWhole(i);
                CheckText(end, expected, actual, "final text");
                CheckParses(end, actual, model_.documents[i].rootMembers());
            }
            FUZZ_CHECK(std::memcmp(&instances_[i], &pristine_[i], sizeof(instances_[i])) == 0,
                       end.where() + "the instance record was written");
        }
        CheckLog(end, {});
    }

   private:
    fb_jsonsaxwriter_struct* instance(int i) { return &instances_[i]; }
    ModelDocument& document(int i) { return model_.documents[i]; }

    void runCall(const CallContext& call) {
        const int i = call.instance;
        std::vector<std::string> log;
        switch (call.function) {
            case kMain:
                noAction<fb_jsonsaxwriter_main_struct>(call, fb_jsonsaxwriter__main);
                return;
            case kAddKey: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkey_struct p{instance(i), keyText.get()};
                modelAddKey(i, key, true, log);
                fb_jsonsaxwriter__addkey(&p);
                break;
            }
            case kAddKeyNull: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeynull_struct p{instance(i), keyText.get()};
                modelAddKey(i, key, false, log);
                fb_jsonsaxwriter__addkeynull(&p);
                break;
            }
            case kAddString: {
                const StringArg value = input_.string();
                CIecString text(value);
                fb_jsonsaxwriter_addstring_struct p{instance(i), text.get()};
                modelFill(i, value.null, TextValue(Quoted(Terminated(value.bytes))), log);
                fb_jsonsaxwriter__addstring(&p);
                break;
            }
            case kAddBool: {
                fb_jsonsaxwriter_addbool_struct p{instance(i), input_.raw<RTS_IEC_BOOL>()};
                modelFill(i, false, TextValue(std::to_string(static_cast<int>(p.value))), log);
                fb_jsonsaxwriter__addbool(&p);
                break;
            }
            case kAddDint: {
                fb_jsonsaxwriter_adddint_struct p{instance(i), input_.dint()};
                modelFill(i, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__adddint(&p);
                break;
            }
            case kAddUdint: {
                fb_jsonsaxwriter_addudint_struct p{instance(i), input_.udint()};
                modelFill(i, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__addudint(&p);
                break;
            }
            case kAddLint: {
                fb_jsonsaxwriter_addlint_struct p{instance(i), input_.lint()};
                modelFill(i, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__addlint(&p);
                break;
            }
            case kAddReal: {
                fb_jsonsaxwriter_addreal_struct p{instance(i), input_.real()};
                modelFill(i, false, DoubleValue(static_cast<double>(p.value)), log);
                fb_jsonsaxwriter__addreal(&p);
                break;
            }
            case kAddLreal: {
                fb_jsonsaxwriter_addlreal_struct p{instance(i), input_.lreal()};
                modelFill(i, false, DoubleValue(p.value), log);
                fb_jsonsaxwriter__addlreal(&p);
                break;
            }
            case kAddDateTime: {
                fb_jsonsaxwriter_adddatetime_struct p{instance(i), input_.udint()};
                modelFill(i, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__adddatetime(&p);
                break;
            }
            case kAddNull: {
                fb_jsonsaxwriter_addnull_struct p{instance(i)};
                modelFill(i, false, TextValue("null"), log);
                fb_jsonsaxwriter__addnull(&p);
                break;
            }
            case kAddKeyString: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                const StringArg value = input_.string();
                CIecString text(value);
                fb_jsonsaxwriter_addkeystring_struct p{instance(i), keyText.get(), text.get()};
                modelAppend(i, key, value.null, TextValue(Quoted(Terminated(value.bytes))), log);
                fb_jsonsaxwriter__addkeystring(&p);
                break;
            }
            case kAddKeyBool: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeybool_struct p{instance(i), keyText.get(), input_.raw<RTS_IEC_BOOL>()};
                modelAppend(i, key, false, TextValue(std::to_string(static_cast<int>(p.value))), log);
                fb_jsonsaxwriter__addkeybool(&p);
                break;
            }
            case kAddKeyNumber: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeynumber_struct p{instance(i), keyText.get(), input_.dint()};
                modelAppend(i, key, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__addkeynumber(&p);
                break;
            }
            case kAddKeyLreal: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeylreal_struct p{instance(i), keyText.get(), input_.lreal()};
                modelAppend(i, key, false, DoubleValue(p.value), log);
                fb_jsonsaxwriter__addkeylreal(&p);
                break;
            }
            case kAddKeyDateTime: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeydatetime_struct p{instance(i), keyText.get(), input_.udint()};
                modelAppend(i, key, false, TextValue(std::to_string(p.value)), log);
                fb_jsonsaxwriter__addkeydatetime(&p);
                break;
            }
            case kResetDocument: {
                fb_jsonsaxwriter_resetdocument_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                fb_jsonsaxwriter__resetdocument(&p);
                document(i).reset();
                FUZZ_CHECK(p.ResetDocument == 1,
                           call.where() + "ResetDocument is " + std::to_string(p.ResetDocument));
                break;
            }
            case kGetDocument:
                getDocument(call, log);
                break;
            case kGetDocumentLength:
                getDocumentLength(call, log);
                break;
            case kCopyDocument:
                copyDocument(call, log);
                break;
            case kStartObject: {
                fb_jsonsaxwriter_startobject_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                const RTS_IEC_UINT expected = modelStart(i, false, log);
                fb_jsonsaxwriter__startobject(&p);
                FUZZ_CHECK(p.StartObject == expected,
                           call.where() + "StartObject " + std::to_string(p.StartObject));
                break;
            }
            case kEndObject: {
                fb_jsonsaxwriter_endobject_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                const RTS_IEC_UINT expected = modelEnd(i, false, log);
                fb_jsonsaxwriter__endobject(&p);
                FUZZ_CHECK(p.EndObject == expected,
                           call.where() + "EndObject " + std::to_string(p.EndObject));
                break;
            }
            case kStartArray: {
                fb_jsonsaxwriter_startarray_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                const RTS_IEC_UINT expected = modelStart(i, true, log);
                fb_jsonsaxwriter__startarray(&p);
                FUZZ_CHECK(p.StartArray == expected,
                           call.where() + "StartArray " + std::to_string(p.StartArray));
                break;
            }
            case kEndArray: {
                fb_jsonsaxwriter_endarray_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                const RTS_IEC_UINT expected = modelEnd(i, true, log);
                fb_jsonsaxwriter__endarray(&p);
                FUZZ_CHECK(p.EndArray == expected, call.where() + "EndArray " + std::to_string(p.EndArray));
                break;
            }
            case kAddRawObject:
            case kAddRawArray:
                addRaw(call, log);
                break;
            case kAddBase64:
            case kAddHexBinary:
                addBytes(call, log);
                break;
            case kGetMaxDecimalPlaces: {
                fb_jsonsaxwriter_getmaxdecimalplaces_struct p{instance(i), input_.raw<RTS_IEC_DINT>()};
                fb_jsonsaxwriter__getmaxdecimalplaces(&p);
                FUZZ_CHECK(p.GetMaxDecimalPlaces == document(i).places,
                           call.where() + "GetMaxDecimalPlaces " + std::to_string(p.GetMaxDecimalPlaces));
                break;
            }
            case kSetMaxDecimalPlaces: {
                const uint8_t selector = input_.byte();
                const RTS_IEC_DINT places = selector < 200   ? selector % 20
                                            : selector < 240 ? 300 + selector % 30
                                                             : input_.raw<RTS_IEC_DINT>();
                fb_jsonsaxwriter_setmaxdecimalplaces_struct p{instance(i), places,
                                                              input_.raw<RTS_IEC_UINT>()};
                RTS_IEC_UINT expected = 1;
                if (places < 0 || places > 324) {
                    expected = 0;
                    log.push_back(Refusal("Invalid argument"));
                } else {
                    document(i).places = places;
                }
                fb_jsonsaxwriter__setmaxdecimalplaces(&p);
                FUZZ_CHECK(p.SetMaxDecimalPlaces == expected,
                           call.where() + "SetMaxDecimalPlaces " + std::to_string(p.SetMaxDecimalPlaces));
                FUZZ_CHECK(p.decimalPlaces == places, call.where() + "decimalPlaces written");
                break;
            }
        }
        CheckLog(call, log);
    }

    // Key call (pending: addkey) and key-null call.
    void modelAddKey(int i, const StringArg& key, bool pending, std::vector<std::string>& log) {
        ModelDocument& d = document(i);
        if (key.null) {
            log.push_back(Refusal("Invalid argument"));
        } else if (!d.exists) {
            log.push_back(Refusal("The JSON object does not exist."));
        } else if (d.innermost().array) {
            log.push_back(Refusal("Key not allowed in an array"));
        } else {
            d.innermost().names.push_back(Terminated(key.bytes));
            d.innermost().values.push_back(TextValue("null"));
            if (pending) {
                d.pending = true;
                d.pendingIndex = d.innermost().values.size() - 1;
            }
        }
    }

    // Whether a value call finds a place for its value; logs why not.
    bool modelHasPlace(int i, std::vector<std::string>& log) {
        ModelDocument& d = document(i);
        if (!d.exists || (!d.innermost().array && !d.pending)) {
            log.push_back(Refusal("Add value mode and don't have key"));
            return false;
        }
        return true;
    }

    // Puts a value where it goes: the next element of an array, or the pending member,
    // filled where it stands.
    void modelPlace(int i, const ModelValue& value) {
        ModelDocument& d = document(i);
        if (d.innermost().array) {
            d.innermost().values.push_back(value);
        } else {
            d.innermost().values[d.pendingIndex] = value;
            d.pending = false;
        }
    }

    // Value call.
    void modelFill(int i, bool nullValue, const ModelValue& value, std::vector<std::string>& log) {
        if (nullValue) {
            log.push_back(Refusal("Invalid argument"));
        } else if (modelHasPlace(i, log)) {
            modelPlace(i, value);
        }
    }

    // Key-value call: appends; nothing without a document, and no log entry for that.
    void modelAppend(int i, const StringArg& key, bool nullValue, const ModelValue& value,
                     std::vector<std::string>& log) {
        ModelDocument& d = document(i);
        if (key.null || nullValue) {
            log.push_back(Refusal("Invalid argument"));
        } else if (!d.exists) {
        } else if (d.innermost().array) {
            log.push_back(Refusal("Key not allowed in an array"));
        } else {
            d.innermost().names.push_back(Terminated(key.bytes));
            d.innermost().values.push_back(value);
        }
    }

    RTS_IEC_UINT modelStart(int i, bool array, std::vector<std::string>& log) {
        ModelDocument& d = document(i);
        if (!d.exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            return 0;
        }
        if (!d.innermost().array && !d.pending) {
            log.push_back(Refusal("Object or array in an object needs a key first"));
            return 0;
        }
        ModelValue container;
        container.container = static_cast<int>(d.containers.size());
        d.containers.push_back(ModelContainer());
        d.containers.back().array = array;
        modelPlace(i, container);
        d.open.push_back(container.container);
        return 1;
    }

    RTS_IEC_UINT modelEnd(int i, bool array, std::vector<std::string>& log) {
        ModelDocument& d = document(i);
        if (!d.exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            return 0;
        }
        if (d.open.size() < 2 || d.innermost().array != array) {
            log.push_back(Refusal(array ? "No open array to end" : "No open object to end"));
            return 0;
        }
        d.open.pop_back();
        d.pending = false;
        return 1;
    }

    void addRaw(const CallContext& call, std::vector<std::string>& log) {
        const int i = call.instance;
        const bool array = call.function == kAddRawArray;
        const uint8_t selector = input_.byte();
        bool nullText = false;
        std::string text;
        const char* refusal = nullptr;
        if (selector == 0xFF) {
            nullText = true;
        } else if (selector % (kRawCount + 1) == kRawCount) {
            const size_t depth = 1 + 4 * static_cast<size_t>(input_.byte());  // deep, and of either kind
            text = std::string(depth, '[') + std::string(depth, ']');
            refusal = array ? nullptr : "Invalid argument";
        } else {
            const RawText& raw = kRawTexts[selector % (kRawCount + 1)];
            text = raw.text;
            if (raw.kind == 'e') {
                refusal = "Json error";
            } else if (raw.kind != (array ? 'a' : 'o')) {
                refusal = "Invalid argument";
            }
        }
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        if (nullText) {
            log.push_back(Refusal("Invalid argument"));
        } else if (modelHasPlace(i, log)) {
            if (refusal != nullptr) {
                log.push_back(Refusal(refusal));
            } else {
                rapidjson::Document parsed;
                parsed.Parse<rapidjson::kParseFullPrecisionFlag>(text.c_str(), text.size());
                FUZZ_CHECK(!parsed.HasParseError(), "the model's raw text does not parse: " + text);
                modelPlace(i, ModelOf(parsed, document(i)));
            }
        }
        if (array) {
            fb_jsonsaxwriter_addrawarray_struct p{instance(i), nullText ? nullptr : buffer.data()};
            fb_jsonsaxwriter__addrawarray(&p);
        } else {
            fb_jsonsaxwriter_addrawobject_struct p{instance(i), nullText ? nullptr : buffer.data()};
            fb_jsonsaxwriter__addrawobject(&p);
        }
        FUZZ_CHECK(nullText || std::string(buffer.data()) == text, call.where() + "raw text changed");
    }

    void addBytes(const CallContext& call, std::vector<std::string>& log) {
        const int i = call.instance;
        const bool hex = call.function == kAddHexBinary;
        const uint8_t selector = input_.byte();
        std::string bytes = input_.bytes(selector % 64);
        RTS_IEC_DINT count = static_cast<RTS_IEC_DINT>(bytes.size());
        bool nullBytes = false;
        if (selector >= 0xF0) {
            count = selector == 0xFF ? std::numeric_limits<RTS_IEC_DINT>::min() : -1;
        } else if (selector >= 0xE0) {
            nullBytes = true;  // with the count of the bytes, 0 included
        }
        std::vector<RTS_IEC_BYTE> buffer(bytes.begin(), bytes.end());
        if (count < 0 || (nullBytes && count > 0)) {
            log.push_back(Refusal("Invalid argument"));
        } else if (modelHasPlace(i, log)) {
            const std::string given = nullBytes ? std::string() : bytes;
            modelPlace(i, TextValue("\"" + (hex ? HexOf(given) : Base64(given)) + "\""));
        }
        RTS_IEC_BYTE* pointer = nullBytes || buffer.empty() ? nullptr : buffer.data();
        if (!nullBytes && buffer.empty()) {
            buffer.push_back(0);
            pointer = buffer.data();
        }
        if (hex) {
            fb_jsonsaxwriter_addhexbinary_struct p{instance(i), pointer, count};
            fb_jsonsaxwriter__addhexbinary(&p);
        } else {
            fb_jsonsaxwriter_addbase64_struct p{instance(i), pointer, count};
            fb_jsonsaxwriter__addbase64(&p);
        }
    }

    // The body has no action: it leaves its record as it was and writes no log entry.
    template <typename Record>
    void noAction(const CallContext& call, void (*function)(Record*)) {
        Record p;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&p);
        for (size_t b = 0; b < sizeof(p); ++b) {
            bytes[b] = input_.byte();
        }
        p.pInstance = instance(call.instance);
        Record before;
        std::memcpy(&before, &p, sizeof(p));
        function(&p);
        FUZZ_CHECK(std::memcmp(&before, &p, sizeof(p)) == 0, call.where() + "record changed");
        CheckLog(call, {});
    }

    void getDocument(const CallContext& call, std::vector<std::string>& log) {
        fb_jsonsaxwriter_getdocument_struct p;
        std::memset(p.GetDocument, input_.byte(), sizeof(p.GetDocument));
        p.pInstance = instance(call.instance);
        p.hrErrorCode = input_.raw<RTS_IEC_UINT>();
        fb_jsonsaxwriter_getdocument_struct before = p;
        fb_jsonsaxwriter__getdocument(&p);
        FUZZ_CHECK(p.hrErrorCode == before.hrErrorCode, call.where() + "hrErrorCode changed");
        if (!document(call.instance).exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            FUZZ_CHECK(std::memcmp(p.GetDocument, before.GetDocument, sizeof(p.GetDocument)) == 0,
                       call.where() + "GetDocument written without a document");
            return;
        }
        // A text longer than the field is cut to its first 255 bytes.
        const std::string expected = document(call.instance).text().substr(0, kGetDocumentRoom);
        FUZZ_CHECK(p.GetDocument[expected.size()] == '\0',
                   call.where() + "GetDocument not terminated at " + std::to_string(expected.size()));
        const std::string actual(p.GetDocument, expected.size());
        CheckText(call, expected, actual, "GetDocument");
        if (document(call.instance).text().size() <= kGetDocumentRoom) {
            CheckParses(call, actual, document(call.instance).rootMembers());
        }
    }

    void getDocumentLength(const CallContext& call, std::vector<std::string>& log) {
        fb_jsonsaxwriter_getdocumentlength_struct p{instance(call.instance), input_.raw<RTS_IEC_UDINT>(),
                                                    input_.raw<RTS_IEC_UINT>()};
        const RTS_IEC_UINT errorCode = p.hrErrorCode;
        fb_jsonsaxwriter__getdocumentlength(&p);
        FUZZ_CHECK(p.hrErrorCode == errorCode, call.where() + "hrErrorCode changed");
        size_t expected = 0;  // without a document the length reads 0
        if (document(call.instance).exists) {
            expected = document(call.instance).text().size();
        } else {
            log.push_back(Refusal("The JSON object does not exist."));
        }
        FUZZ_CHECK(p.GetDocumentLength == expected, call.where() + "GetDocumentLength " +
                                                        std::to_string(p.GetDocumentLength) + ", expected " +
                                                        std::to_string(expected));
    }

    // A copy into a buffer of the caller's. nDoc may be smaller than the text, exactly
    // its length plus terminator, or larger than the buffer really is (up to 4 GiB); the
    // buffer is only as large as what may be written, so the sanitizer catches any byte
    // written beyond.
    void copyDocument(const CallContext& call, std::vector<std::string>& log) {
        const bool exists = document(call.instance).exists;
        const std::string text = exists ? document(call.instance).text() : std::string();
        const uint8_t selector = input_.byte();
        bool nullBuffer = false;
        uint64_t nDoc = 0;
        switch (selector % 8) {
            case 0:
                nDoc = 0;
                break;
            case 1:
                nDoc = text.size();
                break;
            case 2:
                nDoc = text.size() + 1;
                break;
            case 3:
                nDoc = text.size() + 1 + input_.byte();
                break;
            case 4:
                nDoc = std::numeric_limits<RTS_IEC_UDINT>::max();
                break;
            case 5:
                nDoc = input_.byte();
                break;
            case 6:
                nullBuffer = true;
                nDoc = 0;
                break;
            default:
                nullBuffer = true;
                nDoc = 1 + input_.byte();
                break;
        }
        const char fill = static_cast<char>(input_.byte());
        const size_t mayWrite = static_cast<size_t>(std::min<uint64_t>(nDoc, text.size() + 1));
        std::vector<char> buffer(nullBuffer ? 0 : std::max<size_t>(mayWrite, 1), fill);
        fb_jsonsaxwriter_copydocument_struct p{instance(call.instance), nullBuffer ? nullptr : buffer.data(),
                                               static_cast<RTS_IEC_UDINT>(nDoc), input_.raw<RTS_IEC_UDINT>(),
                                               input_.raw<RTS_IEC_UINT>()};
        const RTS_IEC_UINT errorCode = p.hrErrorCode;
        fb_jsonsaxwriter__copydocument(&p);
        FUZZ_CHECK(p.hrErrorCode == errorCode, call.where() + "hrErrorCode changed");

        RTS_IEC_UDINT expectedResult = 1;
        size_t copied = mayWrite;
        if (nullBuffer && nDoc > 0) {
            log.push_back(Refusal("Invalid argument"));
            expectedResult = 0;
            copied = 0;
        } else if (!exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            expectedResult = 0;
            copied = 0;
        }
        FUZZ_CHECK(p.CopyDocument == expectedResult, call.where() + "CopyDocument " +
                                                         std::to_string(p.CopyDocument) + " with nDoc " +
                                                         std::to_string(nDoc));
        if (nullBuffer) {
            return;
        }
        std::string expected = (text + '\0').substr(0, copied);
        expected.append(buffer.size() - copied, fill);  // the rest of the buffer is untouched
        CheckText(call, expected, std::string(buffer.data(), buffer.size()), "copied buffer");
        if (copied == text.size() + 1) {
            CheckParses(call, text, document(call.instance).rootMembers());
        }
    }

    // The whole text, read as a control program reads a long document: length, then a
    // copy into a buffer of length + 1 bytes.
    std::string readWhole(int i) {
        fb_jsonsaxwriter_getdocumentlength_struct length{instance(i), 0, 0};
        fb_jsonsaxwriter__getdocumentlength(&length);
        std::vector<char> buffer(length.GetDocumentLength + 1, '#');
        fb_jsonsaxwriter_copydocument_struct copy{instance(i), buffer.data(), length.GetDocumentLength + 1, 0,
                                                  0};
        fb_jsonsaxwriter__copydocument(&copy);
        FUZZ_CHECK(copy.CopyDocument == 1 && buffer.back() == '\0',
                   "whole read of instance " + std::to_string(i) + " failed or is not terminated");
        return std::string(buffer.data(), length.GetDocumentLength);
    }

    CCallInput input_;
    Model model_;
    fb_jsonsaxwriter_struct instances_[kInstances];
    fb_jsonsaxwriter_struct pristine_[kInstances];
};

// The component, loaded into the simulated host once: entry, then import of the host
// functions, as a controller loads it.
bool LoadComponent() {
    CSimHost& host = CSimHost::instance();
    host.resetFunctions();
    host.loadComponent(ComponentEntry);
    FUZZ_CHECK(host.importFunctions() == ERR_OK, "the component did not import its host functions");
    return true;
}

int FuzzWriterSequence(const uint8_t* data, size_t size) {
    static const bool s_loaded = LoadComponent();
    (void)s_loaded;
    // Every input starts from a manager without writer states.
    CDomDriverMgr::instance()->clear();
    CSimHost::instance().clearLog();
    CSequenceRun(data, size).run();
    CDomDriverMgr::instance()->clear();
    return 0;
}

}  // namespace writer_sequence

ZENTRIK_FUZZ_TARGET(writer_sequence, writer_sequence::FuzzWriterSequence);
