// Round trips: a variable to JSON, that JSON text (in the component's output form)
// back into a second variable of the same type; the second must then hold the first's
// bytes (strings up to their terminator).
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/TypeClassTable.h"
#include "support/DatatypeSupport.h"
#include "support/RuntimeFixture.h"

namespace {

// A structure "st" whose one member "v" is an array of count elements of the class,
// each size bytes, over memory.
VarPtr MakeArrayHolder(TypeClass3 type, uint32_t size, std::vector<unsigned char>& memory, size_t count) {
    std::vector<VarPtr> elements;
    for (size_t i = 0; i < count; ++i) {
        elements.push_back(MakeVar(type, size, memory.data() + i * size, "[" + std::to_string(i) + "]"));
    }
    const uint32_t total = static_cast<uint32_t>(memory.size());
    return MakeVar(TYPE3_USERDEF, total, memory.data(), "st",
                   {MakeVar(TYPE3_ARRAY, total, memory.data(), "v", elements)});
}

// Length of the value's meaningful bytes: the natural width, or a string up to and
// including its terminator.
size_t Meaningful(TypeClass3 type, const unsigned char* value, uint32_t size) {
    if (type == TYPE3_STRING) {
        return strnlen(reinterpret_cast<const char*>(value), size) + 1;
    }
    if (type == TYPE3_WSTRING) {
        size_t units = 0;
        while (value[2 * units] != 0 || value[2 * units + 1] != 0) {
            ++units;
        }
        return 2 * (units + 1);
    }
    return size;
}

class DatatypeRoundTripTest : public DatatypeTest {
   protected:
    // Writes every value into a first variable, adds it to the writer's document, and
    // sets a second variable of the same type (other bytes before) from that text.
    void RoundTrip(TypeClass3 type, uint32_t size, const std::vector<ByteVector>& values) {
        std::vector<unsigned char> first(values.size() * size, 0);
        std::vector<unsigned char> second(values.size() * size, 0x5A);
        for (size_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(size, values[i].size());
            std::memcpy(first.data() + i * size, values[i].data(), size);
        }
        Publish(MakeArrayHolder(type, size, first, values.size()));
        Publish(MakeArrayHolder(type, size, second, values.size()));
        CreateWriterDocument(&writer_);
        ASSERT_EQ(1, CallAddFromSymbol(&writer_, "st", first.data()));
        const std::string text = WriterDocumentText(&writer_);
        ASSERT_EQ(1, CallSetFromJson(text, second.data()));
        size_t mismatches = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            const unsigned char* a = first.data() + i * size;
            const unsigned char* b = second.data() + i * size;
            const size_t n = Meaningful(type, a, size);
            if (std::memcmp(a, b, n) != 0 && ++mismatches <= 5) {
                ADD_FAILURE() << "class " << type << " element " << i << ": wrote " << Hex(a, n)
                              << ", read back " << Hex(b, n);
            }
        }
        EXPECT_EQ(0u, mismatches) << "class " << type << ", of " << values.size() << " values";
        EXPECT_TRUE(LogRecords().empty());
    }

    std::mt19937_64 random_{20240611};
};

// Extremes of a two's-complement width, then random bit patterns.
std::vector<ByteVector> IntegerValues(uint32_t width, std::mt19937_64& random) {
    std::vector<ByteVector> values;
    const uint64_t mask = width == 8 ? ~0ull : (1ull << (8 * width)) - 1;
    const uint64_t top = 1ull << (8 * width - 1);
    for (uint64_t v : std::initializer_list<uint64_t>{0, 1, mask, top, top - 1, top + 1, mask - 1}) {
        values.push_back(
            ByteVector(reinterpret_cast<unsigned char*>(&v), reinterpret_cast<unsigned char*>(&v) + width));
    }
    for (int i = 0; i < 500; ++i) {
        uint64_t v = random();
        values.push_back(
            ByteVector(reinterpret_cast<unsigned char*>(&v), reinterpret_cast<unsigned char*>(&v) + width));
    }
    return values;
}

}  // namespace

