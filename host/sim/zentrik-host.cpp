// zentrik-host: the command-line front of the simulated controller. It loads
// libzentrik.so the way a controller runtime does (dlopen, ComponentEntry, import,
// export, event subscription), starts an IEC application declared in a text file,
// lets the component load the application's symbols, and then runs commands that call
// the component's external functions by their registered names.
//
// JSON goes to stdout, the host log to stderr (or to --log FILE, or nowhere with
// --quiet). Exit status: 0 every command did what it was asked, 1 bad input or a
// refusal, 2 a usage error, 3 a write that took its text but did not write everything
// the text named as given. Every error is one line on stderr.
//
// Commands and options are rows of two tables (kCommands, kOptions): a new command is a
// function that takes its operands from the command line (checked before anything is
// loaded) and returns what it does once the host is up, and a row that names it and
// says what it does; a new option is a row.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "CmpItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "RV5072_Zentrik/ZentrikVersion.h"
#include "SimApplication.h"
#include "SimDeclCompiler.h"
#include "SimDeclParser.h"
#include "SimEventManager.h"
#include "SimHost.h"
#include "SimNames.h"
#include "StComponentMethods.h"
#include "StInterpreter.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotWrittenAsGiven = 3;

// Bad input or a refusal: exit status 1.
class CHostError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// A command line the host cannot follow: exit status 2.
class CUsageError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// The application events that act on the component, by the names the host gives them.
struct EventName {
    const char* name;
    EVENTID id;
    const char* effect;
};
const EventName kEvents[] = {
    {"prepare-reset", kSimEventPrepareReset,
     "stops an unfinished load, drops the symbols, every writer and reader document and the pending key"},
    {"reset-done", kSimEventResetDone, "loads the symbols unless a load has completed since the last stop"},
    {"prepare-delete", kSimEventPrepareDelete, "like prepare-reset, without a log line"},
    {"download-done", kSimEventDownloadDone, "stops a running load and loads the symbols anew"},
    {"delete-all", kSimEventDeleteAllApps, "stops the loader and drops the symbols; writer documents stay"},
};

std::string ErrorText(int error) { return std::strerror(error); }

// A JSON string literal of text: the quote, the backslash and the control characters
// escaped, every other byte as it is.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A double as the writer block writes it: the shortest digits that read back as the
// same double, laid out as the component's JSON writer lays them out: 10.0, 0.001,
// 1e21, 1.5e-7, 1e-7, 100000000000000000000.0 (the point form up to 21 digits before
// the point and 6 zeros after it, else an exponent without '+' or leading zeros).
std::string WriterNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[64];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific);
    std::string scientific(text, end.ptr);  // -d.ddde[+-]xx
    std::string sign = scientific[0] == '-' ? "-" : "";
    size_t at = sign.size();
    size_t e = scientific.find('e');
    std::string digits = scientific.substr(at, 1);
    if (e > at + 1) {
        digits += scientific.substr(at + 2, e - at - 2);
    }
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    const int length = static_cast<int>(digits.size());
    const int point = exponent + 1;  // digits before the decimal point
    std::string out;
    if (value == 0) {
        out = "0.0";
    } else if (length <= point && point <= 21) {
        out = digits + std::string(static_cast<size_t>(point - length), '0') + ".0";
    } else if (0 < point && point <= 21) {
        out = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
    } else if (-6 < point && point <= 0) {
        out = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    } else {
        out =
            digits.substr(0, 1) + (length > 1 ? "." + digits.substr(1) : "") + "e" + std::to_string(exponent);
    }
    return sign + out;
}

// The name of a kind GetKind gives (iec/ declares it as JSON_ and the name in capitals).
const char* KindName(int kind) {
    static const struct {
        int kind;
        const char* name;
    } kNames[] = {{ZENTRIK_KIND_NOTHING, "nothing"}, {ZENTRIK_KIND_NULL, "null"},
                  {ZENTRIK_KIND_BOOLEAN, "boolean"}, {ZENTRIK_KIND_INTEGER, "integer"},
                  {ZENTRIK_KIND_REAL, "real"},       {ZENTRIK_KIND_STRING, "string"},
                  {ZENTRIK_KIND_ARRAY, "array"},     {ZENTRIK_KIND_OBJECT, "object"}};
    for (const auto& row : kNames) {
        if (row.kind == kind) {
            return row.name;
        }
    }
    return "unknown kind";
}

// Reads a whole file; a directory, an unreadable file or a failed read is an error.
std::string ReadFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        throw CHostError("cannot read " + path + ": " + ErrorText(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw CHostError("cannot read " + path + ": it is a directory");
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw CHostError("cannot read " + path + ": " + ErrorText(errno));
    }
    std::string text;
    char chunk[1 << 16];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        text.append(chunk, got);
    }
    bool failed = std::ferror(file) != 0;
    int error = errno;
    std::fclose(file);
    if (failed) {
        throw CHostError("cannot read " + path + ": " + ErrorText(error));
    }
    return text;
}

std::string ReadStandardInput() {
    std::string text;
    char chunk[1 << 16];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), stdin)) > 0) {
        text.append(chunk, got);
    }
    if (std::ferror(stdin) != 0) {
        throw CHostError("cannot read standard input: " + ErrorText(errno));
    }
    return text;
}

// Where the component is found when --lib is not given: the library installed beside
// this program (../<libdir>/ from its directory), else the one built beside it in a
// build tree, else the installed soname wherever the dynamic loader finds it. Only
// paths relative to the program are compiled in, so no build folder is.
std::string DefaultLibrary() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length > 0) {
        std::string path(self, static_cast<size_t>(length));
        std::string directory = path.substr(0, path.rfind('/') + 1);
        for (const char* relative : {ZENTRIK_INSTALLED_LIB, ZENTRIK_BUILT_LIB}) {
            std::string candidate = directory + relative;
            if (access(candidate.c_str(), R_OK) == 0) {
                return candidate;
            }
        }
    }
    return ZENTRIK_SONAME;
}

// A program to run (`run PROGRAM.st`): its text parsed once, before the application
// starts, since its variables become part of the application.
struct ProgramFile {
    std::string path;
    st::SProgram program;
};

struct Options {
    std::string library;
    std::string applicationFile;
    FILE* logEcho = stderr;
    double timeoutSeconds = 60;
    bool allowEmpty = false;
    bool version = false;
    uint32_t format = 0;  // the format of the writer print uses (SetFormat)
    std::vector<std::shared_ptr<ProgramFile>> programs;
};

