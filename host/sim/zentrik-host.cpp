// zentrik-host: the command-line front of the simulated controller. It loads
// libzentrik.so the way a controller runtime does (dlopen, ComponentEntry, import,
// export, event subscription), starts an IEC application declared in a text file,
// lets the component load the application's symbols, and then runs commands that call
// the component's external functions by their registered names.
//
// JSON goes to stdout, the host log to stderr (or to --log FILE, or nowhere with
// --quiet). Exit codes: 0 success, 1 bad input or a refusal, 2 a usage error.
//
// Commands are rows of one table (kCommands): a new command is a function that takes
// its operands from the argument list and a row that names it and says what it does.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CmpItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimDeclParser.h"
#include "SimEventManager.h"
#include "SimHost.h"

namespace {

// Bad input or a refusal: exit code 1.
class CHostError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// A command line the host cannot follow: exit code 2.
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

// The shortest decimal form of a double that reads back as the same double, with a
// point or an exponent as the writer block writes numbers (10.0, 0.1, 1e+21).
std::string ShortestNumber(double value) {
    char text[64];
    const std::to_chars_result end = std::to_chars(text, text + sizeof(text), value);
    std::string out(text, end.ptr);
    if (out.find_first_not_of("-0123456789") == std::string::npos) {
        out += ".0";
    }
    return out;
}

// The name of a kind GetKind gives.
const char* KindName(int kind) {
    static const char* const kNames[] = {"nothing", "null",   "boolean", "integer",
                                         "real",    "string", "array",   "object"};
    return kind >= 0 && kind < 8 ? kNames[kind] : "unknown kind";
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

struct Options {
    std::string library;
    std::string applicationFile;
    FILE* logEcho = stderr;
    double timeoutSeconds = 60;
    bool allowEmpty = false;
};

typedef void (*ExternalFunction)(void*);

// Calls the component's external functions by the names it registered.
class CComponentCalls {
   public:
    explicit CComponentCalls(const CMP_EXT_FUNCTION_REF* table) : table_(table) {}

    void call(const char* name, void* record) {
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

    // Every named variable as one member of one document, printed on one line.
    void print(const std::vector<std::string>& names) {
        fb_jsonsaxwriter_resetdocument_struct reset{&writer_, 0};
        calls_->call("fb_jsonsaxwriter__resetdocument", &reset);
        for (const std::string& name : names) {
            std::string key = name;
            fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct add{};
            add.pInstance = &datatype_;
            add.fbWriter = &writer_;
            add.sKey = &key[0];
            add.pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
            size_t logBefore = logSize();
            calls_->call("fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol", &add);
            if (!add.AddJsonKeyValueFromSymbol) {
                throw CHostError("the component refused to read " + name + refusal(logBefore));
            }
        }
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
        std::printf("%s\n", text.data());
        std::fflush(stdout);
    }

    void write(const std::string& name, std::string json) {
        checkSize(json, "the JSON text for " + name);
        fb_jsonreadwritedatatype_setsymbolfromjson_struct set{};
        set.pInstance = &datatype_;
        set.pJson = &json[0];
        set.nSize = static_cast<RTS_IEC_UDINT>(json.size());
        set.pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
        size_t logBefore = logSize();
        calls_->call("fb_jsonreadwritedatatype__setsymbolfromjson", &set);
        if (!set.SetSymbolFromJson) {
            throw CHostError("the component refused to write " + name + refusal(logBefore));
        }
    }

    // As write, through the report method; the report goes to stdout as one JSON object
    // before a refusal ends the command.
    void writeWithReport(const std::string& name, std::string json) {
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
        std::printf(
            "{\"result\":%s,\"nWritten\":%u,\"nSkipped\":%u,\"nUnknown\":%u,\"nErrorOffset\":%u,"
            "\"sProblem\":%s}\n",
            set->SetSymbolFromJsonReport ? "true" : "false", set->nWritten, set->nSkipped, set->nUnknown,
            set->nErrorOffset, JsonString(problem).c_str());
        std::fflush(stdout);
        if (!set->SetSymbolFromJsonReport) {
            throw CHostError("the component refused to write " + name + refusal(logBefore));
        }
    }

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
            case 1:
                return "null";
            case 2: {
                fb_jsonreader_getbool_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getbool", &call);
                if (call.GetBool) {
                    return call.bValue ? "true" : "false";
                }
                break;
            }
            case 3: {
                fb_jsonreader_getlint_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getlint", &call);
                if (call.GetLint) {
                    return std::to_string(call.liValue);
                }
                return raw(path);  // an unsigned integer beyond LINT: its exact digits
            }
            case 4: {
                fb_jsonreader_getlreal_struct call{&reader_, &where[0], 0, 0};
                calls_->call("fb_jsonreader__getlreal", &call);
                if (call.GetLreal) {
                    return ShortestNumber(call.lrValue);
                }
                break;
            }
            case 5: {
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
                                 "; raw prints it, size counts its " + (found == 6 ? "elements" : "members"));
        }
        throw CHostError("the component could not read the " + std::string(KindName(found)) + " at '" + path +
                         "'");
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
        CSimEventManager::instance().post(id);
        if (count(IsLoadBegin) > begins) {
            waitForLoad(ends, failures);
        }
    }

    // The full name of a variable given by its full name or by a top-level variable's own name.
    std::string resolve(const std::string& name) {
        std::vector<std::string> matches;
        for (const std::string& variable : app().topLevelVariables()) {
            std::string own = variable.substr(variable.rfind('.') + 1);
            if (variable == name || own == name) {
                matches.push_back(variable);
            }
        }
        if (matches.size() == 1) {
            return matches[0];
        }
        if (matches.size() > 1) {
            throw CHostError("variable name " + name + " is ambiguous; give its full name");
        }
        try {
            app().address(name);  // a member or element given by its full name
            return name;
        } catch (const std::out_of_range&) {
            throw CHostError("unknown variable " + name + " in " + options_.applicationFile);
        }
    }

    std::vector<std::string> topLevelVariables() { return app().topLevelVariables(); }

   private:
    static CSimApplication& app() { return CSimApplication::instance(); }

    void startApplication() {
        std::string text = ReadFile(options_.applicationFile);
        try {
            app().start(text);
        } catch (const CSimDeclError& error) {
            throw CHostError(options_.applicationFile + ": " + error.what());
        }
        if (app().topLevelVariables().empty() && !options_.allowEmpty) {
            throw CHostError(options_.applicationFile +
                             " declares no variables (--allow-empty runs an application without any)");
        }
    }

    void loadComponent() {
        void* handle = dlopen(options_.library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw CHostError("cannot load the component: " + std::string(dlerror()));
        }
        auto entry = reinterpret_cast<int (*)(INIT_STRUCT*)>(dlsym(handle, "ComponentEntry"));
        if (entry == nullptr) {
            throw CHostError(options_.library + " has no ComponentEntry");
        }
        CSimHost& host = CSimHost::instance();
        size_t tablesBefore = host.registeredTables().size();
        if (host.loadComponent(entry) != 0 || host.importFunctions() != 0 || host.exportFunctions() != 0) {
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
        if (found != 0) {
            return found;
        }
        if (kind("") == 0) {
            throw CHostError("no text is parsed (parse one first; a reset of the application drops it)");
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

    // Waits for the end line of the load just started; gives up at once when the loader
    // thread could not be created (no permission for real-time scheduling, for instance).
    void waitForLoad(size_t endsBefore, size_t failuresBefore) {
        CSimHost& host = CSimHost::instance();
        const auto started = std::chrono::steady_clock::now();
        const auto limit = std::chrono::duration<double>(options_.timeoutSeconds);
        while (!host.waitForLog("LoadSymbols end", endsBefore + 1, std::chrono::milliseconds(5))) {
            if (count(IsThreadFailure) > failuresBefore) {
                throw CHostError("the component could not start its loader thread (see the host log)");
            }
            if (std::chrono::steady_clock::now() - started > limit) {
                char seconds[32];
                std::snprintf(seconds, sizeof(seconds), "%g", options_.timeoutSeconds);
                throw CHostError(std::string("the symbol load did not finish within ") + seconds +
                                 " s (--timeout SECONDS sets the limit)");
            }
        }
    }

    Options options_;
    std::unique_ptr<CComponentCalls> calls_;
    fb_jsonsaxwriter_struct writer_{};
    fb_jsonreadwritedatatype_struct datatype_{};
    fb_jsonreader_struct reader_{};
};

// The commands still to run, and the operands each one takes from them.
class CArguments {
   public:
    CArguments(std::vector<std::string> args, size_t next) : args_(std::move(args)), next_(next) {}

    bool done() const { return next_ >= args_.size(); }
    std::string take() { return args_[next_++]; }
    const std::string& peek() const { return args_[next_]; }

    std::string operand(const std::string& command, const char* what) {
        if (done()) {
            throw CUsageError(command + " needs " + what);
        }
        return take();
    }

    // A JSON text given in place, as @FILE or as - (standard input, read once).
    std::string text(const std::string& command, const char* what) {
        std::string given = operand(command, what);
        if (given == "-") {
            if (stdinRead_) {
                throw CUsageError("standard input can be read only once");
            }
            stdinRead_ = true;
            return ReadStandardInput();
        }
        if (!given.empty() && given[0] == '@') {
            return ReadFile(given.substr(1));
        }
        return given;
    }

   private:
    std::vector<std::string> args_;
    size_t next_;
    bool stdinRead_ = false;
};

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

bool IsCommand(const std::string& word);

void PrintCommand(CZentrikHost& host, CArguments& args) {
    if (!args.done() && !IsCommand(args.peek())) {
        host.print({host.resolve(args.take())});
    } else {
        host.print(host.topLevelVariables());
    }
}

void WriteCommand(CZentrikHost& host, CArguments& args) {
    const bool report = !args.done() && args.peek() == "--report";
    if (report) {
        args.take();
    }
    std::string name = host.resolve(args.operand("write", "a variable name"));
    std::string json = args.text("write", "a JSON text, @FILE or -");
    if (report) {
        host.writeWithReport(name, std::move(json));
    } else {
        host.write(name, std::move(json));
    }
}

void ParseCommand(CZentrikHost& host, CArguments& args) {
    host.parse(args.text("parse", "a JSON text, @FILE or -"));
}

void GetCommand(CZentrikHost& host, CArguments& args) {
    std::printf("%s\n", host.get(args.operand("get", "a path")).c_str());
    std::fflush(stdout);
}

void KindCommand(CZentrikHost& host, CArguments& args) {
    std::printf("%s\n", KindName(host.kind(args.operand("kind", "a path"))));
    std::fflush(stdout);
}

void SizeCommand(CZentrikHost& host, CArguments& args) {
    std::printf("%d\n", host.size(args.operand("size", "a path")));
    std::fflush(stdout);
}

void RawCommand(CZentrikHost& host, CArguments& args) {
    std::printf("%s\n", host.raw(args.operand("raw", "a path")).c_str());
    std::fflush(stdout);
}

void ReloadCommand(CZentrikHost& host, CArguments&) { host.reload(); }

void EventCommand(CZentrikHost& host, CArguments& args) {
    host.postEvent(ParseEvent(args.operand("event", "an event name or number")));
}

// A command: its word, what runs it, how many operands it takes (the last of them
// optional when optionalLast is set) and its line in --help.
struct Command {
    const char* name;
    void (*run)(CZentrikHost&, CArguments&);
    size_t operands;
    bool optionalLast;
    const char* synopsis;
    const char* help;
};
const Command kCommands[] = {
    {"print", PrintCommand, 1, true, "print [NAME]",
     "every top-level variable (or the variable NAME) as one JSON document, keyed by full names"},
    {"write", WriteCommand, 2, false, "write [--report] NAME JSON|@FILE|-",
     "write a JSON text (given in place, read from FILE or from standard input) into NAME;\n"
     "the root object holds a member named as the variable: '{\"axis\":{\"pos\":2.5}}';\n"
     "--report prints what was written, skipped and unknown, and the first problem"},
    {"parse", ParseCommand, 1, false, "parse JSON|@FILE|-",
     "parse a JSON text of any shape into the reader; get, kind, size and raw read it"},
    {"get", GetCommand, 1, false, "get PATH",
     "the value at the JSON Pointer PATH ('' is the root, /a/0/b): a string unquoted,\n"
     "a number, true, false or null"},
    {"kind", KindCommand, 1, false, "kind PATH",
     "nothing, null, boolean, integer, real, string, array or object"},
    {"size", SizeCommand, 1, false, "size PATH", "elements of an array, members of an object, else -1"},
    {"raw", RawCommand, 1, false, "raw PATH", "the value at PATH as compact JSON"},
    {"reload", ReloadCommand, 0, false, "reload",
     "post prepare-reset and reset-done, and wait for the new load"},
    {"event", EventCommand, 1, false, "event NAME|ID",
     "post a host event (below); an event that starts a load waits for it"},
};

const Command* FindCommand(const std::string& word) {
    for (const Command& command : kCommands) {
        if (word == command.name) {
            return &command;
        }
    }
    return nullptr;
}

bool IsCommand(const std::string& word) { return FindCommand(word) != nullptr; }

// Checks the command words, the operand counts and the event names before anything is
// loaded, so that a usage error never leaves half of the commands run.
void CheckCommands(const std::vector<std::string>& args, size_t next) {
    int stdinOperands = 0;
    while (next < args.size()) {
        const Command* command = FindCommand(args[next]);
        if (command == nullptr) {
            throw CUsageError("unknown command " + args[next]);
        }
        ++next;
        if (command->run == WriteCommand && next < args.size() && args[next] == "--report") {
            ++next;
        }
        size_t required = command->operands - (command->optionalLast ? 1 : 0);
        for (size_t i = 0; i < command->operands; ++i) {
            if (next >= args.size() || (i >= required && IsCommand(args[next]))) {
                if (i < required) {
                    throw CUsageError(std::string(command->name) + ": missing operand (" + command->synopsis +
                                      ")");
                }
                break;
            }
            if (command->run == EventCommand) {
                ParseEvent(args[next]);
            }
            if (args[next] == "-" && stdinOperands++ > 0) {
                throw CUsageError("standard input can be read only once");
            }
            ++next;
        }
    }
}

std::string Usage() {
    std::string text =
        "usage: zentrik-host [OPTION...] APP.st [COMMAND...]\n"
        "\n"
        "Loads libzentrik.so into a simulated controller, starts the IEC application\n"
        "declared in APP.st, lets the component load its symbols and runs the commands\n"
        "in order (default: print). JSON goes to stdout, the host log to stderr.\n"
        "\n"
        "options:\n"
        "  --lib PATH        the component to load (default: the installed or built libzentrik.so)\n"
        "  --quiet           no host log\n"
        "  --log FILE        the host log into FILE instead of stderr\n"
        "  --timeout SECS    time limit of every symbol load (default 60)\n"
        "  --allow-empty     run an application that declares no variables\n"
        "  -h, --help        this text\n"
        "\n"
        "commands:\n";
    for (const Command& command : kCommands) {
        std::string help = command.help;
        for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
            help.insert(at + 1, 28, ' ');
        }
        char line[512];
        if (std::strlen(command.synopsis) > 25) {  // the help text on a line of its own
            std::snprintf(line, sizeof(line), "  %s\n%28s%s\n", command.synopsis, "", help.c_str());
        } else {
            std::snprintf(line, sizeof(line), "  %-25s %s\n", command.synopsis, help.c_str());
        }
        text += line;
    }
    text +=
        "\n"
        "NAME is a full name (App.Globals.counter) or a top-level variable's own name (counter).\n"
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
        "exit codes: 0 success, 1 bad input or a refusal, 2 a usage error\n";
    return text;
}

Options ParseOptions(const std::vector<std::string>& args, size_t& next) {
    Options options;
    options.library = DefaultLibrary();
    auto value = [&](const std::string& option) {
        if (next + 1 >= args.size()) {
            throw CUsageError(option + " needs a value");
        }
        next += 2;
        return args[next - 1];
    };
    while (next < args.size() && args[next].size() > 1 && args[next][0] == '-') {
        const std::string option = args[next];
        if (option == "--lib") {
            options.library = value(option);
        } else if (option == "--quiet") {
            options.logEcho = nullptr;
            ++next;
        } else if (option == "--log") {
            std::string path = value(option);
            options.logEcho = std::fopen(path.c_str(), "w");
            if (options.logEcho == nullptr) {
                throw CHostError("cannot write the log to " + path + ": " + ErrorText(errno));
            }
        } else if (option == "--timeout") {
            std::string seconds = value(option);
            char* end = nullptr;
            options.timeoutSeconds = std::strtod(seconds.c_str(), &end);
            if (seconds.empty() || *end != '\0' || !(options.timeoutSeconds > 0) ||
                !std::isfinite(options.timeoutSeconds)) {
                throw CUsageError("--timeout needs a positive number of seconds, not " + seconds);
            }
        } else if (option == "--allow-empty") {
            options.allowEmpty = true;
            ++next;
        } else {
            throw CUsageError("unknown option " + option);
        }
    }
    if (next >= args.size()) {
        throw CUsageError("no application file given");
    }
    options.applicationFile = args[next++];
    return options;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage().c_str(), stdout);
            return 0;
        }
    }
    size_t next = 0;
    Options options = ParseOptions(args, next);
    CheckCommands(args, next);
    CZentrikHost host(options);
    if (next == args.size()) {
        args.push_back("print");
    }
    CArguments commands(args, next);
    while (!commands.done()) {
        const std::string word = commands.take();
        const Command* command = FindCommand(word);
        if (command == nullptr) {
            throw CUsageError("unknown command " + word);
        }
        command->run(host, commands);
    }
    return 0;
}

}  // namespace

// On an error the process ends at once (after flushing its streams): a loader thread
// that is still walking the symbols must not meet the static destructors of exit().
int main(int argc, char** argv) {
    int code = 0;
    try {
        return Run(argc, argv);
    } catch (const CUsageError& error) {
        std::fprintf(stderr, "zentrik-host: %s\n(zentrik-host --help shows the usage)\n", error.what());
        code = 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zentrik-host: %s\n", error.what());
        code = 1;
    }
    std::fflush(nullptr);
    std::_Exit(code);
}