TEST_F(DatatypeRoundTripTest, EveryIntegerClassKeepsItsBytes) {
    const struct {
        TypeClass3 type;
        uint32_t width;
    } classes[] = {
        {TYPE3_BIT, 1},  {TYPE3_BYTE, 1},  {TYPE3_SINT, 1},        {TYPE3_USINT, 1},     {TYPE3_WORD, 2},
        {TYPE3_INT, 2},  {TYPE3_UINT, 2},  {TYPE3_DWORD, 4},       {TYPE3_DINT, 4},      {TYPE3_UDINT, 4},
        {TYPE3_TIME, 4}, {TYPE3_DATE, 4},  {TYPE3_DATEANDTIME, 4}, {TYPE3_TIMEOFDAY, 4}, {TYPE3_LWORD, 8},
        {TYPE3_LINT, 8}, {TYPE3_ULINT, 8},
    };
    for (const auto& c : classes) {
        RoundTrip(c.type, c.width, IntegerValues(c.width, random_));
    }
}

TEST_F(DatatypeRoundTripTest, BoolKeepsItsByte) { RoundTrip(TYPE3_BOOL, 1, {{0}, {1}, {1}, {0}}); }

TEST_F(DatatypeRoundTripTest, RealKeepsItsBits) {
    std::vector<ByteVector> values;
    for (float f : {0.0f, -0.0f, 1.0f, -1.0f, 0.1f, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MAX,
                    -FLT_MAX, FLT_EPSILON, 16777217.0f, 3.4028234e38f}) {
        values.push_back(BytesOf(f));
    }
    while (values.size() < 3000) {
        const uint32_t bits = static_cast<uint32_t>(random_());
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        if (std::isfinite(f)) {
            values.push_back(BytesOf(f));
        }
    }
    RoundTrip(TYPE3_REAL, 4, values);
}

// The text the component writes for an LREAL must read back as the same double. A
// parser that rounds its decimal input quickly rather than exactly misses about one
// value in seven.
TEST_F(DatatypeRoundTripTest, LrealKeepsItsBits) {
    std::vector<ByteVector> values;
    for (double d : {0.0, -0.0, 1.0, 0.1, 1.0 / 3, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, DBL_MAX, -DBL_MAX,
                     DBL_EPSILON, 2.2250738585072011e-308, 9007199254740993.0, 5e-324, 1.7976931348623157e308,
                     123456789012345678.0}) {
        values.push_back(BytesOf(d));
    }
    while (values.size() < 20000) {
        const uint64_t bits = random_();
        double d;
        std::memcpy(&d, &bits, sizeof(d));
        if (std::isfinite(d)) {
            values.push_back(BytesOf(d));
        }
    }
    // Numbers of everyday size, where short decimal forms abound.
    std::uniform_real_distribution<double> everyday(-1e6, 1e6);
    for (int i = 0; i < 5000; ++i) {
        values.push_back(BytesOf(everyday(random_)));
    }
    RoundTrip(TYPE3_LREAL, 8, values);
}

// Text that is valid UTF-8 keeps its bytes; other bytes leave as their Windows-1252
// characters (the writer's tests cover those).
TEST_F(DatatypeRoundTripTest, StringKeepsItsBytesUpToTheTerminator) {
    const uint32_t size = 81;  // STRING(80)
    std::vector<ByteVector> values;
    values.push_back(ByteVector(size, 0));  // empty
    ByteVector full(size, 'x');
    full[80] = 0;  // all 80 characters
    values.push_back(full);
    ByteVector special(size, 0);
    std::memcpy(special.data(), "\"\\/\b\f\n\r\t\x01\x1f\x7f\xc3\xbf", 13);  // escapes, controls, UTF-8
    values.push_back(special);
    std::uniform_int_distribution<int> length(0, 80), kind(0, 2), ascii(1, 127), lead2(0xC2, 0xDF),
        lead3(0xE1, 0xEC), continuation(0x80, 0xBF);
    while (values.size() < 300) {
        ByteVector value(size, 0);
        const int n = length(random_);
        int i = 0;
        while (i < n) {
            const int k = kind(random_);
            if (k == 1 && i + 2 <= n) {
                value[i++] = static_cast<unsigned char>(lead2(random_));
                value[i++] = static_cast<unsigned char>(continuation(random_));
            } else if (k == 2 && i + 3 <= n) {
                value[i++] = static_cast<unsigned char>(lead3(random_));
                value[i++] = static_cast<unsigned char>(continuation(random_));
                value[i++] = static_cast<unsigned char>(continuation(random_));
            } else {
                value[i++] = static_cast<unsigned char>(ascii(random_));
            }
        }
        values.push_back(value);
    }
    RoundTrip(TYPE3_STRING, size, values);
}