// A writer format as --format gives it: names of the format bits as iec/ declares them
// (any case; readable for the preset) or numbers (decimal, 0x or 16# hexadecimal),
// joined by commas or '+'.
uint32_t ParseFormat(const std::string& given) {
    uint32_t format = 0;
    size_t begin = 0;
    while (begin <= given.size()) {
        const size_t end = std::min(given.find(',', begin), given.find('+', begin));
        const std::string part =
            given.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        bool known = false;
        for (const SStConstant& constant : StComponentConstants()) {
            if (constant.type == TYPE3_DWORD && CSimNameEqual()(constant.name, part)) {  // a format bit
                format |= static_cast<uint32_t>(constant.value);
                known = true;
            }
        }
        if (!known && !part.empty()) {
            const bool hex =
                part.rfind("0x", 0) == 0 || part.rfind("0X", 0) == 0 || part.rfind("16#", 0) == 0;
            const std::string digits = hex ? part.substr(part[0] == '1' ? 3 : 2) : part;
            unsigned long value = 0;
            const std::from_chars_result read =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            known = !digits.empty() && read.ec == std::errc() && read.ptr == digits.data() + digits.size() &&
                    value <= UINT32_MAX;
            format |= static_cast<uint32_t>(value);
        }
        if (!known) {
            throw CUsageError(
                "--format takes names of format bits (readable, iso_8601, ...) or a number, not " + given);
        }
        if (end == std::string::npos) {
            break;
        }
        begin = end + 1;
    }
    if ((format & ~ZENTRIK_FORMAT_BITS) != 0) {
        throw CUsageError("--format " + given + " holds bits no format has (at most 16#01FF)");
    }
    return format;
}

typedef void (*ExternalFunction)(void*);

// Calls the component's external functions by the names it registered.
class CComponentCalls : public IStExternalCalls {
   public:
    explicit CComponentCalls(const CMP_EXT_FUNCTION_REF* table) : table_(table) {}

    void call(const char* name, void* record) override {
        for (const CMP_EXT_FUNCTION_REF* row = table_; row->pfExtCall != nullptr; ++row) {
            if (std::strcmp(row->pszExtCallName, name) == 0) {
                reinterpret_cast<ExternalFunction>(row->pfExtCall)(record);
                return;
            }
        }
        throw CHostError(std::string("the component registered no function ") + name);
    }

   private:
    const CMP_EXT_FUNCTION_REF* table_;
};

// dlopen and ComponentEntry; the component's record is the host's.
void LoadLibrary(const std::string& library) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        throw CHostError("cannot load the component: " + std::string(dlerror()));
    }
    auto entry = reinterpret_cast<int (*)(INIT_STRUCT*)>(dlsym(handle, "ComponentEntry"));
    if (entry == nullptr) {
        throw CHostError(library + " has no ComponentEntry");
    }
    if (CSimHost::instance().loadComponent(entry) != 0) {
        throw CHostError("the component did not start (its entry failed)");
    }
}

std::string VersionText(RTS_UI32 version) {
    char text[32];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFF,
                  (version >> 8) & 0xFF, version & 0xFF);
    return text;
}

// The simulated controller with the component loaded and the application running.
// Single-threaded: commands run one after the other on the main thread; only the
// component's loader thread runs beside it.
class CZentrikHost {
   public:
    explicit CZentrikHost(const Options& options) : options_(options) {
        CSimHost::instance().setLogEcho(options.logEcho);
        startApplication();
        loadComponent();
        postEvent(kSimEventResetDone);
    }

    // Shuts down as a controller does: deleting the applications stops and joins the
    // loader thread, then hook 12 unsubscribes. The library stays loaded: the
    // component's manager lives until the process ends.
    ~CZentrikHost() {
        CSimEventManager::instance().post(kSimEventDeleteAllApps);
        CSimHost::instance().callHook(12);
    }

    // Named variables (full name, key) as members of one document, printed on one line.
    void print(const std::vector<std::pair<std::string, std::string>>& variables) {
        build(variables);
        std::printf("%s\n", documentText().c_str());
        std::fflush(stdout);
    }

    // The JSON Schema of the text print NAME prints (and write NAME takes): an object of
    // one member, the variable's own name, whose schema AddJsonSchemaFromSymbol gives in
    // the writer's format.
    void schema(const std::string& given) {
        std::string name = Outermost(resolve(given));
        const std::string key = OwnName(name);
        build({{name, key}}, true);
        std::printf(
            "{\"type\":\"object\",\"properties\":%s,\"required\":[%s],\"additionalProperties\":false}\n",
            documentText().c_str(), JsonString(key).c_str());
        std::fflush(stdout);
    }

    // The writer's document as CopyDocument copies it.
    std::string documentText() {
        fb_jsonsaxwriter_getdocumentlength_struct length{&writer_, 0, 0};
        calls_->call("fb_jsonsaxwriter__getdocumentlength", &length);
        std::vector<char> text(length.GetDocumentLength + 1u, '\0');
        fb_jsonsaxwriter_copydocument_struct copy{&writer_, text.data(),
                                                  static_cast<RTS_IEC_UDINT>(text.size()), 0, 0};
        size_t logBefore = logSize();
        calls_->call("fb_jsonsaxwriter__copydocument", &copy);
        if (!copy.CopyDocument) {
            throw CHostError("the component could not copy the document" + refusal(logBefore));
        }
        return text.data();
    }

    // One part of the text print NAME prints: CopyDocumentPart from byte `offset` into a
    // buffer of `size` bytes, printed on one line (empty at or past the end).
    void part(const std::string& given, RTS_IEC_UDINT offset, RTS_IEC_UDINT size) {
        std::string name = Outermost(resolve(given));
        build({{name, OwnName(name)}});
        std::vector<RTS_IEC_BYTE> buffer(size + 1u, 0);
        fb_jsonsaxwriter_copydocumentpart_struct copy{&writer_, offset, buffer.data(), size, 0, 0, 0};
        size_t logBefore = logSize();
        calls_->call("fb_jsonsaxwriter__copydocumentpart", &copy);
        if (logSize() != logBefore) {
            throw CHostError("the component refused the part" + refusal(logBefore));
        }
        std::printf("%s\n", reinterpret_cast<const char*>(buffer.data()));
        std::fflush(stdout);
    }

