// Inflate and CRC-32 throughput: ours, zlib and libdeflate on the same data in one process.
//
// Data sets, each at least 20 MB, built at start-up: text (licences, package copyright notes and
// other plain text from /usr/share, then C headers from /usr/include, in sorted order), binary
// (ELF executables and libraries from /usr/bin and /usr/lib) and random bytes. Each is deflated
// once with zlib at level 6 (raw). Our decoder takes its input in 32 KB chunks, as the
// extraction driver hands it over, and its output pieces are discarded; zlib and libdeflate
// decode into one flat buffer. Throughput is counted in uncompressed bytes.
#include "archive/codecs/crc32.h"
#include "archive/codecs/inflate.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSetSize = 20u << 20;

std::vector<fs::path> SortedFiles(const fs::path& root, bool recursive) {
    std::vector<fs::path> files;
    std::error_code ec;
    auto add = [&](const fs::directory_entry& e) {
        if (e.is_regular_file(ec) && !e.is_symlink(ec)) files.push_back(e.path());
    };
    if (recursive) {
        for (auto it = fs::recursive_directory_iterator(
                 root, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            add(*it);
    } else {
        for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            add(*it);
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool LooksLikeText(const Bytes& b) {
    if (b.empty()) return false;
    size_t plain = 0;
    for (uint8_t c : b)
        plain += (c >= 32 && c < 127) || c == '\n' || c == '\t' || c == '\r';
    return plain * 100 >= b.size() * 97;
}

// Appends whole files that pass `keep` until `out` holds kSetSize bytes.
template <typename Keep> void Gather(Bytes& out, const std::vector<fs::path>& files, Keep keep) {
    for (const fs::path& p : files) {
        if (out.size() >= kSetSize) return;
        Bytes b = ReadAll(p);
        if (keep(p, b)) out.insert(out.end(), b.begin(), b.end());
    }
}

Bytes TextSet() {
    Bytes out;
    auto text = [](const fs::path& p, const Bytes& b) {
        return p.extension() != ".gz" && LooksLikeText(b);
    };
    Gather(out, SortedFiles("/usr/share/common-licenses", false), text);
    Gather(out, SortedFiles("/usr/share/dict", false), text);
    Gather(out, SortedFiles("/usr/share/doc", true), text);
    Gather(out, SortedFiles("/usr/include", true), text);
    // A machine without enough text repeats what it has.
    for (size_t have = out.size(); have && out.size() < kSetSize;)
        out.insert(out.end(), out.begin(),
                   out.begin() + long(std::min(have, kSetSize - out.size())));
    out.resize(std::min(out.size(), kSetSize));
    return out;
}

Bytes BinarySet() {
    Bytes out;
    auto elf = [](const fs::path&, const Bytes& b) {
        return b.size() > 4 && b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F';
    };
    Gather(out, SortedFiles("/usr/bin", false), elf);
    Gather(out, SortedFiles("/usr/lib/x86_64-linux-gnu", false), elf);
    out.resize(std::min(out.size(), kSetSize));
    return out;
}

Bytes RandomSet() {
    std::mt19937_64 rng(20240601);
    Bytes out(kSetSize);
    for (size_t i = 0; i < out.size(); i += 8) {
        uint64_t v = rng();
        std::memcpy(out.data() + i, &v, std::min<size_t>(8, out.size() - i));
    }
    return out;
}

Bytes DeflateRaw(const Bytes& in) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct DataSet {
    std::string name;
    Bytes plain, packed;
};

std::vector<DataSet>& Sets() {
    static std::vector<DataSet> sets;
    return sets;
}

class ChunkInput : public dvl::codecs::ByteSource {
public:
    explicit ChunkInput(const Bytes& data) : data_(data) {}
    std::span<const uint8_t> Next() override {
        size_t n = std::min<size_t>(32768, data_.size() - pos_);
        std::span<const uint8_t> chunk(data_.data() + pos_, n);
        pos_ += n;
        return chunk;
    }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

class Discard : public dvl::codecs::ByteSink {
public:
    bool Write(const uint8_t* data, size_t n) override {
        benchmark::DoNotOptimize(data);
        total += n;
        return true;
    }
    size_t total = 0;
};

void Ours(benchmark::State& state, const DataSet* set) {
    dvl::codecs::Inflater inflater;
    for (auto _ : state) {
        ChunkInput in(set->packed);
        Discard out;
        dvl::codecs::InflateResult r = inflater.Inflate(in, out);
        if (r.error || out.total != set->plain.size()) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * set->plain.size()));
}

void Zlib(benchmark::State& state, const DataSet* set) {
    Bytes out(set->plain.size());
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = const_cast<Bytef*>(set->packed.data());
        z.avail_in = uInt(set->packed.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int rc = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (rc != Z_STREAM_END) state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * set->plain.size()));
}

void Libdeflate(benchmark::State& state, const DataSet* set) {
    Bytes out(set->plain.size());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        size_t got = 0;
        if (libdeflate_deflate_decompress(d, set->packed.data(), set->packed.size(), out.data(),
                                          out.size(), &got) != LIBDEFLATE_SUCCESS)
            state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(int64_t(state.iterations() * set->plain.size()));
}

const Bytes& CrcData() {
    static const Bytes data = [] {
        Bytes b(1u << 20);
        std::mt19937 rng(5);
        for (auto& x : b)
            x = uint8_t(rng());
        return b;
    }();
    return data;
}

template <typename F> void Crc(benchmark::State& state, F f) {
    const Bytes& data = CrcData();
    uint32_t crc = 0;
    for (auto _ : state) {
        crc = f(crc, data.data(), data.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
}

// Keeps the best bytes/second of each benchmark for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end() && !r.error_occurred)
                best[r.benchmark_name()] = std::max(best[r.benchmark_name()], double(it->second));
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> best;
};

} // namespace

int main(int argc, char** argv) {
    using Maker = Bytes (*)();
    const std::pair<const char*, Maker> makers[] = {
        {"text", TextSet}, {"binary", BinarySet}, {"random", RandomSet}};
    for (auto [name, make] : makers) {
        DataSet set{name, make(), {}};
        set.packed = DeflateRaw(set.plain);
        std::printf("%-7s %6.1f MB, deflated to %6.1f MB\n", name, set.plain.size() / 1e6,
                    set.packed.size() / 1e6);
        Sets().push_back(std::move(set));
    }
    for (const DataSet& set : Sets()) {
        benchmark::RegisterBenchmark(("inflate/" + set.name + "/ours").c_str(), Ours, &set)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("inflate/" + set.name + "/zlib").c_str(), Zlib, &set)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("inflate/" + set.name + "/libdeflate").c_str(), Libdeflate,
                                     &set)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("crc32/ours",
                                 [](benchmark::State& s) { Crc(s, dvl::codecs::CrcUpdate); });
    benchmark::RegisterBenchmark("crc32/ours-table", [](benchmark::State& s) {
        Crc(s, dvl::codecs::crc_internal::UpdateSliced);
    });
    benchmark::RegisterBenchmark("crc32/zlib", [](benchmark::State& s) {
        Crc(s,
            [](uint32_t c, const uint8_t* p, size_t n) { return uint32_t(crc32(c, p, uInt(n))); });
    });
    benchmark::RegisterBenchmark("crc32/libdeflate", [](benchmark::State& s) {
        Crc(s, [](uint32_t c, const uint8_t* p, size_t n) { return libdeflate_crc32(c, p, n); });
    });

    benchmark::Initialize(&argc, argv);
    // Colour only on a terminal, so that redirected output stays plain text.
    RatioReporter reporter(isatty(1) ? benchmark::ConsoleReporter::OO_Defaults
                                     : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto best = [&](const std::string& name) {
        auto it = reporter.best.find(name);
        return it == reporter.best.end() ? 0.0 : it->second;
    };
    std::printf("\n%-8s %10s %10s %12s %10s %14s\n", "inflate", "ours MB/s", "zlib MB/s",
                "libdeflate", "ours/zlib", "ours/libdeflate");
    for (const DataSet& set : Sets()) {
        const double o = best("inflate/" + set.name + "/ours"),
                     z = best("inflate/" + set.name + "/zlib"),
                     l = best("inflate/" + set.name + "/libdeflate");
        if (o == 0) continue;
        std::printf("%-8s %10.0f %10.0f %12.0f %10.2f %14.2f\n", set.name.c_str(), o / 1e6, z / 1e6,
                    l / 1e6, z ? o / z : 0, l ? o / l : 0);
    }
    const double co = best("crc32/ours"), ct = best("crc32/ours-table"), cz = best("crc32/zlib"),
                 cl = best("crc32/libdeflate");
    if (co > 0)
        std::printf("\ncrc32 GB/s: ours %.2f (table path %.2f), zlib %.2f, libdeflate %.2f; "
                    "ours/zlib %.2f, ours/libdeflate %.2f\n",
                    co / 1e9, ct / 1e9, cz / 1e9, cl / 1e9, cz ? co / cz : 0, cl ? co / cl : 0);
    return 0;
}