TEST_F(DatatypeRoundTripTest, WideStringKeepsItsUnitsUpToTheTerminator) {
    const uint32_t size = 82;  // WSTRING(40)
    std::vector<ByteVector> values;
    values.push_back(ByteVector(size, 0));
    std::uniform_int_distribution<int> length(0, 40), kind(0, 3);
    std::uniform_int_distribution<uint32_t> ascii(1, 0x7F), bmp(0x80, 0xFFFF), astral(0x10000, 0x10FFFF);
    while (values.size() < 300) {
        std::vector<uint16_t> units;
        const size_t n = static_cast<size_t>(length(random_));
        while (units.size() < n) {
            const int k = kind(random_);
            uint32_t cp = k == 0 ? ascii(random_) : k == 1 ? bmp(random_) : astral(random_);
            if (cp >= 0xD800 && cp <= 0xDFFF) {
                continue;  // a lone surrogate has no UTF-8 form
            }
            if (cp >= 0x10000) {
                if (units.size() + 2 > n) {
                    continue;
                }
                units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<uint16_t>(cp));
            }
        }
        ByteVector value(size, 0);
        if (!units.empty()) {
            std::memcpy(value.data(), units.data(), units.size() * 2);
        }
        values.push_back(value);
    }
    RoundTrip(TYPE3_WSTRING, size, values);
}

// A structure with every kind of member, nested structures and arrays of them: the
// document made from it, given back under the variable's name, restores it whole.
TEST_F(DatatypeRoundTripTest, StructureIsRestoredFromItsDocument) {
    struct Inner {
        int16_t i;
        double d;
        char s[11];
        uint8_t on;
    };
    struct Outer {
        uint8_t flag;
        int8_t si;
        uint8_t us;
        uint16_t w;
        int32_t di;
        uint32_t dt;
        int64_t li;
        uint64_t ul;
        float r;
        double lr;
        char s[21];
        uint16_t ws[11];
        Inner inner;
        Inner items[3];
        int32_t grid[2][3];
    };
    auto inner = [](Inner& in, const std::string& name) {
        return MakeVar(TYPE3_USERDEF, sizeof(Inner), &in, name,
                       {MakeVar(TYPE3_INT, 2, &in.i, "i"), MakeVar(TYPE3_LREAL, 8, &in.d, "d"),
                        MakeVar(TYPE3_STRING, 11, in.s, "s"), MakeVar(TYPE3_BOOL, 1, &in.on, "on")});
    };
    auto tree = [&inner](Outer& o) {
        std::vector<VarPtr> items, grid;
        for (int k = 0; k < 3; ++k) {
            items.push_back(inner(o.items[k], "[" + std::to_string(k) + "]"));
        }
        for (int k = 0; k < 6; ++k) {
            grid.push_back(MakeVar(TYPE3_DINT, 4, &o.grid[k / 3][k % 3], "[g]"));
        }
        return MakeVar(
            TYPE3_USERDEF, sizeof(Outer), &o, "plant",
            {MakeVar(TYPE3_BOOL, 1, &o.flag, "flag"), MakeVar(TYPE3_SINT, 1, &o.si, "si"),
             MakeVar(TYPE3_USINT, 1, &o.us, "us"), MakeVar(TYPE3_WORD, 2, &o.w, "w"),
             MakeVar(TYPE3_DINT, 4, &o.di, "di"), MakeVar(TYPE3_DATEANDTIME, 4, &o.dt, "dt"),
             MakeVar(TYPE3_LINT, 8, &o.li, "li"), MakeVar(TYPE3_ULINT, 8, &o.ul, "ul"),
             MakeVar(TYPE3_REAL, 4, &o.r, "r"), MakeVar(TYPE3_LREAL, 8, &o.lr, "lr"),
             MakeVar(TYPE3_STRING, 21, o.s, "s"), MakeVar(TYPE3_WSTRING, 22, o.ws, "ws"),
             inner(o.inner, "inner"), MakeVar(TYPE3_ARRAY, sizeof(o.items), o.items, "items", items),
             MakeVar(TYPE3_ARRAY, sizeof(o.grid), o.grid, "grid", grid)});
    };

    for (int round = 0; round < 20; ++round) {
        Outer a, b;
        std::memset(&a, 0, sizeof(a));
        std::memset(&b, 0, sizeof(b));
        std::uniform_real_distribution<double> real(-1e9, 1e9);
        a.flag = random_() & 1;
        a.si = static_cast<int8_t>(random_());
        a.us = static_cast<uint8_t>(random_());
        a.w = static_cast<uint16_t>(random_());
        a.di = static_cast<int32_t>(random_());
        a.dt = static_cast<uint32_t>(random_());
        a.li = static_cast<int64_t>(random_());
        a.ul = random_();
        a.r = static_cast<float>(real(random_));
        a.lr = real(random_);
        std::snprintf(a.s, sizeof(a.s), "text %d \"q\"", round);
        const uint16_t ws[] = {'W', 0x00FC, 0xD83D, 0xDE00, 0x4E2D, 0};
        std::memcpy(a.ws, ws, sizeof(ws));
        for (Inner* in : {&a.inner, &a.items[0], &a.items[1], &a.items[2]}) {
            in->i = static_cast<int16_t>(random_());
            in->d = real(random_);
            std::snprintf(in->s, sizeof(in->s), "n%u", static_cast<unsigned>(random_() % 100000));
            in->on = random_() & 1;
        }
        for (auto& row : a.grid) {
            for (int32_t& cell : row) {
                cell = static_cast<int32_t>(random_());
            }
        }
        Publish(tree(a));
        Publish(tree(b));
        CreateWriterDocument(&writer_);
        ASSERT_EQ(1, CallAddFromSymbol(&writer_, "plant", &a));
        const std::string text = WriterDocumentText(&writer_);
        ASSERT_EQ(1, CallSetFromJson(text, &b));
        EXPECT_EQ(Hex(reinterpret_cast<unsigned char*>(&a), sizeof(a)),
                  Hex(reinterpret_cast<unsigned char*>(&b), sizeof(b)))
            << text;
    }
    EXPECT_TRUE(LogRecords().empty());
}

