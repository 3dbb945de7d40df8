// Fuzz target: the input is a JSON text, written through
// fb_jsonreadwritedatatype__setsymbolfromjson into a structured variable of a declared
// application that holds every elementary type (the long date and time classes too),
// STRING and WSTRING, enumerations and subranges, pointers and references, nested
// structures and arrays of one to three dimensions (of scalars, strings and
// structures). Guard variables lie before and after it.
//
// The text goes to five addresses in turn: the variable, a nested structure member, an
// element of an array of structures, an array member at the top, and an address inside a
// variable that starts no node. After each call:
// - the result and the log agree with RapidJSON's strict parser, run on its own over the
//   text up to its first zero byte (after a whole UTF-8 byte order mark, which the
//   component skips), with the component's decided deviations (tests/support/JsonOracle.h:
//   numbers by value, lone low surrogates refused): a text it rejects gives FALSE and exactly one
//   "Json error"; one it accepts gives TRUE and no log entry, or, at the address that
//   starts no node, FALSE and "Variable does not exist";
// - nothing outside the addressed variable has changed (the whole application memory is
//   compared, the guards included), nor any byte inside it that belongs to no writable
//   leaf (padding, pointers, references), and a refused call has changed nothing at all;
// - every STRING leaf holds a terminator within its size, every WSTRING leaf a zero code
//   unit, and every BOOL leaf 0 or 1;
// - a call with a report from the same memory gives the same result and leaves every
//   byte as the call without one (the report only watches the walk), and so does the
//   reader's ToVariable of the variable's member of the same text;
// - a second call with the same text changes nothing more (writes do not depend on what
//   the memory held);
// - at every address that starts a node, every byte of the variable holds what the rules
//   of JSON to variable make of the strict parser's model of the text, worked out here
//   from the declared types alone (CExpectedWrites): a structure takes the first member
//   of each of its members' names; an array a list of exactly its element count, one of
//   2 or 3 dimensions also nested lists of exactly its shape (the outer list of the first
//   extent, or where that is the element count, lists of one), the variable itself an
//   object of its elements' names; every leaf its value by the rules of its class, every
//   number read from its own spelling in the text (whatever the other numbers of the
//   text): true and false for BOOL; for the integer classes (times, dates, enumerations
//   and subranges too) every number whose value, taken exactly from its text, is whole and
//   within the range of the class's width (cut to their width), and for the 64-bit
//   classes also a string of a decimal integer; every number within range for REAL and
//   LREAL (its text converted by strtod); strings cut before the last byte or a zero byte
//   for STRING, and never inside a character; anything else leaves the leaf as it was.
//   The oracle does not work out a WSTRING given a string nor a time class given an
//   ISO 8601 text: those leaves are only held to the checks above.
// At the end of each input the variable is read back to JSON through a writer instance,
// in format 0, in READABLE and with every bit set; each text must parse, and writing it
// into the variable again must leave the memory exactly as it was: both directions agree
// on every value the fuzzed text left behind, in every format.
//
// Every input starts from the application's initial values, so an input replays alone.
// The text is handed over in a buffer of exactly its size, so AddressSanitizer sees any
// read beyond nSize.
#include <rapidjson/document.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimHost.h"
#include "frame/HostImports.h"
#include "json/JsonOutput.h"
#include "json/Utf8.h"
#include "support/JsonOracle.h"
#include "var/DomDriverMgr.h"

namespace json_to_variable {

const char* const kDeclarations = R"(
    TYPE E_Mode : (IDLE := 0, RUN, FAULT := 7); END_TYPE
    TYPE ST_Inner :
    STRUCT
        flag : BOOL := TRUE;
        code : INT := -3;
        label : STRING(7) := 'inner';
        wide : WSTRING(5) := "wi";
        grid : ARRAY[0..1, 0..2] OF SINT;
    END_STRUCT
    END_TYPE
    TYPE ST_Middle :
    STRUCT
        depth : USINT := 2;
        inner : ST_Inner;
        pair : ARRAY[1..2] OF ST_Inner;
    END_STRUCT
    END_TYPE
    TYPE ST_Target :
    STRUCT
        b : BOOL;
        by : BYTE := 16#7F;
        w : WORD;
        dw : DWORD;
        lw : LWORD;
        si : SINT := -5;
        i : INT := 300;
        di : DINT;
        li : LINT := -9000000000;
        usi : USINT;
        ui : UINT;
        udi : UDINT := 4000000000;
        uli : ULINT;
        r : REAL := 1.5;
        lr : LREAL := -0.25;
        s : STRING(10) := 'text';
        tiny : STRING(1);
        ws : WSTRING(6) := "wide";
        tm : TIME := T#1s;
        ltm : LTIME;
        day : DATE;
        stamp : DATE_AND_TIME;
        clock : TIME_OF_DAY;
        mode : E_Mode := RUN;
        sub : INT(-100..100) := 5;
        lday : LDATE := LD#2024-02-29;
        lstamp : LDT := LDT#2024-03-18-06:00:00.5;
        lclock : LTOD := LTOD#07:35:00.25;
        p : POINTER TO INT;
        ref : REFERENCE TO INT;
        inner : ST_Inner;
        middle : ST_Middle;
        list : ARRAY[1..4] OF DINT;
        names : ARRAY[-1..1] OF STRING(3);
        cube : ARRAY[0..1, 0..1, 0..1] OF UINT;
        items : ARRAY[0..2] OF ST_Inner;
        reals : ARRAY[0..1] OF LREAL;
    END_STRUCT
    END_TYPE
    VAR_GLOBAL
        guard_before : ARRAY[0..63] OF BYTE;
        target : ST_Target;
        guard_after : ARRAY[0..63] OF BYTE;
    END_VAR
)";