    // The writer's document made of the named variables (full name, key): their values,
    // or with schemas their JSON Schemas.
    void build(const std::vector<std::pair<std::string, std::string>>& variables, bool schemas = false) {
        fb_jsonsaxwriter_resetdocument_struct reset{&writer_, 0};
        calls_->call("fb_jsonsaxwriter__resetdocument", &reset);
        fb_jsonsaxwriter_setformat_struct format{&writer_, options_.format, 0};
        calls_->call("fb_jsonsaxwriter__setformat", &format);
        if (!format.SetFormat) {
            throw CHostError("the component refused the format " + std::to_string(options_.format));
        }
        for (const auto& [name, given] : variables) {
            std::string key = given;
            // The two records have one layout (checked below the class).
            fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct add{};
            add.pInstance = &datatype_;
            add.fbWriter = &writer_;
            add.sKey = &key[0];
            add.pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
            size_t logBefore = logSize();
            calls_->call(schemas ? "fb_jsonreadwritedatatype__addjsonschemafromsymbol"
                                 : "fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol",
                         &add);
            if (!add.AddJsonKeyValueFromSymbol) {
                throw CHostError("the component refused to read " + name + refusal(logBefore));
            }
        }
    }

    // Every top-level variable, keyed by its full name.
    void printAll() {
        std::vector<std::pair<std::string, std::string>> variables;
        for (const std::string& name : app().topLevelVariables()) {
            variables.emplace_back(name, name);
        }
        print(variables);
    }

    // One variable, keyed by its own name (the last part of its full name), as write takes
    // it back. A first member or element is the variable that starts at its address, as
    // the component finds variables by address: the structure or array it starts.
    void printOne(const std::string& given) {
        std::string name = Outermost(resolve(given));
        print({{name, OwnName(name)}});
    }

    // SetSymbolFromJsonReport on NAME: it writes what SetSymbolFromJson writes, and its
    // report tells where a text failed to parse and whether anything was written. With
    // showReport the report goes to stdout as one JSON object, also before a refusal ends
    // the command.
    void write(const std::string& given, std::string json, bool showReport) {
        std::string name = resolve(given);
        checkSize(json, "the JSON text for " + name);
        std::unique_ptr<fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct> set(
            new fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct());
        set->pInstance = &datatype_;
        set->pJson = &json[0];
        set->nSize = static_cast<RTS_IEC_UDINT>(json.size());
        set->pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
        size_t logBefore = logSize();
        calls_->call("fb_jsonreadwritedatatype__setsymbolfromjsonreport", set.get());
        std::string problem(reinterpret_cast<const char*>(set->sProblem),
                            strnlen(reinterpret_cast<const char*>(set->sProblem), sizeof(set->sProblem)));
        if (showReport) {
            std::printf(
                "{\"result\":%s,\"nWritten\":%u,\"nSkipped\":%u,\"nMissing\":%u,\"nUnknown\":%u,"
                "\"nErrorOffset\":%u,\"sProblem\":%s}\n",
                set->SetSymbolFromJsonReport ? "true" : "false", set->nWritten, set->nSkipped, set->nMissing,
                set->nUnknown, set->nErrorOffset, JsonString(problem).c_str());
            std::fflush(stdout);
        }
        if (!set->SetSymbolFromJsonReport) {
            std::string reason = refusal(logBefore);
            if (problem.rfind("JSON text at byte", 0) == 0) {
                reason += " (" + problem + ")";
            }
            throw CHostError("the component refused to write " + name + reason);
        }
        // Taken, but not written as given: a value named was not written, was cut or
        // wrapped, or the text has no member for the variable at all. Members the text
        // leaves out are no problem: a partial update leaves them out on purpose.
        const std::string missing = ": missing";
        const bool leftOut = problem.size() > missing.size() &&
                             problem.compare(problem.size() - missing.size(), missing.size(), missing) == 0 &&
                             problem != OwnName(name) + missing;
        if (set->nSkipped > 0 || set->nUnknown > 0 || (!problem.empty() && !leftOut)) {
            if (problem == OwnName(name) + missing) {
                std::fprintf(
                    stderr,
                    "zentrik-host: nothing was written to %s: the text's root object has no member \"%s\"\n",
                    name.c_str(), OwnName(name).c_str());
            } else if (set->nWritten == 0) {
                std::fprintf(stderr, "zentrik-host: nothing was written to %s: %s\n", name.c_str(),
                             problem.c_str());
            } else {
                std::fprintf(stderr, "zentrik-host: %s was not written as given: %s\n", name.c_str(),
                             problem.c_str());
            }
            std::fflush(stderr);
            notWrittenAsGiven_ = true;
        }
    }

    // Whether a write took its text but did not write everything it named as given.
    bool notWrittenAsGiven() const { return notWrittenAsGiven_; }

    // The reader instance's document becomes text; a text that does not parse is an error.
    void parse(std::string json) {
        checkSize(json, "the JSON text");
        std::unique_ptr<fb_jsonreader_parse_struct> call(new fb_jsonreader_parse_struct());
        call->pInstance = &reader_;
        call->pJson = &json[0];
        call->nSize = static_cast<RTS_IEC_UDINT>(json.size());
        calls_->call("fb_jsonreader__parse", call.get());
        if (!call->Parse) {
            const char* reason = reinterpret_cast<const char*>(call->sError);
            throw CHostError("the text does not parse: at byte " + std::to_string(call->nErrorOffset) + ": " +
                             std::string(reason, strnlen(reason, sizeof(call->sError))));
        }
    }

    int kind(std::string path) {
        fb_jsonreader_getkind_struct call{&reader_, &path[0], 0};
        calls_->call("fb_jsonreader__getkind", &call);
        return call.GetKind;
    }

    int size(std::string path) {
        fb_jsonreader_getsize_struct call{&reader_, &path[0], 0};
        calls_->call("fb_jsonreader__getsize", &call);
        return call.GetSize;
    }

    // The value at path as compact JSON.
    std::string raw(const std::string& path) {
        found(path);
        std::string where = path;
        fb_jsonreader_getraw_struct query{&reader_, &where[0], nullptr, 0, 0, 0};
        calls_->call("fb_jsonreader__getraw", &query);
        std::vector<char> text(query.nLength + 1u, '\0');
        fb_jsonreader_getraw_struct call{
            &reader_, &where[0], text.data(), static_cast<RTS_IEC_UDINT>(text.size()), 0, 0};
        calls_->call("fb_jsonreader__getraw", &call);
        if (!call.GetRaw) {
            throw CHostError("the component could not give the text at '" + path + "'");
        }
        return std::string(text.data(), call.nLength);
    }