// The whole road a control program takes: reset a writer, add the variable, read the
// text back with the writer's length and copy methods, give it to another variable.
// NaN and infinities come out as null, which leaves the receiving members alone.
TEST_F(DatatypeRoundTripTest, TextReadFromTheWriterRestoresTheVariable) {
    struct Mixed {
        float r;
        double nan;
        float inf;
        double lr;
        int16_t i;
        char s[9];
    };
    auto tree = [](Mixed& m) {
        return MakeVar(TYPE3_USERDEF, sizeof(Mixed), &m, "m",
                       {MakeVar(TYPE3_REAL, 4, &m.r, "r"), MakeVar(TYPE3_LREAL, 8, &m.nan, "nan"),
                        MakeVar(TYPE3_REAL, 4, &m.inf, "inf"), MakeVar(TYPE3_LREAL, 8, &m.lr, "lr"),
                        MakeVar(TYPE3_INT, 2, &m.i, "i"), MakeVar(TYPE3_STRING, 9, m.s, "s")});
    };
    Mixed a{1.5f, std::nan(""), -INFINITY, 0.1, -3, "abc"};
    Mixed b{0.0f, 7.0, 7.0f, 0.0, 0, ""};
    Publish(tree(a));
    Publish(tree(b));

    CWriterCalls writer;
    ASSERT_EQ(1u, writer.reset());
    ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "m", &a));
    const std::string text = writer.text();
    EXPECT_EQ(R"({"m":{"r":1.5,"nan":null,"inf":null,"lr":0.1,"i":-3,"s":"abc"}})", text);
    ASSERT_EQ(1, CallSetFromJson(text, &b));
    EXPECT_EQ(1.5f, b.r);
    EXPECT_EQ(7.0, b.nan);
    EXPECT_EQ(7.0f, b.inf);
    EXPECT_EQ(0.1, b.lr);
    EXPECT_EQ(-3, b.i);
    EXPECT_STREQ("abc", b.s);
    EXPECT_TRUE(LogRecords().empty());
}