constexpr uint8_t kGuardByte = 0xA5;

// A leaf of the target: where it lies in the application's memory and its class.
struct Leaf {
    std::string name;
    size_t offset;
    size_t size;
    TypeClass3 type;
};

// An address the texts are written to, and the bytes the variable there spans.
struct Destination {
    const char* what;
    void* address;
    size_t begin;  // offsets into the application's memory
    size_t end;
    bool isNode;       // false: an address inside a variable that starts no node
    std::string name;  // the variable's full name (nodes)
};

// Everything set up once: the component in the host, the application loaded and indexed.
struct World {
    std::vector<Leaf> leaves;
    std::vector<Destination> destinations;
    std::vector<uint8_t> initialMemory;  // the memory every input starts from
    // writable[i]: byte i of the memory belongs to a leaf that a text may change.
    std::vector<bool> writable;
};

bool ClassIsWritten(TypeClass3 type) {
    switch (type) {
        case TYPE3_POINTER:
        case TYPE3_REFERENCE:
            return false;  // no JSON value is written into these
        default:
            return true;
    }
}

// The leaves of an ST_Inner whose full name is `path`.
void InnerLeaves(const std::string& path, std::vector<std::string>& names) {
    for (const char* member : {".flag", ".code", ".label", ".wide"}) {
        names.push_back(path + member);
    }
    for (int i = 0; i <= 1; ++i) {
        for (int j = 0; j <= 2; ++j) {
            names.push_back(path + ".grid[" + std::to_string(i) + "," + std::to_string(j) + "]");
        }
    }
}

std::vector<std::string> TargetLeafNames() {
    const std::string t = "App.Globals.target";
    std::vector<std::string> names;
    for (const char* member :
         {"b",   "by",    "w",     "dw",   "lw",  "si",   "i",      "di",     "li", "usi",
          "ui",  "udi",   "uli",   "r",    "lr",  "s",    "tiny",   "ws",     "tm", "ltm",
          "day", "stamp", "clock", "mode", "sub", "lday", "lstamp", "lclock", "p",  "ref"}) {
        names.push_back(t + "." + member);
    }
    InnerLeaves(t + ".inner", names);
    names.push_back(t + ".middle.depth");
    InnerLeaves(t + ".middle.inner", names);
    for (int k = 1; k <= 2; ++k) {
        InnerLeaves(t + ".middle.pair[" + std::to_string(k) + "]", names);
    }
    for (int k = 1; k <= 4; ++k) {
        names.push_back(t + ".list[" + std::to_string(k) + "]");
    }
    for (int k = -1; k <= 1; ++k) {
        names.push_back(t + ".names[" + std::to_string(k) + "]");
    }
    for (int i = 0; i <= 1; ++i) {
        for (int j = 0; j <= 1; ++j) {
            for (int k = 0; k <= 1; ++k) {
                names.push_back(t + ".cube[" + std::to_string(i) + "," + std::to_string(j) + "," +
                                std::to_string(k) + "]");
            }
        }
    }
    for (int k = 0; k <= 2; ++k) {
        InnerLeaves(t + ".items[" + std::to_string(k) + "]", names);
    }
    for (int k = 0; k <= 1; ++k) {
        names.push_back(t + ".reals[" + std::to_string(k) + "]");
    }
    return names;
}

size_t OffsetOf(CSimApplication& app, const std::string& name) {
    return static_cast<size_t>(app.address(name) - app.memory());
}

Destination MakeDestination(CSimApplication& app, const char* what, const std::string& name) {
    const size_t begin = OffsetOf(app, name);
    return Destination{what, app.address(name), begin, begin + app.size(name), true, name};
}

// Runs one complete symbol load on this thread, as the loader thread would.
void LoadSymbols() {
    CDomDriverMgr::instance()->LoadSymbols();
    CSimHost::instance().clearLog();
}

