// Writer block against bare RapidJSON doing the same work, in the same run:
// - a key-value add (addkeynumber) and a key-then-value add (addkey + adddint), per call,
//   each iteration writing one 64-member document from a reset, as a control program
//   writes one message per cycle; the bare side builds the same document with AddMember
//   (for key-then-value: AddMember null, then FindMember, RemoveMember and AddMember with
//   the value, which is what filling a pending key takes);
// - GetDocumentLength + CopyDocument of a document of about 1 MB, which serialises it
//   twice, against two RapidJSON Writer passes over the same document (the second one's
//   text copied into the caller's buffer, as CopyDocument delivers it).
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "support/BenchRatio.h"

namespace {

constexpr int kMembers = 64;              // members of one document in the add benchmarks
constexpr size_t kOutputBytes = 1 << 20;  // size of the document the output benchmarks read

// IEC strings live in the caller's memory: fixed, terminated buffers.
struct IecName {
    char text[32];
};

std::vector<IecName> MakeNames(int count, const char* prefix) {
    std::vector<IecName> names(count);
    for (int i = 0; i < count; ++i) {
        std::snprintf(names[i].text, sizeof(names[i].text), "%s_%05d", prefix, i);
    }
    return names;
}

const std::vector<IecName>& AddNames() {
    static const std::vector<IecName> s_names = MakeNames(kMembers, "sensor");
    return s_names;
}

fb_jsonsaxwriter_struct s_addInstance;
fb_jsonsaxwriter_struct s_outputInstance;

void ResetComponentDocument(fb_jsonsaxwriter_struct* instance) {
    fb_jsonsaxwriter_resetdocument_struct reset{instance, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
}

std::unique_ptr<rapidjson::Document> NewBareDocument() {
    std::unique_ptr<rapidjson::Document> document(new rapidjson::Document());
    document->SetObject();
    return document;
}

rapidjson::Value CopiedName(const char* text, rapidjson::Document::AllocatorType& allocator) {
    return rapidjson::Value(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
}

// ---- adds --------------------------------------------------------------------------------

void ComponentKeyValue(benchmark::State& state) {
    std::vector<IecName> keys = AddNames();  // the caller's buffers
    for (auto _ : state) {
        ResetComponentDocument(&s_addInstance);
        for (int i = 0; i < kMembers; ++i) {
            fb_jsonsaxwriter_addkeynumber_struct p{&s_addInstance, keys[i].text, i};
            fb_jsonsaxwriter__addkeynumber(&p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

void BareKeyValue(benchmark::State& state) {
    std::vector<IecName> keys = AddNames();
    std::unique_ptr<rapidjson::Document> document;
    for (auto _ : state) {
        document = NewBareDocument();
        rapidjson::Document::AllocatorType& allocator = document->GetAllocator();
        for (int i = 0; i < kMembers; ++i) {
            document->AddMember(CopiedName(keys[i].text, allocator), rapidjson::Value(i), allocator);
        }
        benchmark::DoNotOptimize(document->MemberCount());
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

// The bare add plus what the component must do around it on every call: take the lock
// that guards the documents and find the instance's document in the map. Not a second
// baseline; it shows where the difference to the bare add comes from.
void BareKeyValueLockedLookup(benchmark::State& state) {
    std::vector<IecName> keys = AddNames();
    std::mutex lock;
    std::unordered_map<const void*, std::unique_ptr<rapidjson::Document>> documents;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(lock);
            documents[&s_addInstance] = NewBareDocument();
        }
        for (int i = 0; i < kMembers; ++i) {
            std::lock_guard<std::mutex> guard(lock);
            rapidjson::Document& document = *documents.find(&s_addInstance)->second;
            rapidjson::Document::AllocatorType& allocator = document.GetAllocator();
            document.AddMember(CopiedName(keys[i].text, allocator), rapidjson::Value(i), allocator);
        }
        benchmark::DoNotOptimize(documents.size());
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

void ComponentKeyThenValue(benchmark::State& state) {
    std::vector<IecName> keys = AddNames();
    for (auto _ : state) {
        ResetComponentDocument(&s_addInstance);
        for (int i = 0; i < kMembers; ++i) {
            fb_jsonsaxwriter_addkey_struct key{&s_addInstance, keys[i].text};
            fb_jsonsaxwriter__addkey(&key);
            fb_jsonsaxwriter_adddint_struct value{&s_addInstance, i};
            fb_jsonsaxwriter__adddint(&value);
        }
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

void BareKeyThenValue(benchmark::State& state) {
    std::vector<IecName> keys = AddNames();
    std::unique_ptr<rapidjson::Document> document;
    for (auto _ : state) {
        document = NewBareDocument();
        rapidjson::Document::AllocatorType& allocator = document->GetAllocator();
        for (int i = 0; i < kMembers; ++i) {
            const char* key = keys[i].text;
            document->AddMember(CopiedName(key, allocator), rapidjson::Value(), allocator);
            rapidjson::Value::MemberIterator member = document->FindMember(rapidjson::Value(
                rapidjson::StringRef(key, static_cast<rapidjson::SizeType>(std::strlen(key)))));
            document->RemoveMember(member);
            document->AddMember(CopiedName(key, allocator), rapidjson::Value(i), allocator);
        }
        benchmark::DoNotOptimize(document->MemberCount());
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

// ---- output ------------------------------------------------------------------------------

// The same members go into the component's document (through the external functions) and
// into a bare one: names, strings with characters that need escaping, integers, unsigned
// values and doubles, until the text reaches kOutputBytes.
struct OutputDocuments {
    rapidjson::Document bare;
    std::string text;  // the bare document's text, for the check
};

OutputDocuments& Documents() {
    static OutputDocuments* s_documents = [] {
        OutputDocuments* documents = new OutputDocuments();
        rapidjson::Document& bare = documents->bare;
        bare.SetObject();
        rapidjson::Document::AllocatorType& allocator = bare.GetAllocator();
        ResetComponentDocument(&s_outputInstance);
        for (int i = 0;; ++i) {
            if (i % 1024 == 0) {
                rapidjson::StringBuffer buffer;
                rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
                bare.Accept(writer);
                if (buffer.GetSize() >= kOutputBytes) {
                    documents->text.assign(buffer.GetString(), buffer.GetSize());
                    break;
                }
            }
            char key[32];
            std::snprintf(key, sizeof(key), "channel_%06d", i);
            switch (i % 4) {
                case 0: {
                    char text[48];
                    std::snprintf(text, sizeof(text), "state \"%d\"\tok", i);
                    fb_jsonsaxwriter_addkeystring_struct p{&s_outputInstance, key, text};
                    fb_jsonsaxwriter__addkeystring(&p);
                    bare.AddMember(CopiedName(key, allocator), CopiedName(text, allocator), allocator);
                    break;
                }
                case 1: {
                    fb_jsonsaxwriter_addkeynumber_struct p{&s_outputInstance, key, i * -7919};
                    fb_jsonsaxwriter__addkeynumber(&p);
                    bare.AddMember(CopiedName(key, allocator), rapidjson::Value(p.value), allocator);
                    break;
                }
                case 2: {
                    fb_jsonsaxwriter_addkeylreal_struct p{&s_outputInstance, key, i * 0.37 + 1e-3};
                    fb_jsonsaxwriter__addkeylreal(&p);
                    bare.AddMember(CopiedName(key, allocator), rapidjson::Value(p.value), allocator);
                    break;
                }
                default: {
                    fb_jsonsaxwriter_addkeydatetime_struct p{
                        &s_outputInstance, key, 1700000000u + static_cast<RTS_IEC_DATE_AND_TIME>(i)};
                    fb_jsonsaxwriter__addkeydatetime(&p);
                    bare.AddMember(CopiedName(key, allocator), rapidjson::Value(p.value), allocator);
                    break;
                }
            }
        }
        return documents;
    }();
    return *s_documents;
}

void ComponentOutput(benchmark::State& state) {
    const OutputDocuments& documents = Documents();
    std::vector<char> buffer(documents.text.size() + 1);
    for (auto _ : state) {
        fb_jsonsaxwriter_getdocumentlength_struct length{&s_outputInstance, 0, 0};
        fb_jsonsaxwriter__getdocumentlength(&length);
        fb_jsonsaxwriter_copydocument_struct copy{&s_outputInstance, buffer.data(),
                                                  length.GetDocumentLength + 1, 0, 0};
        fb_jsonsaxwriter__copydocument(&copy);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    // Both sides must have produced the same text, or the comparison means nothing.
    if (std::string(buffer.data(), documents.text.size()) != documents.text) {
        state.SkipWithError("the component's text differs from RapidJSON's");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(documents.text.size()));
    state.counters["text_bytes"] = static_cast<double>(documents.text.size());
}

void BareOutput(benchmark::State& state) {
    const OutputDocuments& documents = Documents();
    std::vector<char> buffer(documents.text.size() + 1);
    for (auto _ : state) {
        size_t length = 0;
        {
            rapidjson::StringBuffer text;
            rapidjson::Writer<rapidjson::StringBuffer> writer(text);
            documents.bare.Accept(writer);
            length = text.GetSize();
        }
        {
            rapidjson::StringBuffer text;
            rapidjson::Writer<rapidjson::StringBuffer> writer(text);
            documents.bare.Accept(writer);
            std::memcpy(buffer.data(), text.GetString(), std::min(length + 1, text.GetSize() + 1));
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    if (std::string(buffer.data(), documents.text.size()) != documents.text) {
        state.SkipWithError("RapidJSON's text differs from its first pass");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(documents.text.size()));
    state.counters["text_bytes"] = static_cast<double>(documents.text.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (!LoadComponentForBenchmarks()) {
        std::fprintf(stderr, "the component did not load into the simulated host\n");
        return 1;
    }
    benchmark::RegisterBenchmark("writer/key_value/zentrik", ComponentKeyValue);
    benchmark::RegisterBenchmark("writer/key_value/rapidjson", BareKeyValue);
    benchmark::RegisterBenchmark("writer/key_value/rapidjson_lock_lookup", BareKeyValueLockedLookup);
    benchmark::RegisterBenchmark("writer/key_then_value/zentrik", ComponentKeyThenValue);
    benchmark::RegisterBenchmark("writer/key_then_value/rapidjson", BareKeyThenValue);
    benchmark::RegisterBenchmark("writer/output_1MB/zentrik", ComponentOutput)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("writer/output_1MB/rapidjson", BareOutput)->Unit(benchmark::kMicrosecond);

    const std::vector<BenchPair> pairs = {
        {"key-value add (addkeynumber)", "writer/key_value/zentrik", "writer/key_value/rapidjson", kMembers,
         0},
        {"  same, against bare + lock + map lookup", "writer/key_value/zentrik",
         "writer/key_value/rapidjson_lock_lookup", kMembers, 0},
        {"key-then-value add (addkey + adddint)", "writer/key_then_value/zentrik",
         "writer/key_then_value/rapidjson", kMembers, 0},
        {"GetDocumentLength + CopyDocument, 1 MB", "writer/output_1MB/zentrik", "writer/output_1MB/rapidjson",
         1, 1.2},
    };
    const int status = RunBenchmarksWithRatios(argc, argv, pairs);
    // A refused call would have timed the log instead of the work.
    if (!CSimHost::instance().logRecords().empty()) {
        std::fprintf(stderr, "the component logged during the benchmarks: %s\n",
                     CSimHost::instance().logTexts().front().c_str());
        return 1;
    }
    return status;
}