namespace {

class TopLevelRoundTrip : public RuntimeTest {};

std::string HexOf(const ByteVector& bytes) { return Hex(bytes.data(), bytes.size()); }

// The bytes of every leaf of the variable fullName, in order: its memory without the
// padding a runtime may leave between elements.
std::string LeafBytes(const std::string& fullName) {
    std::string hex;
    const std::shared_ptr<CVariable> tree = ReferenceTree(fullName);
    std::vector<const CVariable*> pending{tree.get()};
    while (!pending.empty()) {
        const CVariable* node = pending.back();
        pending.pop_back();
        if (node->childVec_.empty()) {
            hex += Hex(static_cast<const unsigned char*>(node->var_addr_), node->size_);
        }
        for (size_t i = node->childVec_.size(); i-- > 0;) {
            pending.push_back(&node->childVec_[i]);
        }
    }
    return hex;
}

// The memory image of INT values.
std::string Int16s(std::initializer_list<int16_t> values) {
    ByteVector bytes;
    for (int16_t value : values) {
        const ByteVector one = BytesOf(value);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return Hex(bytes.data(), bytes.size());
}

// Fills every leaf below node with a value its class gives back unchanged in the form:
// random bits for the integer, time and enumeration classes, a finite single or double
// for REAL and LREAL, 0 or 1 for BOOL, ASCII text for STRING and WSTRING; a leaf the form
// writes as null (and the text therefore never writes) is left zero.
void FillLeaves(const SeenNode& seen, ValueForm form, std::mt19937_64& random) {
    if (!seen.children.empty()) {
        for (const SeenNode& child : seen.children) {
            FillLeaves(child, form, random);
        }
        return;
    }
    struct {
        TypeClass3 varType_;
        uint32_t size_;
        void* var_addr_;
    } node{seen.type, seen.size, seen.address};
    std::memset(node.var_addr_, 0, node.size_);
    if (node.varType_ == TYPE3_LREAL) {
        const double value = std::uniform_real_distribution<double>(-1e6, 1e6)(random);
        std::memcpy(node.var_addr_, &value, sizeof(value));
    } else if (node.varType_ == TYPE3_REAL) {
        uint32_t bits = 0;
        do {
            bits = static_cast<uint32_t>(random());
        } while ((bits & 0x7F800000u) == 0x7F800000u);  // no NaN, no infinity
        std::memcpy(node.var_addr_, &bits, sizeof(bits));
    } else if (node.varType_ == TYPE3_BOOL) {
        *static_cast<uint8_t*>(node.var_addr_) = random() & 1;
    } else if (node.varType_ == TYPE3_STRING) {
        const std::string text = "v" + std::to_string(random() % 1000);
        std::snprintf(static_cast<char*>(node.var_addr_), node.size_, "%s", text.c_str());
    } else if (node.varType_ == TYPE3_WSTRING) {
        uint16_t* units = static_cast<uint16_t*>(node.var_addr_);
        for (size_t i = 0; i + 1 < node.size_ / 2; ++i) {
            units[i] = static_cast<uint16_t>('a' + random() % 26);
        }
    } else {
        const uint64_t bits = random();
        std::memcpy(node.var_addr_, &bits, node.size_ < 8 ? node.size_ : 8);
    }
    CJsonDocument document;
    if (EncodeLeaf(node.varType_, node.var_addr_, node.size_, form, document.GetAllocator()).IsNull()) {
        std::memset(node.var_addr_, 0, node.size_);
    }
}

const char* const kMixedApplication = R"(
    TYPE E_State : (IDLE, RUN := 5, FAULT := 7); END_TYPE
    TYPE ST_R : STRUCT a : INT; b : ARRAY[0..1] OF LREAL; s : STRING(4); END_STRUCT END_TYPE
    TYPE ST_All :
    STRUCT
        b : BOOL; by : BYTE; w : WORD; dw : DWORD; lw : LWORD;
        si : SINT; i : INT; di : DINT; li : LINT; usi : USINT; ui : UINT; udi : UDINT; uli : ULINT;
        r : REAL; lr : LREAL; s : STRING(8); ws : WSTRING(4);
        t : TIME; lt : LTIME; d : DATE; ld : LDATE; stamp : DT; lstamp : LDT; clock : TOD; lclock : LTOD;
        e : E_State; sub : INT(-10..10);
    END_STRUCT
    END_TYPE
    VAR_GLOBAL
        counter : INT;
        big : ULINT;
        ratio : LREAL;
        label : STRING(12);
        list : ARRAY[1..5] OF DINT;
        matrix : ARRAY[0..1] OF ARRAY[0..2] OF UINT;
        grid : ARRAY[0..1, 0..2] OF SINT;
        cube : ARRAY[1..2, 0..1, -1..1] OF LTIME;
        recs : ARRAY[1..2] OF ST_R;
        st : ST_R;
        all : ST_All;
        alls : ARRAY[0..1, 0..1] OF ST_All;
        stamp : DT;
        mode : E_State;
    END_VAR
)";

}  // namespace