World& Setup() {
    static World* s_world = [] {
        CSimHost& host = CSimHost::instance();
        host.resetFunctions();
        host.loadComponent(ComponentEntry);
        FUZZ_CHECK(host.importFunctions() == ERR_OK, "the component did not import its host functions");
        CSimApplication& app = CSimApplication::instance();
        app.start(kDeclarations);
        std::memset(app.address("App.Globals.guard_before"), kGuardByte, 64);
        std::memset(app.address("App.Globals.guard_after"), kGuardByte, 64);

        World* world = new World();
        world->writable.assign(app.memorySize(), false);
        for (const std::string& name : TargetLeafNames()) {
            const Leaf leaf{name, OffsetOf(app, name), app.size(name), app.typeClass(name)};
            if (ClassIsWritten(leaf.type)) {
                std::fill(world->writable.begin() + static_cast<long>(leaf.offset),
                          world->writable.begin() + static_cast<long>(leaf.offset + leaf.size), true);
            }
            world->leaves.push_back(leaf);
        }
        const size_t inside = OffsetOf(app, "App.Globals.target.i") + 1;
        world->destinations = {
            MakeDestination(app, "target", "App.Globals.target"),
            MakeDestination(app, "target.middle", "App.Globals.target.middle"),
            MakeDestination(app, "target.items[1]", "App.Globals.target.items[1]"),
            MakeDestination(app, "target.list", "App.Globals.target.list"),
            Destination{"the second byte of target.i", app.memory() + inside, inside, inside, false, ""},
        };
        world->initialMemory.assign(app.memory(), app.memory() + app.memorySize());
        LoadSymbols();
        return world;
    }();
    return *s_world;
}

// What the text is to the component's grammar, judged by RapidJSON's strict parser (see
// JsonOracle.h): the component's own parse must come to the same verdict.
bool StrictParserAccepts(const std::string& text) { return json_oracle::Judge(text).accepted; }

// The first member `name` of `object`, when it is an object; null otherwise.
const rapidjson::Value* Member(const rapidjson::Value& object, const std::string& name) {
    if (!object.IsObject()) {
        return nullptr;
    }
    const rapidjson::Value key(
        rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size())));
    const rapidjson::Value::ConstMemberIterator found = object.FindMember(key);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

template <typename T>
void Put(std::vector<uint8_t>& bytes, T value) {
    std::memcpy(bytes.data(), &value, sizeof(T));
}

