// RandomSource: the process-wide source of random numbers.
//
// Everything that needs randomness (UUIDs, back-off jitter, sampling rolls,
// random identifiers) asks RandomSource::current(). By default that is the
// system source (OpenSSL RAND_bytes, getrandom as a fall-back); tests install
// a DeterministicRandomSource, or their own subclass overriding any of the
// virtual helpers, with setCurrent().
//
// The derived helpers are built on bytes(): uint32() and int64() read 4 and 8
// bytes in native order; uniform(n) is unbiased (rejection sampling with the
// same semantics as arc4random_uniform: n < 2 gives 0).
//
// Thread safety: current()/setCurrent() are safe from any thread. The system
// source is safe to share; DeterministicRandomSource guards its state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace platform {

class RandomSource {
public:
    virtual ~RandomSource() = default;

    // Fills the buffer with random bytes. Must not fail: the system source
    // aborts the process if the kernel cannot supply entropy at all.
    virtual void fill(std::span<uint8_t> out) = 0;

    std::vector<uint8_t> bytes(size_t count);
    virtual uint32_t uint32();
    virtual int64_t int64();
    // Uniform in [0, upperBound) without modulo bias; 0 when upperBound < 2.
    virtual uint32_t uniform(uint32_t upperBound);
    virtual uint64_t uniform64(uint64_t upperBound);
    // One random bit.
    virtual bool parityBit();

    static std::shared_ptr<RandomSource> current();
    // nullptr restores the system source.
    static void setCurrent(std::shared_ptr<RandomSource> source);
    static std::shared_ptr<RandomSource> system();
};

// Cryptographically secure bytes from OpenSSL (getrandom as a fall-back).
class SystemRandomSource final : public RandomSource {
public:
    void fill(std::span<uint8_t> out) override;
};

// Reproducible stream (splitmix64) for tests. Not secure.
class DeterministicRandomSource final : public RandomSource {
public:
    explicit DeterministicRandomSource(uint64_t seed = 0);
    void fill(std::span<uint8_t> out) override;

private:
    std::mutex m_mutex;
    uint64_t m_state;
};

}  // namespace platform