// Every variable, whatever its kind, takes back the text AddJsonKeyValueFromSymbol made
// of it, in format 0, READABLE, READABLE with INT64_STRINGS and every bit at once:
// scalars of every class, arrays, arrays of arrays, multi-dimensional arrays (nested in
// READABLE), arrays of structures and structures.
TEST_P(TopLevelRoundTrip, EveryVariableTakesBackItsOwnTextInEveryFormat) {
    app().start(kMixedApplication);
    loadSymbols();
    std::mt19937_64 random(7);
    for (const uint32_t format :
         {0u, ZENTRIK_FORMAT_READABLE, ZENTRIK_FORMAT_READABLE | ZENTRIK_FORMAT_INT64_STRINGS,
          ZENTRIK_FORMAT_BITS}) {
        for (const char* name : {"counter", "big", "ratio", "label", "list", "matrix", "grid", "cube", "recs",
                                 "st", "all", "alls", "stamp", "mode"}) {
            SCOPED_TRACE(std::string(name) + " in format " + std::to_string(format));
            const std::unique_ptr<SeenNode> node = indexed(std::string("App.Globals.") + name);
            ASSERT_NE(nullptr, node);
            FillLeaves(*node, format & ~kFormPretty, random);
            unsigned char* memory = static_cast<unsigned char*>(node->address);
            const std::string before = Hex(memory, node->size);

            CWriterCalls writer;
            ASSERT_EQ(1u, writer.setFormat(format));
            ASSERT_EQ(1u, writer.reset());
            ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), node->name.c_str(), memory));
            const std::string text = writer.text();
            std::memset(memory, 0, node->size);
            ASSERT_EQ(1, CallSetFromJson(text, memory));
            EXPECT_EQ(before, Hex(memory, node->size)) << text;
        }
    }
}

// An array of structures of leaves, written from one plan of its element, reads exactly
// as its elements read one by one (each through the walk of a structure), in every form
// that writes the array as one flat list. (The first element starts where the array
// does: its address names the array.)
TEST_P(TopLevelRoundTrip, AnArrayOfStructuresReadsAsItsElementsOneByOne) {
    app().start(kMixedApplication);
    loadSymbols();
    std::mt19937_64 random(11);
    for (const uint32_t format : {0u, ZENTRIK_FORMAT_READABLE & ~ZENTRIK_FORMAT_NESTED_ARRAYS,
                                  ZENTRIK_FORMAT_BITS & ~(ZENTRIK_FORMAT_NESTED_ARRAYS | kFormPretty)}) {
        SCOPED_TRACE("format " + std::to_string(format));
        const std::unique_ptr<SeenNode> node = indexed("App.Globals.alls");
        ASSERT_NE(nullptr, node);
        FillLeaves(*node, format, random);
        CWriterCalls writer;
        ASSERT_EQ(1u, writer.setFormat(format));
        std::string lastThree;
        for (const char* element : {"alls[0,1]", "alls[1,0]", "alls[1,1]"}) {
            ASSERT_EQ(1u, writer.reset());
            ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "v",
                                           app().address(std::string("App.Globals.") + element)));
            const std::string text = writer.text();  // {"v":{...}}
            lastThree += "," + text.substr(5, text.size() - 6);
        }
        ASSERT_EQ(1u, writer.reset());
        ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "v", node->address));
        const std::string text = writer.text();
        EXPECT_EQ(0u, text.rfind("{\"v\":[{", 0)) << text;
        ASSERT_GT(text.size(), lastThree.size() + 2);
        EXPECT_EQ(lastThree + "]}", text.substr(text.size() - lastThree.size() - 2));
    }
}