// A string of a decimal integer, as the 64-bit classes take it.
bool IsDecimal(const rapidjson::Value& value) {
    const std::string text(value.GetString(), value.GetStringLength());
    const size_t digits = text.compare(0, 1, "-") == 0 ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// The bytes of an integer leaf of `width` bytes after `value`: a whole number within the
// range the width takes (below 4 bytes: 32 bits signed; 4: -2^31..2^32-1; 8: 64 bits,
// signed or unsigned; an enumeration's: its width signed or unsigned), cut to the width.
// A string of a decimal integer for 8 bytes. False when the value is a string the oracle
// does not read (an ISO 8601 text of a time class).
bool ExpectedInteger(const rapidjson::Value& value, const std::string* spelling, size_t width,
                     bool enumeration, bool textForms, std::vector<uint8_t>& bytes) {
    std::string number;
    if (spelling != nullptr) {
        number = *spelling;
    } else if (value.IsString() && width == 8 && IsDecimal(value)) {
        number.assign(value.GetString(), value.GetStringLength());
    } else {
        return !(value.IsString() && textForms);
    }
    __int128 whole = 0;
    if (json_oracle::WholeOf(number, whole) != json_oracle::EWhole::kWhole) {
        return true;
    }
    const int bits = static_cast<int>(8 * width);
    __int128 lowest = -(static_cast<__int128>(1) << 31);
    __int128 highest =
        width < 4 ? (static_cast<__int128>(1) << 31) - 1 : (static_cast<__int128>(1) << 32) - 1;
    if (width == 8 || enumeration) {
        lowest = -(static_cast<__int128>(1) << (bits - 1));
        highest = (static_cast<__int128>(1) << bits) - 1;
    }
    if (whole < lowest || whole > highest) {
        return true;
    }
    const uint64_t low = static_cast<uint64_t>(whole);
    std::memcpy(bytes.data(), &low, width);
    return true;
}

// The bytes a scalar leaf of class `type` holds after JSON value `value` of the model
// was written into it (a number by its own spelling in the text); `bytes` holds the
// leaf's bytes before the call. False when the oracle cannot tell (an ISO 8601 text for a
// time class).
bool ExpectedWrite(TypeClass3 type, const rapidjson::Value& value, const json_oracle::CModel& model,
                   std::vector<uint8_t>& bytes) {
    const bool isNumber = value.IsString() && model.IsNumber(value);
    const std::string spelling = isNumber ? model.SpellingOf(value) : std::string();
    const std::string* const text = isNumber ? &spelling : nullptr;
    switch (type) {
        case TYPE3_BOOL:
            if (value.IsBool()) {
                bytes[0] = value.GetBool() ? 1 : 0;
            }
            return true;
        case TYPE3_BYTE:
        case TYPE3_SINT:
        case TYPE3_USINT:
        case TYPE3_WORD:
        case TYPE3_INT:
        case TYPE3_UINT:
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_UDINT:
        case TYPE3_LWORD:
        case TYPE3_LINT:
        case TYPE3_ULINT:
            return ExpectedInteger(value, text, bytes.size(), false, false, bytes);
        case TYPE3_ENUM:
        case TYPE3_SUBRANGE:
            return ExpectedInteger(value, text, bytes.size(), true, false, bytes);
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
        case TYPE3_LTIME:
        case TYPE3_LDATE:
        case TYPE3_LDATEANDTIME:
        case TYPE3_LTIMEOFDAY:
            return ExpectedInteger(value, text, bytes.size(), false, true, bytes);
        case TYPE3_REAL:
            if (isNumber) {
                const double d = json_oracle::Strtod(spelling);
                if (std::fabs(d) < 0x1.ffffffp+127) {
                    Put<float>(bytes, static_cast<float>(d));
                }
            }
            return true;
        case TYPE3_LREAL:
            if (isNumber) {
                Put<double>(bytes, json_oracle::Strtod(spelling));  // finite: the text was taken
            }
            return true;
        case TYPE3_STRING:
            if (value.IsString() && !isNumber) {
                const unsigned char* text = reinterpret_cast<const unsigned char*>(value.GetString());
                // An IEC string ends at a zero byte: the bytes before it are written.
                const size_t visible = std::find(text, text + value.GetStringLength(), 0) - text;
                size_t count = std::min<size_t>(visible, bytes.size() - 1);
                if (count < visible) {
                    // Never part of a character: a well-formed sequence that starts before
                    // the cut and ends after it is left out whole.
                    for (size_t start = count; start + 3 >= count && start > 0; --start) {
                        const unsigned char lead = text[start - 1];
                        const size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                                              : lead >= 0xE0 && lead <= 0xEF ? 3
                                              : lead >= 0xC2 && lead <= 0xDF ? 2
                                                                             : 0;
                        if (length > 0) {
                            bool continued = true;
                            for (size_t k = start; k < start - 1 + length && k <= count; ++k) {
                                continued = continued && (text[k] & 0xC0) == 0x80;
                            }
                            if (continued && start - 1 + length > count) {
                                count = start - 1;
                            }
                            break;
                        }
                        if ((lead & 0xC0) != 0x80) {
                            break;
                        }
                    }
                }
                std::memcpy(bytes.data(), value.GetString(), count);
                bytes[count] = 0;
            }
            return true;
        default:
            return true;
    }
}

std::vector<std::string> DescribedLog() {
    std::vector<std::string> described;
    for (const SimLogRecord& record : CSimHost::instance().logRecords()) {
        described.push_back(record.describe());
    }
    return described;
}

std::string Refusal(const char* text) {
    return SimLogRecord{kZentrikCmpId, kLogClassError, 0, kLogInfoIdCalls, text}.describe();
}

// setsymbolfromjson with the bytes in a heap buffer of exactly their size.
RTS_IEC_BOOL SetFromJson(const uint8_t* data, size_t size, void* address) {
    std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(text.get(), data, size);
    }
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_setsymbolfromjson_struct p;
    std::memset(&p, 0x5A, sizeof(p));
    p.pInstance = &block;
    p.pJson = text.get();
    p.nSize = static_cast<RTS_IEC_UDINT>(size);
    p.pData = static_cast<RTS_IEC_UDINT*>(address);
    p.hrErrorCode = 4321;
    fb_jsonreadwritedatatype__setsymbolfromjson(&p);
    FUZZ_CHECK(p.hrErrorCode == 4321, "setsymbolfromjson wrote hrErrorCode");
    FUZZ_CHECK(p.SetSymbolFromJson == 0 || p.SetSymbolFromJson == 1,
               "SetSymbolFromJson is " + std::to_string(p.SetSymbolFromJson));
    return p.SetSymbolFromJson;
}

std::string Hex(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
        out += ' ';
    }
    return out;
}

// The leaf (or the guard, the padding) that byte `offset` belongs to, for messages.
std::string Where(const World& world, size_t offset) {
    for (const Leaf& leaf : world.leaves) {
        if (offset >= leaf.offset && offset < leaf.offset + leaf.size) {
            return leaf.name + " (+" + std::to_string(offset - leaf.offset) + ")";
        }
    }
    return "byte " + std::to_string(offset) + " outside every leaf";
}