    // The value at path as a program reads it through the typed methods: a string's
    // bytes unquoted, numbers, true/false, null. Arrays and objects are refused.
    std::string get(const std::string& path) {
        const int found = this->found(path);
        std::string where = path;
        switch (found) {
            case ZENTRIK_KIND_NULL:
                return "null";
            case ZENTRIK_KIND_BOOLEAN: {
                fb_jsonreader_getbool_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getbool", &call);
                if (call.GetBool) {
                    return call.bValue ? "true" : "false";
                }
                break;
            }
            case ZENTRIK_KIND_INTEGER: {
                fb_jsonreader_getlint_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getlint", &call);
                if (call.GetLint) {
                    return std::to_string(call.liValue);
                }
                return raw(path);  // an unsigned integer beyond LINT: its exact digits
            }
            case ZENTRIK_KIND_REAL: {
                fb_jsonreader_getlreal_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getlreal", &call);
                if (call.GetLreal) {
                    return WriterNumber(call.lrValue);
                }
                break;
            }
            case ZENTRIK_KIND_STRING: {
                fb_jsonreader_getstring_struct query{&reader_, &where[0], nullptr, 0, 0, 0};
                calls_->call("fb_jsonreader__getstring", &query);
                std::vector<char> text(query.nLength + 1u, '\0');
                fb_jsonreader_getstring_struct call{
                    &reader_, &where[0], text.data(), static_cast<RTS_IEC_UDINT>(text.size()), 0, 0};
                calls_->call("fb_jsonreader__getstring", &call);
                if (call.GetString) {
                    return std::string(text.data(), call.nLength);
                }
                throw CHostError("the string at '" + path + "' holds a zero byte; raw prints it escaped");
            }
            default:
                throw CHostError("the value at '" + path + "' is an " + KindName(found) +
                                 "; raw prints it, size counts its " +
                                 (found == ZENTRIK_KIND_ARRAY ? "elements" : "members"));
        }
        throw CHostError("the component could not read the " + std::string(KindName(found)) + " at '" + path +
                         "'");
    }

    // Runs a program's body `cycles` times, then prints the variables it names.
    void run(ProgramFile& file, uint64_t cycles, const std::vector<std::string>& prints) {
        const std::string branch = "App." + file.program.name;
        CStInterpreter interpreter(file.program, branch, StComponentMethods(), StComponentConstants(),
                                   *calls_);
        try {
            interpreter.bind();
            for (uint64_t cycle = 0; cycle < cycles; ++cycle) {
                interpreter.runCycle();
            }
        } catch (const CSimDeclError& error) {
            throw CHostError(file.path + ": " + error.what());
        }
        for (const std::string& name : prints) {
            try {
                app().address(branch + "." + name);
                printOne(branch + "." + name);
            } catch (const std::out_of_range&) {
                printOne(name);
            }
        }
    }

    void reload() {
        postEvent(kSimEventPrepareReset);
        postEvent(kSimEventResetDone);
    }

    // Posts an event; when it started a symbol load, waits for that load to end.
    void postEvent(EVENTID id) {
        size_t begins = count(IsLoadBegin);
        size_t ends = count(IsLoadEnd);
        size_t failures = count(IsThreadFailure);
        const auto posted = std::chrono::steady_clock::now();
        CSimEventManager::instance().post(id);
        if (count(IsLoadBegin) > begins) {
            waitForLoad(posted, ends, failures);
        }
    }

    // The full name, in the declaration's spelling, of a variable given by its full name
    // or by a top-level variable's own name, either followed by members and elements
    // (stations[2].axis). Names are matched without regard to case, as declarations are.
    std::string resolve(const std::string& given) {
        size_t split = given.find_first_of(".[");
        std::string head = given.substr(0, split);
        std::vector<std::string> matches;
        for (const std::string& variable : app().topLevelVariables()) {
            if (CSimNameEqual()(OwnName(variable), head)) {
                matches.push_back(variable);
            }
        }
        if (matches.size() > 1) {
            throw CHostError("variable name " + given + " is ambiguous; give its full name");
        }
        std::string rest = split == std::string::npos ? "" : given.substr(split);
        if (matches.empty()) {
            if (!CSimNameEqual()(head, "App")) {
                throw CHostError("unknown variable " + given + " in " + options_.applicationFile);
            }
            // A full name: its branches and variable, then members and elements.
            for (const std::string& variable : app().topLevelVariables()) {
                if (given.size() >= variable.size() &&
                    CSimNameEqual()(given.substr(0, variable.size()), variable) &&
                    (given.size() == variable.size() || given[variable.size()] == '.' ||
                     given[variable.size()] == '[')) {
                    matches.push_back(variable);
                    rest = given.substr(variable.size());
                }
            }
            if (matches.empty()) {
                throw CHostError("unknown variable " + given + " in " + options_.applicationFile);
            }
        }
        return declaredPath(matches.back(), rest, given);
    }

   private:
    static CSimApplication& app() { return CSimApplication::instance(); }

    // The outermost variable that starts where the variable `name` starts.
    static std::string Outermost(std::string name) {
        const uint8_t* at = app().address(name);
        for (;;) {
            size_t cut = name.back() == ']' ? name.rfind('[') : name.rfind('.');
            std::string parent = name.substr(0, cut);
            try {
                if (cut == std::string::npos || app().address(parent) != at) return name;
            } catch (const std::out_of_range&) {
                return name;  // the parent is a branch: name is a top-level variable
            }
            name = parent;
        }
    }

    static std::string OwnName(const std::string& fullName) {
        size_t bracket =
            fullName.find('[', fullName.rfind('.') == std::string::npos ? 0 : fullName.rfind('.'));
        size_t dot = fullName.rfind('.', bracket);
        return fullName.substr(dot + 1);
    }

    // variable + members and elements, each member in its declared spelling.
    std::string declaredPath(const std::string& variable, const std::string& rest, const std::string& given) {
        std::string path = variable;
        size_t at = 0;
        try {
            while (at < rest.size()) {
                if (rest[at] == '[') {
                    size_t close = rest.find(']', at);
                    if (close == std::string::npos) break;
                    path += rest.substr(at, close + 1 - at);
                    at = close + 1;
                    continue;
                }
                if (rest[at] != '.') break;
                size_t end = rest.find_first_of(".[", at + 1);
                std::string member = rest.substr(at + 1, end == std::string::npos ? end : end - at - 1);
                const CSimType* type = app().type(path);
                auto found = type->kind == CSimType::Kind::Struct ? type->memberIndex.find(member)
                                                                  : type->memberIndex.end();
                if (found == type->memberIndex.end()) break;
                path += "." + type->members[found->second].name;
                at = end == std::string::npos ? rest.size() : end;
            }
            if (at == rest.size()) {
                app().address(path);
                return path;
            }
        } catch (const std::out_of_range&) {
        }
        throw CHostError("unknown variable " + given + " in " + options_.applicationFile);
    }