// A multi-dimensional array takes nested arrays of exactly its shape, first index
// outermost, as well as the flat list; nested arrays of another shape write nothing of it.
TEST_P(TopLevelRoundTrip, MultiDimensionalArraysTakeNestedArraysOfTheirShape) {
    app().start(R"(
        VAR_GLOBAL
            grid : ARRAY[0..1, 1..3] OF INT;
            cube : ARRAY[0..1, 0..1, 0..1] OF USINT;
            rows : ARRAY[0..2, 0..0] OF ARRAY[0..1] OF INT;
        END_VAR
    )");
    loadSymbols();
    const struct {
        const char* name;
        std::string text;
        std::string memory;  // afterwards, from zeroes
        std::string problem;
    } cases[] = {
        {"grid", R"({"grid":[[1,2,3],[4,5,6]]})", Int16s({1, 2, 3, 4, 5, 6}), ""},
        {"grid", R"({"grid":[1,2,3,4,5,6]})", Int16s({1, 2, 3, 4, 5, 6}), ""},
        {"grid", R"({"grid":[[1,2,3],[4,5]]})", Int16s({0, 0, 0, 0, 0, 0}),
         "grid[1]: 2 elements given, 3 expected"},
        {"grid", R"({"grid":[[1,2,3],4]})", Int16s({0, 0, 0, 0, 0, 0}),
         "grid[1]: expected an array, found an integer"},
        {"grid", R"({"grid":[[1,2,3]]})", Int16s({0, 0, 0, 0, 0, 0}),
         "grid: 1 elements given, 6 expected (or 2 nested arrays of 3)"},
        {"cube", R"({"cube":[[[1,2],[3,4]],[[5,6],[7,8]]]})", HexOf(Bytes({1, 2, 3, 4, 5, 6, 7, 8})), ""},
        {"cube", R"({"cube":[[[1,2],[3,4]],[[5,6],[7]]]})", HexOf(Bytes({0, 0, 0, 0, 0, 0, 0, 0})),
         "cube[1][1]: 1 elements given, 2 expected"},
        // One column of arrays: the flat list of three arrays, and the nested lists of one.
        {"rows", R"({"rows":[[1,2],[3,4],[5,6]]})", Int16s({1, 2, 3, 4, 5, 6}), ""},
        {"rows", R"({"rows":[[[1,2]],[[3,4]],[[5,6]]]})", Int16s({1, 2, 3, 4, 5, 6}), ""},
    };
    for (const auto& c : cases) {
        unsigned char* memory = app().address(std::string("App.Globals.") + c.name);
        ASSERT_NE(nullptr, memory);
        const size_t size = app().size(std::string("App.Globals.") + c.name);
        std::memset(memory, 0, size);
        fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record{};
        std::string text = c.text;
        record.pJson = &text[0];
        record.nSize = static_cast<RTS_IEC_UDINT>(text.size());
        record.pData = reinterpret_cast<RTS_IEC_UDINT*>(memory);
        fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
        EXPECT_EQ(1, record.SetSymbolFromJsonReport) << c.text;
        EXPECT_EQ(c.memory, LeafBytes(std::string("App.Globals.") + c.name)) << c.text;
        EXPECT_EQ(c.problem, std::string(record.sProblem)) << c.text;
    }
    // Written out nested, first index outermost.
    CWriterCalls writer;
    ASSERT_EQ(1u, writer.setFormat(ZENTRIK_FORMAT_NESTED_ARRAYS));
    writer.reset();
    ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "cube", app().address("App.Globals.cube")));
    ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "rows", app().address("App.Globals.rows")));
    EXPECT_EQ(R"({"cube":[[[0,0],[0,0]],[[0,0],[0,0]]],"rows":[[[1,2]],[[3,4]],[[5,6]]]})", writer.text());
}

ZENTRIK_UNDER_EVERY_RUNTIME(TopLevelRoundTrip);

// Decimals of every length, with and without an exponent, read exactly as strtod reads
// them.
TEST_F(DatatypeRoundTripTest, ShortAndLongDecimalsReadAsStrtodReadsThem) {
    double value = 0;
    Publish(MakeVar(TYPE3_LREAL, 8, &value, "x"));
    std::mt19937_64 random(11);
    size_t mismatches = 0;
    for (int i = 0; i < 3000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 18);
        std::string number = (random() & 1) ? "-" : "";
        const int point = static_cast<int>(random() % digits);
        for (int d = 0; d < digits; ++d) {
            // No leading zero before other digits: JSON has none.
            number += static_cast<char>(d == 0 && point > 0 ? '1' + random() % 9 : '0' + random() % 10);
            if (d == point && d + 1 < digits) {
                number += '.';
            }
        }
        if (number.find('.') == std::string::npos || (random() & 1)) {
            number += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
        }
        value = 12345.0;
        ASSERT_EQ(1, CallSetFromJson("{\"x\":" + number + "}", &value)) << number;
        const double expected = std::strtod(number.c_str(), nullptr);
        if (std::memcmp(&expected, &value, sizeof(value)) != 0 && ++mismatches <= 5) {
            ADD_FAILURE() << number << " read as " << value << ", strtod gives " << expected;
        }
    }
    EXPECT_EQ(0u, mismatches);
}