// Memory after a call against the memory before it.
void CheckMemory(const World& world, const Destination& to, const std::vector<uint8_t>& before, bool written,
                 const char* when) {
    CSimApplication& app = CSimApplication::instance();
    const uint8_t* memory = app.memory();
    for (size_t i = 0; i < before.size(); ++i) {
        if (memory[i] == before[i]) {
            continue;
        }
        const bool mayChange = written && i >= to.begin && i < to.end && world.writable[i];
        FUZZ_CHECK(mayChange, std::string(when) + ", " + to.what + ": " + Where(world, i) + " changed from " +
                                  Hex(&before[i], 1) + "to " + Hex(&memory[i], 1));
    }
    for (const Leaf& leaf : world.leaves) {
        const uint8_t* at = memory + leaf.offset;
        if (leaf.type == TYPE3_STRING) {
            FUZZ_CHECK(std::memchr(at, 0, leaf.size) != nullptr,
                       leaf.name + " holds no terminator: " + Hex(at, leaf.size));
        } else if (leaf.type == TYPE3_WSTRING) {
            bool terminated = false;
            for (size_t unit = 0; unit + 1 < leaf.size && !terminated; unit += 2) {
                terminated = at[unit] == 0 && at[unit + 1] == 0;
            }
            FUZZ_CHECK(terminated, leaf.name + " holds no zero code unit: " + Hex(at, leaf.size));
        } else if (leaf.type == TYPE3_BOOL) {
            FUZZ_CHECK(*at <= 1, leaf.name + " holds " + Hex(at, 1));
        }
    }
}

// What a text does to the memory of one variable by the rules of JSON to variable,
// worked out from the declared types (the simulated application's) and the strict
// parser's model of the text alone. `expected` starts as the memory before the call;
// `unknown` marks the bytes of leaves whose value the oracle does not work out (a WSTRING
// given a string, a time class given an ISO 8601 text).
class CExpectedWrites {
   public:
    CExpectedWrites(const json_oracle::CModel& model, std::vector<uint8_t>& expected,
                    std::vector<bool>& unknown)
        : model_(model), expected_(expected), unknown_(unknown) {}

    // The variable of `type` at `offset`, named `name`, given the text's root.
    void Variable(const CSimType& type, size_t offset, const std::string& name,
                  const rapidjson::Value& root) {
        const rapidjson::Value* value = Member(root, name);
        if (value != nullptr) {
            Node(type, offset, *value, &name);
        }
    }

   private:
    bool IsString(const rapidjson::Value& value) const { return value.IsString() && !model_.IsNumber(value); }

    // `variable`: the variable's own name when the node is the variable itself (only it
    // takes an object of its elements' names).
    void Node(const CSimType& type, size_t offset, const rapidjson::Value& value,
              const std::string* variable) {
        switch (type.kind) {
            case CSimType::Kind::Struct:
                if (value.IsObject()) {
                    for (const CSimMember& member : type.members) {
                        if (const rapidjson::Value* given = Member(value, member.name)) {
                            Node(*member.type, offset + member.offset, *given, nullptr);
                        }
                    }
                }
                return;
            case CSimType::Kind::Array:
                if (value.IsArray()) {
                    Elements(type, offset, value);
                } else if (variable != nullptr && value.IsObject()) {
                    for (uint64_t i = 0; i < type.count; ++i) {
                        if (const rapidjson::Value* given = Member(value, ElementName(type, *variable, i))) {
                            Node(*type.element, offset + i * type.element->size, *given, nullptr);
                        }
                    }
                }
                return;
            case CSimType::Kind::WString:
                if (IsString(value)) {
                    Unknown(offset, type.size);  // UTF-8 to UTF-16 is not worked out here
                }
                return;
            case CSimType::Kind::Pointer:
            case CSimType::Kind::Reference:
                return;
            default: {
                std::vector<uint8_t> bytes(expected_.begin() + static_cast<long>(offset),
                                           expected_.begin() + static_cast<long>(offset + type.size));
                if (!ExpectedWrite(type.typeClass, value, model_, bytes)) {
                    Unknown(offset, type.size);
                    return;
                }
                std::copy(bytes.begin(), bytes.end(), expected_.begin() + static_cast<long>(offset));
                return;
            }
        }
    }