    // The application file, and each program's declarations after it (their lines
    // follow the application's, so a declaration error is placed in the file it is in),
    // then the instance types of the component's blocks the application does not declare.
    void startApplication() {
        std::string text = ReadFile(options_.applicationFile);
        std::vector<std::pair<int, std::string>> firstLines;  // (first line, file) after the application
        if (!options_.programs.empty()) {
            std::unique_ptr<CSimModel> alone;
            try {
                alone = SimCompileDeclarations(text);
            } catch (const CSimDeclError& error) {
                throw CHostError(options_.applicationFile + ": " + error.what());
            }
            int line = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
            for (const std::shared_ptr<ProgramFile>& file : options_.programs) {
                text += "\n";
                ++line;
                firstLines.emplace_back(line, file->path);
                text += file->program.declarations;
                line += static_cast<int>(
                    std::count(file->program.declarations.begin(), file->program.declarations.end(), '\n'));
            }
            text += "\n";
            std::set<std::string> declared;  // the blocks with an instance type
            for (const CSimFunctionBlock& block : alone->functionBlocks) {
                declared.insert(ToUpper(block.name));
            }
            for (const SStMethod& method : StComponentMethods()) {
                if (declared.insert(ToUpper(method.block)).second) {
                    text += std::string("FUNCTION_BLOCK ") + method.block + " END_FUNCTION_BLOCK ";
                }
            }
        }
        try {
            app().start(text);
        } catch (const CSimDeclError& error) {
            std::string file = options_.applicationFile;
            int line = error.line();
            for (const auto& [first, path] : firstLines) {
                if (error.line() >= first) {
                    file = path;
                    line = error.line() - first + 1;
                }
            }
            std::string what = error.what();
            what = what.substr(what.find(',') + 1);  // ", column C: ..." after "line L"
            throw CHostError(file + ": line " + std::to_string(line) + "," + what);
        }
        if (app().topLevelVariables().empty() && !options_.allowEmpty) {
            throw CHostError(options_.applicationFile +
                             " declares no variables (--allow-empty runs an application without any)");
        }
    }

    void loadComponent() {
        LoadLibrary(options_.library);
        CSimHost& host = CSimHost::instance();
        size_t tablesBefore = host.registeredTables().size();
        if (host.importFunctions() != 0 || host.exportFunctions() != 0) {
            throw CHostError("the component did not start (entry, import or export failed)");
        }
        std::vector<SimRegisteredTable> tables = host.registeredTables();
        for (size_t i = tablesBefore; i < tables.size(); ++i) {
            if (tables[i].externalLibrary == 1) {
                calls_.reset(new CComponentCalls(tables[i].table));
            }
        }
        if (!calls_) {
            throw CHostError("the component registered no external functions");
        }
        if (host.callHook(4) != 0) {
            throw CHostError("the component could not subscribe to the host's events");
        }
    }

    static bool IsLoadBegin(const std::string& text) {
        return text == "BeginLoadSymbols" || text == "ResetDoneFunction BeginLoadSymbols";
    }
    static bool IsLoadEnd(const std::string& text) { return text.rfind("LoadSymbols end", 0) == 0; }
    static bool IsThreadFailure(const std::string& text) {
        return text.rfind("pthread_create failed", 0) == 0;
    }

    static size_t count(bool (*matches)(const std::string&)) {
        size_t found = 0;
        for (const std::string& text : CSimHost::instance().logTexts()) {
            found += matches(text) ? 1 : 0;
        }
        return found;
    }

    static void checkSize(const std::string& text, const std::string& what) {
        if (text.size() > UINT32_MAX) {
            throw CHostError(what + " is larger than 4 GiB");
        }
    }

    // The kind of the value at path; finding nothing is an error that says why.
    int found(const std::string& path) {
        const int found = kind(path);
        if (found != ZENTRIK_KIND_NOTHING) {
            return found;
        }
        if (kind("") == ZENTRIK_KIND_NOTHING) {
            throw CHostError("no text is parsed (parse one first; a reset of the application drops it)");
        }
        if (!path.empty() && path[0] != '/') {
            throw CHostError("nothing at '" + path + "' (a JSON Pointer starts with '/': '/" + path + "')");
        }
        throw CHostError("nothing at '" + path + "'");
    }

    static size_t logSize() { return CSimHost::instance().logRecords().size(); }

    // The component's own reason for the refusal just made: its first class-4 log entry
    // since logBefore, with a hint when the symbols are not loaded.
    static std::string refusal(size_t logBefore) {
        std::vector<SimLogRecord> records = CSimHost::instance().logRecords();
        for (size_t i = logBefore; i < records.size(); ++i) {
            if (records[i].logClass == 4) {
                std::string reason = ": " + records[i].text;
                if (records[i].text.rfind("Variables are being loaded", 0) == 0) {
                    reason += " (no symbols are loaded; post reset-done or download-done)";
                }
                return reason;
            }
        }
        return " (see the host log)";
    }

    // Waits for the end line of the load the event posted at `posted` started. The time
    // limit is judged by when the component logged the end, so a main thread that the
    // loader (a real-time thread) kept from running meanwhile does not take a late load
    // for one in time. Gives up at once when the loader thread could not be created. On a
    // terminal, a load that takes over a second shows the nodes made so far.
    void waitForLoad(std::chrono::steady_clock::time_point posted, size_t endsBefore, size_t failuresBefore) {
        using Clock = std::chrono::steady_clock;
        CSimHost& host = CSimHost::instance();
        const auto limit = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(options_.timeoutSeconds));
        const Clock::time_point deadline = posted + limit;
        const bool showProgress = isatty(STDERR_FILENO) == 1;
        bool progressShown = false;
        for (;;) {
            std::vector<SimLogRecord> records = host.logRecords();
            size_t ends = 0;
            for (const SimLogRecord& record : records) {
                if (IsLoadEnd(record.text) && ++ends == endsBefore + 1) {
                    if (progressShown) {
                        std::fprintf(stderr, "\n");
                    }
                    if (record.at > deadline) {
                        throw timedOut();
                    }
                    return;
                }
            }
            if (count(IsThreadFailure) > failuresBefore) {
                throw CHostError("the component could not start its loader thread (see the host log)");
            }
            const Clock::time_point now = Clock::now();
            if (now > deadline) {
                if (progressShown) {
                    std::fprintf(stderr, "\n");
                }
                throw timedOut();
            }
            if (showProgress && now - posted > std::chrono::seconds(1)) {
                std::fprintf(stderr, "\rzentrik-host: loading the symbols: %zu nodes so far",
                             app().nodeCount());
                std::fflush(stderr);
                progressShown = true;
            }
            const auto slice = std::min<Clock::duration>(deadline - now + std::chrono::microseconds(100),
                                                         std::chrono::milliseconds(200));
            host.waitForLog(
                "LoadSymbols end", endsBefore + 1,
                std::chrono::duration_cast<std::chrono::milliseconds>(slice) + std::chrono::milliseconds(1));
        }
    }

    CHostError timedOut() const {
        char seconds[32];
        std::snprintf(seconds, sizeof(seconds), "%g", options_.timeoutSeconds);
        return CHostError(std::string("the symbol load did not finish within ") + seconds +
                          " s (--timeout SECONDS sets the limit)");
    }

    Options options_;
    std::unique_ptr<CComponentCalls> calls_;
    fb_jsonsaxwriter_struct writer_{};
    fb_jsonreadwritedatatype_struct datatype_{};
    fb_jsonreader_struct reader_{};
    bool notWrittenAsGiven_ = false;
};

