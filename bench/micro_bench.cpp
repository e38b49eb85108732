// `ondival_micro_bench`: the pieces every line of a federation export goes
// through, timed one by one, so that a change in the import's speed can be
// traced to the piece that caused it. The lines are taken from a generated
// export, as the import would read them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/dos_letters.h"
#include "common/keyed_list.h"
#include "common/numeric.h"
#include "licences/licence_record.h"
#include "perfs/perf_insert.h"
#include "perfs/perf_record.h"
#include "samples/sample_export.h"

namespace fs = std::filesystem;

namespace {

// One line of each file of a small seeded export, without its CRLF and not
// yet through accents_dos.
struct SampleLines {
    std::string liffn;    // an individual performance
    std::string licence;  // a swimmer's licence
};

std::string first_line(const fs::path& file, std::size_t width) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() == width) return line;
    }
    std::fprintf(stderr, "ondival_micro_bench: no %zu-character line in %s\n", width, file.c_str());
    std::abort();
}

const SampleLines& sample_lines() {
    static const SampleLines lines = [] {
        std::string dir = (fs::temp_directory_path() / "ondival-micro-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        ondival::samples::SampleExportOptions options;
        options.clubs = 2;
        options.licences = 20;
        options.performances = 20;
        options.relays = 0;
        options.unknown = 0;
        if (!ondival::samples::generate_sample_export(dir, options).empty()) std::abort();
        SampleLines l{first_line(fs::path(dir) / "liffn.txt", 202), first_line(fs::path(dir) / "licence.txt", 248)};
        std::error_code ec;
        fs::remove_all(dir, ec);
        return l;
    }();
    return lines;
}

struct Maps {
    ondival::TextList accents, majuscules;
    ondival::WidthList liffn, licence;
    Maps() {
        ondival::charge_accents(accents, majuscules);
        ondival::charge_largeurs_liffn(liffn);
        ondival::charge_largeurs_licence(licence);
    }
};

const Maps& maps() {
    static const Maps m;
    return m;
}

void BM_AccentsDosInPlace(benchmark::State& state) {
    const std::string& source = sample_lines().liffn;
    std::string line;
    line.reserve(source.size());
    for (auto _ : state) {
        line.assign(source);
        ondival::accents_dos_in_place(line);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_AccentsDosInPlace);

void BM_DecoupeLiffn(benchmark::State& state) {
    const std::string line = ondival::accents_dos(sample_lines().liffn);
    const Maps& m = maps();
    ondival::PerfRecord record;
    std::string message;
    for (auto _ : state) {
        const bool ok = ondival::decoupe_liffn(line, m.liffn, m.accents, m.majuscules, record, message);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(record.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecoupeLiffn);

void BM_DecoupeLicence(benchmark::State& state) {
    const std::string line = ondival::accents_dos(sample_lines().licence);
    const Maps& m = maps();
    ondival::LicenceRecord record;
    for (auto _ : state) {
        ondival::decoupe_licence(line, m.licence, m.accents, m.majuscules, record);
        benchmark::DoNotOptimize(record.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecoupeLicence);

// Keys shaped like the swimmer cache's: a club code and a licence number.
std::vector<std::string> swimmer_keys(std::size_t n, const char* club_prefix) {
    std::vector<std::string> keys;
    keys.reserve(n);
    char key[40];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(key, sizeof key, "%s%07zu%06zu", club_prefix, (i * 7919) % 1000003, i);
        keys.emplace_back(key);
    }
    return keys;
}

constexpr std::size_t kKeys = 100000;

void BM_KeyedListAdd(benchmark::State& state) {
    const std::vector<std::string> keys = swimmer_keys(kKeys, "FRA51");
    for (auto _ : state) {
        ondival::TextList list;
        for (const std::string& k : keys) list.Add(k, k);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kKeys));
}
BENCHMARK(BM_KeyedListAdd)->Unit(benchmark::kMillisecond);

void BM_KeyedListFind(benchmark::State& state) {
    const bool hits = state.range(0) != 0;
    const std::vector<std::string> keys = swimmer_keys(kKeys, "FRA51");
    // Hits are looked up in small letters, as a file may write the club
    // code, so the folding is paid as in the import; misses name a club
    // that is not in the list.
    const std::vector<std::string> probes = hits ? swimmer_keys(kKeys, "fra51") : swimmer_keys(kKeys, "FRA52");
    ondival::TextList list;
    for (const std::string& k : keys) list.Add(k, k);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.Find(probes[i]));
        if (++i == probes.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeyedListFind)->ArgName("hit")->Arg(1)->Arg(0);

ondival::PerfRecord sample_record() {
    const std::string line = ondival::accents_dos(sample_lines().liffn);
    const Maps& m = maps();
    ondival::PerfRecord record;
    std::string message;
    if (!ondival::decoupe_liffn(line, m.liffn, m.accents, m.majuscules, record, message)) std::abort();
    record[8] = "L'Isle-Adam";  // a place with a quote, as many have
    return record;
}

// An individual performance's INSERT as the performance import builds it
// (its shape and thirteen values), and the same statement written out with
// its values inline, as a message would show it.
void BM_BuildPerfInsert(benchmark::State& state) {
    const ondival::PerfRecord record = sample_record();
    for (auto _ : state) {
        ondival::platform::Sql sql = ondival::insertion_perf_individuelle(record, "12345", "17");
        benchmark::DoNotOptimize(sql.values().data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildPerfInsert);

void BM_PerfInsertInlineText(benchmark::State& state) {
    const ondival::platform::Sql sql = ondival::insertion_perf_individuelle(sample_record(), "12345", "17");
    for (auto _ : state) {
        std::string text = sql.inline_text();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PerfInsertInlineText);


}  // namespace