    // An array given a JSON array: a flat list of every element, or for 2 or 3
    // dimensions nested lists of exactly its shape, first index outermost. Nested when the
    // outer list has the first extent and is not the flat list; where the two have one
    // length (every other extent 1), nested when every value is a list of one (of one),
    // and for elements that are arrays, the value inside is a list.
    void Elements(const CSimType& type, size_t offset, const rapidjson::Value& list) {
        const size_t dims = type.dims.size();
        const uint64_t count = type.count;
        std::vector<uint64_t> extents;
        for (const ArrayDimension& d : type.dims) {
            extents.push_back(d.MaxRange < d.MinRange ? 0
                                                      : static_cast<uint64_t>(d.MaxRange) - d.MinRange + 1);
        }
        const uint64_t given = list.Size();
        bool nested = dims >= 2 && dims <= 3 && given == extents[0] && extents[0] != count;
        if (dims >= 2 && dims <= 3 && given == extents[0] && extents[0] == count && count > 0) {
            nested = true;
            for (const rapidjson::Value& row : list.GetArray()) {
                nested = nested && row.IsArray() && row.Size() == 1 &&
                         (dims == 2 || (row[0].IsArray() && row[0].Size() == 1));
            }
            if (nested && type.element->kind == CSimType::Kind::Array) {
                nested = (dims == 2 ? list[0][0] : list[0][0][0]).IsArray();
            }
        }
        std::vector<const rapidjson::Value*> values;
        if (nested) {
            for (const rapidjson::Value& row : list.GetArray()) {
                if (!row.IsArray() || row.Size() != extents[1]) {
                    return;  // nothing of the array
                }
                for (const rapidjson::Value& inner : row.GetArray()) {
                    if (dims == 2) {
                        values.push_back(&inner);
                        continue;
                    }
                    if (!inner.IsArray() || inner.Size() != extents[2]) {
                        return;
                    }
                    for (const rapidjson::Value& value : inner.GetArray()) {
                        values.push_back(&value);
                    }
                }
            }
        } else if (given == count) {
            for (const rapidjson::Value& value : list.GetArray()) {
                values.push_back(&value);
            }
        } else {
            return;  // another count: nothing of the array
        }
        for (size_t i = 0; i < values.size(); ++i) {
            Node(*type.element, offset + i * type.element->size, *values[i], nullptr);
        }
    }

    // How the runtime names element i of the array variable `name`: "list[1]", "grid[0,2]".
    static std::string ElementName(const CSimType& type, const std::string& name, uint64_t i) {
        std::vector<int64_t> indices(type.dims.size());
        for (size_t d = type.dims.size(); d-- > 0;) {
            const ArrayDimension& dim = type.dims[d];
            const uint64_t extent = static_cast<uint64_t>(dim.MaxRange) - dim.MinRange + 1;
            indices[d] = dim.MinRange + static_cast<int64_t>(i % extent);
            i /= extent;
        }
        std::string text = name + "[";
        for (size_t d = 0; d < indices.size(); ++d) {
            text += (d == 0 ? "" : ",") + std::to_string(indices[d]);
        }
        return text + "]";
    }

    void Unknown(size_t offset, size_t size) {
        std::fill(unknown_.begin() + static_cast<long>(offset),
                  unknown_.begin() + static_cast<long>(offset + size), true);
    }

    const json_oracle::CModel& model_;
    std::vector<uint8_t>& expected_;
    std::vector<bool>& unknown_;
};

// Every byte of the variable at `to` against what the rules make of the text's model
// (CExpectedWrites), from the memory before the call.
void CheckWrites(const World& world, const Destination& to, const std::vector<uint8_t>& before,
                 const json_oracle::CModel& model) {
    if (!model.root().IsObject()) {
        return;  // a root that is no object holds no member for the variable
    }
    std::vector<uint8_t> expected = before;
    std::vector<bool> unknown(before.size(), false);
    const std::string name = to.name.substr(to.name.rfind('.') + 1);
    CExpectedWrites(model, expected, unknown)
        .Variable(*CSimApplication::instance().type(to.name), to.begin, name, model.root());
    const uint8_t* memory = CSimApplication::instance().memory();
    for (size_t i = to.begin; i < to.end; ++i) {
        FUZZ_CHECK(unknown[i] || memory[i] == expected[i], std::string(to.what) + ": " + Where(world, i) +
                                                               " holds " + Hex(memory + i, 1) + "where " +
                                                               Hex(&expected[i], 1) + "was due");
    }
}

// setsymbolfromjsonreport with the bytes in a heap buffer of exactly their size: the
// report watches the walk and must not change what it writes.
RTS_IEC_BOOL SetFromJsonReport(const uint8_t* data, size_t size, void* address) {
    std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(text.get(), data, size);
    }
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct p{};
    p.pInstance = &block;
    p.pJson = text.get();
    p.nSize = static_cast<RTS_IEC_UDINT>(size);
    p.pData = static_cast<RTS_IEC_UDINT*>(address);
    fb_jsonreadwritedatatype__setsymbolfromjsonreport(&p);
    return p.SetSymbolFromJsonReport;
}

