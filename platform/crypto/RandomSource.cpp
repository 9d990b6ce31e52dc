#include "platform/crypto/RandomSource.h"

#include <openssl/rand.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace platform {

namespace {

// Process-wide objects here are never destroyed: work still running while the
// process exits (queued blocks, destructors of other statics) may use them.

std::mutex& currentMutex() {
    static auto* const mutex = new std::mutex();
    return *mutex;
}

std::shared_ptr<RandomSource>& currentSlot() {
    static auto* const slot = new std::shared_ptr<RandomSource>();
    return *slot;
}

void fillFromKernel(std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        ssize_t got = ::getrandom(out.data() + done, out.size() - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "RandomSource: no entropy available (%s)\n", std::strerror(errno));
            std::abort();
        }
        done += static_cast<size_t>(got);
    }
}

}  // namespace

std::vector<uint8_t> RandomSource::bytes(size_t count) {
    std::vector<uint8_t> out(count);
    fill(out);
    return out;
}

uint32_t RandomSource::uint32() {
    uint32_t value = 0;
    fill(std::span<uint8_t>(reinterpret_cast<uint8_t*>(&value), sizeof value));
    return value;
}

int64_t RandomSource::int64() {
    uint64_t value = 0;
    fill(std::span<uint8_t>(reinterpret_cast<uint8_t*>(&value), sizeof value));
    return static_cast<int64_t>(value);
}

namespace {
constexpr int kMaxUniformDraws = 64;
}  // namespace

uint32_t RandomSource::uniform(uint32_t upperBound) {
    if (upperBound < 2) return 0;
    // Values below 2^32 mod upperBound would make the low results more likely.
    const uint32_t minimum = static_cast<uint32_t>(-upperBound) % upperBound;
    uint32_t r = 0;
    // A working source is rejected with probability below 1/2 per draw; a broken
    // or scripted one (all zeros) must not spin forever.
    for (int draw = 0; draw < kMaxUniformDraws; ++draw) {
        r = uint32();
        if (r >= minimum) break;
    }
    return r % upperBound;
}

uint64_t RandomSource::uniform64(uint64_t upperBound) {
    if (upperBound < 2) return 0;
    const uint64_t minimum = static_cast<uint64_t>(-upperBound) % upperBound;
    uint64_t r = 0;
    for (int draw = 0; draw < kMaxUniformDraws; ++draw) {
        r = static_cast<uint64_t>(int64());
        if (r >= minimum) break;
    }
    return r % upperBound;
}

bool RandomSource::parityBit() {
    return (uint32() & 1u) != 0;
}

std::shared_ptr<RandomSource> RandomSource::system() {
    static const auto* const source = new std::shared_ptr<RandomSource>(std::make_shared<SystemRandomSource>());
    return *source;
}

std::shared_ptr<RandomSource> RandomSource::current() {
    std::lock_guard lock(currentMutex());
    auto& slot = currentSlot();
    return slot ? slot : system();
}

void RandomSource::setCurrent(std::shared_ptr<RandomSource> source) {
    std::lock_guard lock(currentMutex());
    currentSlot() = std::move(source);
}

void SystemRandomSource::fill(std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        const size_t chunk = std::min<size_t>(out.size() - done, std::numeric_limits<int>::max());
        if (RAND_bytes(out.data() + done, static_cast<int>(chunk)) != 1) {
            fillFromKernel(out.subspan(done));
            return;
        }
        done += chunk;
    }
}

DeterministicRandomSource::DeterministicRandomSource(uint64_t seed) : m_state(seed) {}

void DeterministicRandomSource::fill(std::span<uint8_t> out) {
    std::lock_guard lock(m_mutex);
    size_t i = 0;
    while (i < out.size()) {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int b = 0; b < 8 && i < out.size(); ++b, ++i) out[i] = static_cast<uint8_t>(z >> (8 * b));
    }
}

}  // namespace platform