// A command as parsed: what it does once the host is up.
using BoundCommand = std::function<void(CZentrikHost&)>;

// The words after the application file, taken by the commands one by one.
class CCommandLine {
   public:
    explicit CCommandLine(std::vector<std::string> words) : words_(std::move(words)) {}

    bool done() const { return next_ >= words_.size(); }
    const std::string& peek() const { return words_[next_]; }
    std::string take() { return words_[next_++]; }

    std::string operand(const char* command, const char* synopsis) {
        if (done()) {
            throw CUsageError(std::string(command) + ": missing operand (" + synopsis + ")");
        }
        return take();
    }

    // A JSON text given in place, as @FILE or as - (standard input, read once). Files and
    // standard input are read when the command runs.
    std::function<std::string()> text(const char* command, const char* synopsis) {
        std::string given = operand(command, synopsis);
        if (given == "-") {
            if (stdinNamed_) {
                throw CUsageError("standard input can be read only once");
            }
            stdinNamed_ = true;
            return [] { return ReadStandardInput(); };
        }
        if (!given.empty() && given[0] == '@') {
            return [given] { return ReadFile(given.substr(1)); };
        }
        return [given] { return given; };
    }

    std::vector<std::shared_ptr<ProgramFile>> programs;  // every program `run` names

   private:
    std::vector<std::string> words_;
    size_t next_ = 0;
    bool stdinNamed_ = false;
};

bool IsCommand(const std::string& word);

EVENTID ParseEvent(const std::string& given) {
    for (const EventName& event : kEvents) {
        if (given == event.name) {
            return event.id;
        }
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(given.c_str(), &end, 0);
    if (given.empty() || *end != '\0' || errno != 0 || value > UINT32_MAX || given[0] == '-') {
        throw CUsageError("unknown event " + given + " (zentrik-host --help lists the events)");
    }
    return static_cast<EVENTID>(value);
}

// Prints a line on stdout at once, so that output and the host log interleave in order.
void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

BoundCommand PrintCommand(CCommandLine& line) {
    if (!line.done() && !IsCommand(line.peek()) && line.peek().rfind("--", 0) != 0) {
        std::string name = line.take();
        return [name](CZentrikHost& host) { host.printOne(name); };
    }
    return [](CZentrikHost& host) { host.printAll(); };
}

// A byte count or offset of the command line: a whole number that fits a UDINT.
RTS_IEC_UDINT ParseUdint(const std::string& value, const char* what) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-' || number > 0xFFFFFFFFull) {
        throw CUsageError(std::string(what) + " needs a whole number from 0 to 4294967295, not " + value);
    }
    return static_cast<RTS_IEC_UDINT>(number);
}

BoundCommand PartCommand(CCommandLine& line) {
    const char* synopsis = "part NAME OFFSET SIZE";
    std::string name = line.operand("part", synopsis);
    const RTS_IEC_UDINT offset = ParseUdint(line.operand("part", synopsis), "OFFSET");
    const RTS_IEC_UDINT size = ParseUdint(line.operand("part", synopsis), "SIZE");
    return [name, offset, size](CZentrikHost& host) { host.part(name, offset, size); };
}

static_assert(sizeof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct) ==
                      sizeof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct) &&
                  offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct,
                           AddJsonSchemaFromSymbol) ==
                      offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct,
                               AddJsonKeyValueFromSymbol),
              "build calls both externals with one record");

BoundCommand SchemaCommand(CCommandLine& line) {
    std::string name = line.operand("schema", "schema NAME");
    return [name](CZentrikHost& host) { host.schema(name); };
}

BoundCommand WriteCommand(CCommandLine& line) {
    const char* synopsis = "write [--report] NAME JSON|@FILE|-";
    const bool report = !line.done() && line.peek() == "--report";
    if (report) {
        line.take();
    }
    std::string name = line.operand("write", synopsis);
    auto text = line.text("write", synopsis);
    return [name, text, report](CZentrikHost& host) { host.write(name, text(), report); };
}

BoundCommand ParseCommand(CCommandLine& line) {
    auto text = line.text("parse", "parse JSON|@FILE|-");
    return [text](CZentrikHost& host) { host.parse(text()); };
}

BoundCommand GetCommand(CCommandLine& line) {
    std::string path = line.operand("get", "get PATH");
    return [path](CZentrikHost& host) { PrintLine(host.get(path)); };
}

BoundCommand KindCommand(CCommandLine& line) {
    std::string path = line.operand("kind", "kind PATH");
    return [path](CZentrikHost& host) { PrintLine(KindName(host.kind(path))); };
}

BoundCommand SizeCommand(CCommandLine& line) {
    std::string path = line.operand("size", "size PATH");
    return [path](CZentrikHost& host) { PrintLine(std::to_string(host.size(path))); };
}

BoundCommand RawCommand(CCommandLine& line) {
    std::string path = line.operand("raw", "raw PATH");
    return [path](CZentrikHost& host) { PrintLine(host.raw(path)); };
}

BoundCommand ReloadCommand(CCommandLine&) {
    return [](CZentrikHost& host) { host.reload(); };
}

BoundCommand EventCommand(CCommandLine& line) {
    EVENTID id = ParseEvent(line.operand("event", "event NAME|ID"));
    return [id](CZentrikHost& host) { host.postEvent(id); };
}