// The text parsed by a reader instance and its member named after the variable at `to`
// written by ToVariable: whether the member was found (and written).
bool ReaderToVariable(const uint8_t* data, size_t size, const Destination& to) {
    static fb_jsonreader_struct s_reader;
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    fb_jsonreader_parse_struct parse{};
    parse.pInstance = &s_reader;
    parse.pJson = text.data();
    parse.nSize = static_cast<RTS_IEC_UDINT>(size);
    fb_jsonreader__parse(&parse);
    FUZZ_CHECK(parse.Parse == 1,
               std::string("the reader refused a text SetSymbolFromJson took: ") + parse.sError);
    std::string path = "/" + to.name.substr(to.name.rfind('.') + 1);
    fb_jsonreader_tovariable_struct write{&s_reader, &path[0], static_cast<RTS_IEC_UDINT*>(to.address), 7};
    fb_jsonreader__tovariable(&write);
    FUZZ_CHECK(write.ToVariable == 0 || write.ToVariable == 1,
               "ToVariable gave " + std::to_string(write.ToVariable));
    return write.ToVariable == 1;
}

// One call of the text at one destination, checked; `reference`, the model of the text,
// is given for the target itself when the text parses.
void WriteAndCheck(const World& world, const Destination& to, const uint8_t* data, size_t size, bool accepted,
                   const json_oracle::CModel* reference) {
    CSimApplication& app = CSimApplication::instance();
    CSimHost& host = CSimHost::instance();
    const std::vector<uint8_t> before(app.memory(), app.memory() + app.memorySize());

    host.clearLog();
    const RTS_IEC_BOOL result = SetFromJson(data, size, to.address);
    const std::vector<std::string> log = DescribedLog();
    std::vector<std::string> expectedLog;
    RTS_IEC_BOOL expected = 1;
    if (!accepted) {
        expected = 0;
        expectedLog.push_back(Refusal("Json error"));
    } else if (!to.isNode) {
        expected = 0;
        expectedLog.push_back(Refusal("Variable does not exist"));
    }
    FUZZ_CHECK(result == expected, std::string(to.what) + ": SetSymbolFromJson " + std::to_string(result) +
                                       (accepted ? " for a text the strict parser accepts"
                                                 : " for a text the strict parser rejects"));
    FUZZ_CHECK(log == expectedLog, std::string(to.what) + ": log of " + std::to_string(log.size()) +
                                       " entries, first: " + (log.empty() ? "none" : log.front()));
    CheckMemory(world, to, before, result == 1, "after the call");

    // The same text from the same memory with the report.
    const std::vector<uint8_t> streamed(app.memory(), app.memory() + app.memorySize());
    std::memcpy(app.memory(), before.data(), before.size());
    const RTS_IEC_BOOL walked = SetFromJsonReport(data, size, to.address);
    FUZZ_CHECK(walked == result, std::string(to.what) + ": SetSymbolFromJsonReport gives " +
                                     std::to_string(walked) + ", SetSymbolFromJson " +
                                     std::to_string(result));
    for (size_t i = 0; i < streamed.size(); ++i) {
        FUZZ_CHECK(streamed[i] == app.memory()[i], std::string(to.what) + ": without a report " +
                                                       Where(world, i) + " became " + Hex(&streamed[i], 1) +
                                                       "with one " + Hex(&app.memory()[i], 1));
    }
    host.clearLog();
    if (reference != nullptr && result == 1 && to.isNode) {
        CheckWrites(world, to, before, *reference);
        // The reader's ToVariable of the variable's member of the same text, from the same
        // memory, writes the same (a text without that member: nothing).
        std::memcpy(app.memory(), before.data(), before.size());
        const bool found = ReaderToVariable(data, size, to);
        const std::vector<uint8_t>& due = found ? streamed : before;
        for (size_t i = 0; i < due.size(); ++i) {
            FUZZ_CHECK(due[i] == app.memory()[i], std::string(to.what) + ": ToVariable left " +
                                                      Where(world, i) + " at " + Hex(&app.memory()[i], 1) +
                                                      "where " + Hex(&due[i], 1) + "was due");
        }
        FUZZ_CHECK(DescribedLog().empty(),
                   std::string(to.what) + ": ToVariable logged " + DescribedLog().front());
        std::memcpy(app.memory(), streamed.data(), streamed.size());
    }

    // The same text again: whatever the first call wrote, it writes once more.
    const std::vector<uint8_t> once(app.memory(), app.memory() + app.memorySize());
    SetFromJson(data, size, to.address);
    FUZZ_CHECK(std::memcmp(once.data(), app.memory(), once.size()) == 0,
               std::string(to.what) + ": a second call with the same text changed the memory again");
}

