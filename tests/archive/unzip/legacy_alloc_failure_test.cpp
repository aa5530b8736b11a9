// The legacy decoders when their tables cannot be allocated: each large allocation of a decode is
// failed in turn, and the decoder must return without writing a byte, raising an error or
// reporting progress. This binary replaces the global operator new to inject the failures.
#include "archive/errors.h"
#include "archive/unzip/legacy_methods.h"
#include "tests/archive/unzip/legacy_encoders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <span>

namespace {

// Allocations of at least this size count: each decoder makes at least two (its tables and its
// window), and nothing else here is as large.
constexpr size_t kLarge = 1024;
long largeSeen = 0;
long failAt = -1; // ordinal among the large allocations to fail, or -1

void* Allocate(size_t n) {
    if (n >= kLarge && largeSeen++ == failAt) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(size_t n) {
    return Allocate(n);
}
void* operator new[](size_t n) {
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept {
    return operator new(n, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

namespace dvl {
namespace {

class WholeInput : public unzip::ByteSource {
public:
    explicit WholeInput(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    std::span<const uint8_t> Next() override {
        if (done_) return {};
        done_ = true;
        return bytes_;
    }

private:
    const std::vector<uint8_t>& bytes_;
    bool done_ = false;
};

class CountingOutput : public unzip::ByteSink {
public:
    bool Write(const uint8_t*, size_t n) override {
        written += n;
        return true;
    }
    size_t written = 0;
};

struct Outcome {
    size_t written = 0;
    std::string error;
    size_t reports = 0;
    long largeAllocations = 0;
};

// Decodes with the large allocation of ordinal `fail` failing (-1: none).
Outcome DecodeFailing(const std::function<void(const unzip::LegacyEntry&)>& decode,
                      const std::vector<uint8_t>& packed, uint64_t unpacked, uint16_t flags,
                      long fail) {
    Outcome o;
    WholeInput in(packed);
    CountingOutput out;
    unzip::ProgressMeter meter;
    meter.Start(10, [&](uint8_t) { ++o.reports; });
    unzip::LegacyEntry entry{in, out, &meter, packed.size(), unpacked, flags};
    largeSeen = 0;
    failAt = fail;
    try {
        decode(entry);
    } catch (const E_RAISE& e) {
        o.error = e.what();
    }
    failAt = -1;
    o.largeAllocations = largeSeen;
    o.written = out.written;
    return o;
}

TEST(LegacyAllocationFailure, DecoderWritesNothingAndRaisesNothing) {
    std::vector<uint8_t> data;
    for (uint32_t i = 0; data.size() < 100000; ++i)
        data.push_back(uint8_t(i % 251 < 120 ? 'a' + i % 7 : (i * 2654435761u) >> 24));
    const test::ImplodeOptions implode{.largeWindow = true, .literalTree = true};
    const struct {
        const char* what;
        std::function<void(const unzip::LegacyEntry&)> decode;
        std::vector<uint8_t> packed;
        uint16_t flags;
    } cases[] = {
        {"shrink", unzip::Unshrink, test::Shrink(data), 0},
        {"reduce", [](const unzip::LegacyEntry& e) { unzip::Unreduce(e, 3); },
         test::Reduce(data, 3), 0},
        {"implode", unzip::Explode, test::Implode(data, implode), test::ImplodeFlags(implode)},
    };
    for (auto& c : cases) {
        Outcome whole = DecodeFailing(c.decode, c.packed, data.size(), c.flags, -1);
        ASSERT_EQ(whole.written, data.size()) << c.what;
        ASSERT_GE(whole.largeAllocations, 2) << c.what;
        for (long fail = 0; fail < whole.largeAllocations; ++fail) {
            Outcome o = DecodeFailing(c.decode, c.packed, data.size(), c.flags, fail);
            EXPECT_EQ(o.written, 0u) << c.what << ", allocation " << fail;
            EXPECT_EQ(o.error, "") << c.what << ", allocation " << fail;
            EXPECT_EQ(o.reports, 0u) << c.what << ", allocation " << fail;
        }
    }
}

} // namespace
} // namespace dvl