// run PROGRAM.st [--cycles N] [--print NAME]...: the program is read and parsed now, since
// its variables are part of the application the host starts.
BoundCommand RunCommand(CCommandLine& line) {
    const char* synopsis = "run PROGRAM.st [--cycles N] [--print NAME]...";
    std::string path = line.operand("run", synopsis);
    uint64_t cycles = 1;
    std::vector<std::string> prints;
    while (!line.done() && (line.peek() == "--cycles" || line.peek() == "--print")) {
        std::string option = line.take();
        std::string value =
            line.operand(option.c_str(), option == "--cycles" ? "--cycles N" : "--print NAME");
        if (option == "--print") {
            prints.push_back(value);
            continue;
        }
        char* end = nullptr;
        errno = 0;
        cycles = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || cycles == 0 || value[0] == '-') {
            throw CUsageError("--cycles needs a positive whole number, not " + value);
        }
    }
    std::shared_ptr<ProgramFile> file;
    for (const std::shared_ptr<ProgramFile>& known : line.programs) {
        if (known->path == path) {
            file = known;
        }
    }
    if (!file) {
        file = std::make_shared<ProgramFile>();
        file->path = path;
        try {
            file->program = st::ParseProgram(ReadFile(path));
        } catch (const CSimDeclError& error) {
            throw CHostError(path + ": " + error.what());
        }
        line.programs.push_back(file);
    }
    return [file, cycles, prints](CZentrikHost& host) { host.run(*file, cycles, prints); };
}

// A command: its word, what takes its operands from the command line (checking them
// before anything is loaded) and its lines in --help.
struct Command {
    const char* name;
    BoundCommand (*parse)(CCommandLine&);
    const char* synopsis;
    const char* help;
};
const Command kCommands[] = {
    {"print", PrintCommand, "print [NAME]",
     "every top-level variable as one JSON document keyed by full names, or the\n"
     "variable NAME keyed by its own name (what write NAME takes back)"},
    {"part", PartCommand, "part NAME OFFSET SIZE",
     "the part of print NAME's text from byte OFFSET that CopyDocumentPart copies\n"
     "into a buffer of SIZE bytes: at most SIZE - 1 bytes, never cutting a UTF-8\n"
     "character"},
    {"schema", SchemaCommand, "schema NAME",
     "the JSON Schema of print NAME's text in the writer's format (--format): every\n"
     "member required, no other, arrays of their length, leaves of their class's range"},
    {"write", WriteCommand, "write [--report] NAME JSON|@FILE|-",
     "write a JSON text (given in place, read from FILE or from standard input) into\n"
     "NAME; the root object holds a member named as the variable:\n"
     "'{\"axis\":{\"pos\":2.5}}'; --report prints what was written, skipped and\n"
     "unknown, and the first problem; exit status 3 when not all was written as given"},
    {"parse", ParseCommand, "parse JSON|@FILE|-",
     "parse a JSON text of any shape into the reader; get, kind, size and raw read it"},
    {"get", GetCommand, "get PATH",
     "the value at the JSON Pointer PATH ('' is the root, /a/0/b): a string unquoted,\n"
     "a number as the writer writes it, true, false or null"},
    {"kind", KindCommand, "kind PATH", "nothing, null, boolean, integer, real, string, array or object"},
    {"size", SizeCommand, "size PATH", "elements of an array, members of an object, else -1"},
    {"raw", RawCommand, "raw PATH", "the value at PATH as compact JSON"},
    {"run", RunCommand, "run PROGRAM.st [--cycles N] [--print NAME]...",
     "run the Structured Text PROGRAM's body N times (default 1) as a cyclic task\n"
     "does, then print each NAME (the program's variable or the application's) as\n"
     "print NAME does"},
    {"reload", ReloadCommand, "reload", "post prepare-reset and reset-done, and wait for the new load"},
    {"event", EventCommand, "event NAME|ID",
     "post a host event (below); an event that starts a load waits for it"},
};

// The row of a table (commands, options) named `word`, or nullptr.
template <typename Row, size_t N>
const Row* FindRow(const Row (&rows)[N], const std::string& word) {
    for (const Row& row : rows) {
        if (word == row.name) {
            return &row;
        }
    }
    return nullptr;
}

const Command* FindCommand(const std::string& word) { return FindRow(kCommands, word); }

bool IsCommand(const std::string& word) { return FindCommand(word) != nullptr; }

// Whether a word is an option of some command (write --report, run --print), as its
// synopsis shows it; the command takes it where it stands.
bool IsCommandOption(const std::string& word) {
    for (const Command& command : kCommands) {
        const std::string synopsis = command.synopsis;
        for (size_t at = synopsis.find(word); at != std::string::npos; at = synopsis.find(word, at + 1)) {
            const char after = at + word.size() < synopsis.size() ? synopsis[at + word.size()] : ' ';
            if (at > 0 && synopsis[at - 1] == '[' && (after == ' ' || after == ']')) {
                return true;
            }
        }
    }
    return false;
}

// An option: its word, the name of its value (nullptr for a flag), what it sets and its
// line in --help. Options may stand anywhere on the command line.
struct Option {
    const char* name;
    const char* value;
    void (*apply)(Options&, const std::string&);
    const char* help;
};
const Option kOptions[] = {
    {"--lib", "PATH", [](Options& o, const std::string& v) { o.library = v; },
     "the component to load (default: the installed or built libzentrik.so)"},
    {"--quiet", nullptr, [](Options& o, const std::string&) { o.logEcho = nullptr; }, "no host log"},
    {"--log", "FILE",
     [](Options& o, const std::string& v) {
         o.logEcho = std::fopen(v.c_str(), "w");
         if (o.logEcho == nullptr) {
             throw CHostError("cannot write the log to " + v + ": " + ErrorText(errno));
         }
     },
     "the host log into FILE instead of stderr"},
    {"--timeout", "SECS",
     [](Options& o, const std::string& v) {
         char* end = nullptr;
         o.timeoutSeconds = std::strtod(v.c_str(), &end);
         if (v.empty() || *end != '\0' || !(o.timeoutSeconds > 0) || !std::isfinite(o.timeoutSeconds) ||
             o.timeoutSeconds > 1e9) {
             throw CUsageError("--timeout needs a positive number of seconds, not " + v);
         }
     },
     "time limit of every symbol load (default 60; to the millisecond)"},
    {"--allow-empty", nullptr, [](Options& o, const std::string&) { o.allowEmpty = true; },
     "run an application that declares no variables"},
    {"--format", "NAME|NUMBER", [](Options& o, const std::string& v) { o.format = ParseFormat(v); },
     "the format print, part and schema write in: readable, iso_8601, ...\n"
     "joined by ',' or '+', or a number"},
    {"--version", nullptr, [](Options& o, const std::string&) { o.version = true; },
     "the versions of zentrik-host and of the component it loads"},
};

const Option* FindOption(const std::string& word) { return FindRow(kOptions, word); }