// The memory a round trip leaves: every variable comes back as it was, but a STRING whose
// bytes are not UTF-8 is written out in its UTF-8 form (each stray byte read as
// Windows-1252) and comes back in that form, cut at a character boundary to fit.
std::vector<uint8_t> RepairedStrings(const World& world, const std::vector<uint8_t>& memory) {
    std::vector<uint8_t> expected = memory;
    for (const Leaf& leaf : world.leaves) {
        if (leaf.type != TYPE3_STRING || leaf.size == 0) {
            continue;
        }
        const char* bytes = reinterpret_cast<const char*>(memory.data() + leaf.offset);
        const size_t length = std::find(bytes, bytes + leaf.size, '\0') - bytes;
        if (IsValidUtf8(bytes, length)) {
            continue;
        }
        std::string repaired;
        RepairUtf8(bytes, length, repaired);
        size_t fit = std::min(repaired.size(), leaf.size - 1);
        while (fit > 0 && fit < repaired.size() &&
               (static_cast<unsigned char>(repaired[fit]) & 0xC0) == 0x80) {
            --fit;
        }
        std::memcpy(expected.data() + leaf.offset, repaired.data(), fit);
        expected[leaf.offset + fit] = 0;
    }
    return expected;
}

// The target read back through a writer instance of the given format and written into
// itself again.
void CheckRoundTrip(const World& world, uint32_t format) {
    CSimApplication& app = CSimApplication::instance();
    static fb_jsonsaxwriter_struct s_writer;
    fb_jsonsaxwriter_resetdocument_struct reset{&s_writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
    fb_jsonsaxwriter_setformat_struct setFormat{&s_writer, format, 0};
    fb_jsonsaxwriter__setformat(&setFormat);
    FUZZ_CHECK(setFormat.SetFormat == 1, "the format " + std::to_string(format) + " was refused");
    fb_jsonreadwritedatatype_struct block{};
    char key[] = "target";
    char datatype[] = "ST_Target";
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct add{};
    add.pInstance = &block;
    add.fbWriter = &s_writer;
    add.sKey = key;
    add.sDatatype = datatype;
    add.pData = static_cast<RTS_IEC_UDINT*>(world.destinations[0].address);
    fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&add);
    FUZZ_CHECK(add.AddJsonKeyValueFromSymbol == 1, "the target could not be read to JSON");

    fb_jsonsaxwriter_getdocumentlength_struct length{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&length);
    std::vector<char> text(length.GetDocumentLength + 1, '#');
    fb_jsonsaxwriter_copydocument_struct copy{&s_writer, text.data(), length.GetDocumentLength + 1, 0, 0};
    fb_jsonsaxwriter__copydocument(&copy);
    FUZZ_CHECK(copy.CopyDocument == 1 && text.back() == '\0', "the target's text could not be copied");
    FUZZ_CHECK(StrictParserAccepts(text.data()),
               "the target's text is not JSON: " + std::string(text.data()));

    const std::vector<uint8_t> before(app.memory(), app.memory() + app.memorySize());
    const std::vector<uint8_t> expected = RepairedStrings(world, before);
    const RTS_IEC_BOOL result =
        SetFromJson(reinterpret_cast<const uint8_t*>(text.data()), length.GetDocumentLength, add.pData);
    FUZZ_CHECK(result == 1, "the target's own text was refused: " + std::string(text.data()));
    for (size_t i = 0; i < before.size(); ++i) {
        FUZZ_CHECK(expected[i] == app.memory()[i], "the target's own text " + std::string(text.data()) +
                                                       " changed " + Where(world, i) + " from " +
                                                       Hex(&before[i], 1) + "to " + Hex(&app.memory()[i], 1));
    }
}

int FuzzJsonToVariable(const uint8_t* data, size_t size) {
    World& world = Setup();
    CSimApplication& app = CSimApplication::instance();
    std::memcpy(app.memory(), world.initialMemory.data(), world.initialMemory.size());
    // Another target run in the same process (the regression test) may have emptied the
    // index; an address of a loaded variable is then refused.
    CSimHost::instance().clearLog();
    const uint8_t probe[] = {'{', '}'};
    if (SetFromJson(probe, sizeof(probe), world.destinations[0].address) != 1) {
        LoadSymbols();
    }

    const std::string upToZero(reinterpret_cast<const char*>(data), std::find(data, data + size, 0) - data);
    const bool accepted = StrictParserAccepts(upToZero);
    const json_oracle::CModel reference(upToZero);
    for (const Destination& to : world.destinations) {
        WriteAndCheck(world, to, data, size, accepted, accepted ? &reference : nullptr);
    }
    for (uint32_t format : {0u, ZENTRIK_FORMAT_READABLE, ZENTRIK_FORMAT_BITS}) {
        CheckRoundTrip(world, format);
    }
    CSimHost::instance().clearLog();
    return 0;
}

}  // namespace json_to_variable

ZENTRIK_FUZZ_TARGET(json_to_variable, json_to_variable::FuzzJsonToVariable);