// One row of --help: the synopsis, then its help from column 28 (on a line of its own
// when the synopsis is longer), each further line of the help indented to it.
std::string HelpRow(const std::string& synopsis, std::string help) {
    const size_t column = 28;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
        help.insert(at + 1, column, ' ');
    }
    std::string row = "  " + synopsis;
    if (row.size() + 1 > column) {
        row += "\n";
        row.append(column, ' ');
    } else {
        row.append(column - row.size(), ' ');
    }
    return row + help + "\n";
}

std::string Usage() {
    std::string text =
        "usage: zentrik-host [OPTION...] APP.st [COMMAND...]\n"
        "\n"
        "Loads libzentrik.so into a simulated controller, starts the IEC application\n"
        "declared in APP.st, lets the component load its symbols and runs the commands\n"
        "in order (default: print). JSON goes to stdout, the host log to stderr.\n"
        "Options may stand anywhere on the line.\n"
        "\n"
        "options:\n";
    for (const Option& option : kOptions) {
        text += HelpRow(std::string(option.name) + (option.value ? std::string(" ") + option.value : ""),
                        option.help);
    }
    text += HelpRow("-h, --help", "this text");
    text += "\ncommands:\n";
    for (const Command& command : kCommands) {
        text += HelpRow(command.synopsis, command.help);
    }
    text +=
        "\n"
        "NAME is a full name (App.Globals.counter) or a top-level variable's own name (counter),\n"
        "either followed by members and elements (stations[2].axis); case does not matter.\n"
        "\n"
        "events (by name or number, e.g. event reset-done or event 0x10006):\n";
    for (const EventName& event : kEvents) {
        char line[512];
        std::snprintf(line, sizeof(line), "  %-15s 0x%05X  %s\n", event.name, static_cast<unsigned>(event.id),
                      event.effect);
        text += line;
    }
    text +=
        "  After prepare-reset, prepare-delete or delete-all every print and write is refused\n"
        "  until reset-done or download-done has loaded the symbols again; prepare-reset and\n"
        "  prepare-delete also drop the parsed text. Other numbers are posted as given; the\n"
        "  component ignores them.\n"
        "\n"
        "exit status:\n";
    text += HelpRow("0", "every command did what it was asked");
    text += HelpRow("1",
                    "bad input or a refusal: a file that cannot be read, a declaration or program error,\n"
                    "a text that is not JSON, an unknown variable, symbols not loaded, a path that finds\n"
                    "nothing; the commands after it do not run");
    text += HelpRow("2", "a usage error: nothing is loaded and no command runs");
    text += HelpRow("3",
                    "a write took its text, but something the text named was not written, was cut or\n"
                    "wrapped (the first problem on stderr); the other commands still run");
    return text;
}

// Takes the options out of the arguments, wherever they stand, and returns the rest.
std::vector<std::string> TakeOptions(const std::vector<std::string>& args, Options& options) {
    std::vector<std::string> rest;
    std::vector<std::pair<const Option*, std::string>> given;
    for (size_t i = 0; i < args.size(); ++i) {
        const Option* option = FindOption(args[i]);
        if (option == nullptr) {
            if (args[i].rfind("--", 0) == 0 && !IsCommandOption(args[i])) {
                throw CUsageError("unknown option " + args[i]);
            }
            rest.push_back(args[i]);
            continue;
        }
        std::string value;
        if (option->value != nullptr) {
            if (i + 1 >= args.size()) {
                throw CUsageError(std::string(option->name) + " needs a value");
            }
            value = args[++i];
        }
        given.emplace_back(option, value);
    }
    // Usage errors first: a log file is created only for a command line that runs.
    for (const auto& [option, value] : given) {
        if (option->apply != nullptr && std::strcmp(option->name, "--log") != 0) {
            option->apply(options, value);
        }
    }
    for (const auto& [option, value] : given) {
        if (std::strcmp(option->name, "--log") == 0) {
            option->apply(options, value);
        }
    }
    return rest;
}

// zentrik-host's own version and the component's, as the component reports it to a runtime.
int PrintVersion(const Options& options) {
    LoadLibrary(options.library);
    const INIT_STRUCT& component = CSimHost::instance().component();
    RTS_UI32 version = component.pfGetVersion();
    std::printf("zentrik-host %d.%d.%d.%d\n", ZENTRIK_VERSION_MAJOR, ZENTRIK_VERSION_MINOR,
                ZENTRIK_VERSION_PATCH, ZENTRIK_VERSION_BUILD);
    std::printf("libzentrik %s (component 0x%08x, version 0x%08x) %s\n", VersionText(version).c_str(),
                static_cast<unsigned>(component.CmpId), static_cast<unsigned>(version),
                options.library.c_str());
    std::fflush(stdout);
    return 0;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage().c_str(), stdout);
            return 0;
        }
    }
    Options options;
    options.library = DefaultLibrary();
    std::vector<std::string> words = TakeOptions(args, options);
    if (options.version) {
        return PrintVersion(options);
    }
    if (words.empty()) {
        throw CUsageError("no application file given");
    }
    if (IsCommand(words[0]) && access(words[0].c_str(), F_OK) != 0) {
        // `zentrik-host run sensor.st`: the declarations the program runs beside are missing.
        std::string given;
        for (const std::string& word : words) {
            given += " " + word;
        }
        throw CUsageError(
            "the first argument is the application's declarations, then the commands: zentrik-host "
            "APP.st" +
            given);
    }
    options.applicationFile = words[0];
    CCommandLine line(std::vector<std::string>(words.begin() + 1, words.end()));
    std::vector<BoundCommand> commands;
    while (!line.done()) {
        const std::string word = line.take();
        const Command* command = FindCommand(word);
        if (command == nullptr) {
            throw CUsageError("unknown command " + word);
        }
        commands.push_back(command->parse(line));
    }
    if (commands.empty()) {
        commands.push_back([](CZentrikHost& host) { host.printAll(); });
    }
    options.programs = line.programs;
    CZentrikHost host(options);
    for (const BoundCommand& command : commands) {
        command(host);
    }
    return host.notWrittenAsGiven() ? kExitNotWrittenAsGiven : 0;
}

}  // namespace

// On an error the process ends at once (after flushing its streams): a loader thread
// that is still walking the symbols must not meet the static destructors of exit().
int main(int argc, char** argv) {
    int code = 0;
    try {
        return Run(argc, argv);
    } catch (const CUsageError& error) {
        // One line; the pointer to the usage unless the message names its own.
        const std::string message = error.what();
        std::fprintf(
            stderr, "zentrik-host: %s%s\n", message.c_str(),
            message.find("--help") == std::string::npos ? " (zentrik-host --help shows the usage)" : "");
        code = kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zentrik-host: %s\n", error.what());
        code = kExitRefused;
    }
    std::fflush(nullptr);
    std::_Exit(code);
}
